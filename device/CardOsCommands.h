#pragma once
// Commands of the key's card OS and the selection of its applets: what the transports and the
// reader panel send without knowing the OATH applet's own commands. Each builder returns one
// complete command APDU (header, Lc, data, Le as applicable) as a new buffer.
#include <cstdint>
#include <vector>

namespace card_os {

// The OATH applet's AID is the build's RID followed by this proprietary application identifier.
inline constexpr std::uint8_t kOathPix[] = {0x83, 0x26, 0x01, 0x01};
inline constexpr std::uint8_t kFidoAid[] = {0xA0, 0x00, 0x00, 0x06, 0x47, 0x2F, 0x00, 0x01};

// Class and instruction bytes shared by the applets and the card OS.
inline constexpr std::uint8_t kClaIso = 0x00;
inline constexpr std::uint8_t kClaProprietary = 0x80;
inline constexpr std::uint8_t kInsSelect = 0xA4;
inline constexpr std::uint8_t kInsSetInterfaceMode = 0xE1;
inline constexpr std::uint8_t kInsCosCommand = 0xE3;

// Interface bits of the interface-mode command.
inline constexpr std::uint8_t kInterfaceOtp = 0x10;
inline constexpr std::uint8_t kInterfaceU2f = 0x20;
inline constexpr std::uint8_t kInterfaceCcid = 0x40;
inline constexpr std::uint8_t kInterfaceAll = kInterfaceOtp | kInterfaceU2f | kInterfaceCcid;

}  // namespace card_os

// 00 A4 04 00 09, the build's RID, 83 26 01 01.
std::vector<std::uint8_t> BuildSelectOath();
// 00 A4 04 00 08 A0 00 00 06 47 2F 00 01.
std::vector<std::uint8_t> BuildSelectFido();
// 80 E3 00 00 03.
std::vector<std::uint8_t> BuildGetCosVersion();
// 80 E3 01 00.
std::vector<std::uint8_t> BuildE3P1Command();
// 80 E1 FF 00 01 mode: the interfaces the key presents after it is plugged in again
// (OR of card_os::kInterfaceOtp, kInterfaceU2f, kInterfaceCcid).
std::vector<std::uint8_t> BuildSetInterfaceMode(std::uint8_t mode);
