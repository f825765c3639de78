#pragma once
// A command APDU (ISO 7816-4): recognised from bytes, encoded back, written as hex text.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// How the body after the four header bytes was recognised; the numbers are stored and compared.
enum ApduCase : int {
  ApduCaseBuilt = 0,            // built field by field, never parsed
  ApduCaseHeaderOnly = 1,
  ApduCaseShortLe = 2,
  ApduCaseShortLc = 3,
  ApduCaseShortLcLe = 4,
  ApduCaseExtendedLe = 5,
  ApduCaseExtendedLc = 6,
  ApduCaseExtendedLcLe = 7,
  ApduCaseUnrecognised = 17,    // RawBody holds the body verbatim
};

class CApduCommand {
 public:
  // Largest input ParseHex converts: an extended case-7 command with 65,535 data bytes.
  static constexpr std::uint32_t kMaxEncodedLength = 65544;

  std::uint8_t Cla = 0;
  std::uint8_t Ins = 0;
  std::uint8_t P1 = 0;
  std::uint8_t P2 = 0;
  std::uint16_t Lc = 0;
  std::uint16_t Le = 0;  // 0: no Le field; a short Le byte 00 is held as 256
  std::vector<std::uint8_t> Data;
  bool Extended = false;
  int Case = ApduCaseBuilt;
  std::vector<std::uint8_t> RawBody;

  // True for ISO cases 1 to 7; false for an unrecognised body (kept raw, case 17) and for
  // fewer than four bytes (the command is then left unchanged).
  bool Parse(const std::uint8_t* bytes, std::size_t count);
  bool ParseHex(const std::string& hexText);
  // With a null buffer: the encoded length. With a buffer too small: 0, nothing written.
  std::size_t Serialize(std::uint8_t* buffer, std::size_t capacity) const;
  std::vector<std::uint8_t> Serialize() const;
  std::string ToHex() const;
  // Replaces Data, sets Lc and Extended (count > 255); false and unchanged for null bytes with a count.
  bool SetData(const std::uint8_t* bytes, std::uint16_t count);
};

// The command these bytes encode, as Parse reads them: the one way the builders' bytes become a
// command.
CApduCommand CommandFromBytes(const std::vector<std::uint8_t>& bytes);

