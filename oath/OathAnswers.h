#pragma once
// Readers for the answers of the OATH applet and the card OS. Each takes the response data (status
// word excluded) and its length, reads only inside it, and reports an answer too short for what it
// must read as "nothing" (an empty result or std::nullopt) so the caller ends without a code,
// version or name.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct OathListEntry {
  std::uint8_t Tag = 0;
  std::uint8_t Length = 0;
  std::uint8_t Kind = 0;
  std::vector<std::uint8_t> Name;  // Length - 1 bytes
};

struct OathCalcAnswer {
  std::uint8_t Tag = 0;
  std::uint8_t Length = 0;
  std::uint8_t Digits = 0;
  std::vector<std::uint8_t> Value;  // Length - 1 bytes
};

// Two version bytes as the key reports them.
struct OathVersionBytes {
  std::uint8_t First = 0;
  std::uint8_t Second = 0;
};

// The entries of a list answer in the order of the data. Reading stops at the first entry that is
// malformed (its Length is 0, or its kind byte or name runs past the data): that entry and anything
// after it give no name. `complete`, when given, tells whether every byte was read as an entry.
std::vector<OathListEntry> ParseListResponse(const std::uint8_t* data, std::size_t length,
                                             bool* complete = nullptr);

// The calculate answer from the first bytes of the data; nothing when the data holds fewer than the
// three header bytes, its Length is 0, or the value runs past the data.
std::optional<OathCalcAnswer> ParseCalcAnswer(const std::uint8_t* data, std::size_t length);

// The key's code: the first four value bytes as a big-endian unsigned number N, written as
// N mod 10^Digits with leading zeros (exactly Digits characters). Empty when the value holds fewer
// than four bytes. A first value byte with its top bit set is read as the unsigned number it is.
std::string FormatCode(const OathCalcAnswer& answer);

// `digits` decimal digits of `number`, least significant last, leading zeros kept.
std::string FormatCodeNumber(std::uint32_t number, unsigned digits);

// Data bytes 8 and 9 of the applet-version answer; nothing for fewer than ten bytes.
std::optional<OathVersionBytes> ReadAppletVersion(const std::uint8_t* data, std::size_t length);
// Each byte as lower-case hex without leading zeros ("%x%x"): 01 05 gives "15".
std::string FormatAppletVersion(const OathVersionBytes& version);

// Data bytes 0 and 1 of the COS-version answer; nothing for fewer than two bytes.
std::optional<OathVersionBytes> ReadCosVersion(const std::uint8_t* data, std::size_t length);
// The first byte as "%x", the second as "%02x": 43 01 gives "4301", 3 5 gives "305".
std::string FormatCosVersion(const OathVersionBytes& version);

// Whether a key with COS version bytes b0 b1 waits for a touch before a guarded command:
// b0 31..3F, 44..4F or 60..6F, or b0 43 with b1 of 01 or more.
bool CosVersionNeedsTouch(std::uint8_t b0, std::uint8_t b1);
// The same decision on the data of a COS-version answer; a missing byte counts as 00, so an empty
// answer needs no touch.
bool CosAnswerNeedsTouch(const std::uint8_t* data, std::size_t length);
