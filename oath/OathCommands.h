#pragma once
// Builders for the commands Tokvane sends to the key's OATH applet (the applet selections and the
// card OS's commands are in device/CardOsCommands.h, which this header includes). Each returns one
// complete command APDU (header, Lc, data, Le as applicable) as a new buffer.
//
// Refusal: a builder whose input would need a length byte above 255 (Lc or a TLV length) returns an
// EMPTY vector and nothing should be sent. No real command is empty, and CApduCommand::Parse rejects
// fewer than four bytes, so a refused command can never reach a key by accident.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "device/CardOsCommands.h"

namespace oath {

// Instruction bytes of the OATH applet (the class bytes are card_os::kClaIso and kClaProprietary).
inline constexpr std::uint8_t kInsPut = 0x09;  // what the credentials panel passes to BuildPut
inline constexpr std::uint8_t kInsReset = 0x07;
inline constexpr std::uint8_t kInsDelete = 0x08;
inline constexpr std::uint8_t kInsList = 0x17;
inline constexpr std::uint8_t kInsCalculate = 0xA2;
inline constexpr std::uint8_t kInsSetDefault = 0xE5;
inline constexpr std::uint8_t kInsGetDefault = 0xE6;
inline constexpr std::uint8_t kInsAppletVersion = 0xE2;

// Tags inside the command data.
inline constexpr std::uint8_t kTagName = 0x51;
inline constexpr std::uint8_t kTagKey = 0x53;
inline constexpr std::uint8_t kTagChallenge = 0x54;
inline constexpr std::uint8_t kTagImf = 0x5A;

// The two bytes between the key tag's length and the digits byte of a put command.
inline constexpr std::uint8_t kPutAlgorithm = 0x01;
inline constexpr std::uint8_t kPutHash = 0x10;

// The data field of the applet-version query.
inline constexpr std::uint8_t kAppletVersionQuery[] = {0xDF, 0xFF, 0x02, 0x80, 0x01};

}  // namespace oath

using OathBytes = std::vector<std::uint8_t>;
using OathByteView = std::span<const std::uint8_t>;

// 80 E2 80 00 05 DF FF 02 80 01.
OathBytes BuildGetAppletVersion();
// 00 07 00 00.
OathBytes BuildReset();
// 00 17 00 00.
OathBytes BuildList();
// 00 E6 00 00.
OathBytes BuildGetDefault();

// 00 08 00 00, n + 2, 51, n, name. Refused (empty) for a name over 253 bytes.
OathBytes BuildDelete(OathByteView name);
OathBytes BuildDelete(std::string_view name);
// 00 E5 00 00, n + 2, 51, n, name. Refused (empty) for a name over 253 bytes.
OathBytes BuildSetDefault(OathByteView name);
OathBytes BuildSetDefault(std::string_view name);
// 00 A2 01 00, n + c + 4, 54, c, challenge, 51, n, name. Refused (empty) when n + c + 4 exceeds
// 255, so with the empty challenge the panel uses, for a name over 251 bytes.
OathBytes BuildCalculate(OathByteView name, OathByteView challenge = {});
OathBytes BuildCalculate(std::string_view name, OathByteView challenge = {});

// 00, ins, 00 00, Lc, 53, k + 2, 01, 10, digits, key, 51, n, name, and 5A, m, imf when the imf text
// is not empty. The key tag's length byte is k + 2 although three bytes precede the key: the key
// relies on exactly this value. Refused (empty) when Lc (k + n + 7, plus m + 2 with an imf) would
// exceed 255. The result holds the secret: wipe it with OPENSSL_cleanse once it has been sent.
OathBytes BuildPut(std::uint8_t ins, OathByteView name, OathByteView key, std::uint8_t digits,
                   OathByteView imf);
OathBytes BuildPut(std::uint8_t ins, std::string_view name, OathByteView key, std::uint8_t digits,
                   std::string_view imf);

// Where the key bytes lie in a command shaped as BuildPut builds it: the first `count` bytes from
// `offset`. Bytes that do not read as such a command put every byte after Lc in the range, so a
// caller that hides the range never shows a key by accident.
struct OathByteRange {
  std::size_t offset = 0;
  std::size_t count = 0;
};
OathByteRange PutKeyRange(OathByteView put);
