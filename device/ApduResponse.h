#pragma once
// A response APDU: data followed by the two status-word bytes.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

class CApduResponse {
 public:
  static constexpr std::size_t kMaxEncodedLength = 65535;   // data plus status word
  static constexpr std::size_t kMaxDataLength = 65535;      // what SetData accepts

  std::uint16_t DataLength = 0;
  std::uint8_t SW1 = 0;
  std::uint8_t SW2 = 0;
  std::vector<std::uint8_t> Data;

  // Count below 2 or above 65,535: false, unchanged.
  bool Parse(const std::uint8_t* bytes, std::size_t count);
  bool ParseHex(const std::string& hexText);
  // Count above 65,535, or null bytes with a count: false, unchanged. The status word stays.
  bool SetData(const std::uint8_t* bytes, std::size_t count);
  std::string ToHex() const;

  std::uint16_t StatusWord() const { return static_cast<std::uint16_t>((SW1 << 8) | SW2); }
  bool IsSuccess() const { return SW1 == 0x90 && SW2 == 0x00; }
  // A fresh response keeps 00 00 when the answer was too short to parse; no key sends SW1 00.
  bool HasStatusWord() const { return SW1 != 0x00 || SW2 != 0x00; }
};
