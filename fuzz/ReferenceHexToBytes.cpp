// The former HexToBytes of core/Conversions.cpp, word for word but for its name: a trimmed copy of
// the text, a second copy with the pairs spaced out, and a formatted-read style number reader.
#include "fuzz/ReferenceHexToBytes.h"

#include <cstddef>
#include <limits>

namespace tokvane::fuzz {
namespace {

// Value of each byte as a hex digit, or -1; built once so decoding needs no locale or stream.
struct HexDigitTable {
  signed char value[256];
  constexpr HexDigitTable() : value{} {
    for (int i = 0; i < 256; ++i) value[i] = -1;
    for (int i = 0; i < 10; ++i) value['0' + i] = static_cast<signed char>(i);
    for (int i = 0; i < 6; ++i) {
      value['a' + i] = static_cast<signed char>(10 + i);
      value['A' + i] = static_cast<signed char>(10 + i);
    }
  }
};
constexpr HexDigitTable kHexDigits;

int HexDigitValue(char c) { return kHexDigits.value[static_cast<unsigned char>(c)]; }

// The white space a formatted stream read skips between numbers.
bool IsStreamSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Trims the space character 0x20 only: trailing first, then leading.
std::string TrimSpaces(const std::string& text) {
  const auto last = text.find_last_not_of(' ');
  if (last == std::string::npos) return {};
  const auto first = text.find_first_not_of(' ');
  return text.substr(first, last - first + 1);
}

// Reads one hexadecimal number at `pos` (skipping white space, accepting a 0x prefix) like a
// formatted unsigned 32-bit read. False when no digit starts there or the value passes 32 bits.
bool ReadHexNumber(const std::string& text, std::size_t& pos, std::uint32_t& value) {
  while (pos < text.size() && IsStreamSpace(text[pos])) ++pos;
  if (pos >= text.size() || HexDigitValue(text[pos]) < 0) return false;
  if (text[pos] == '0' && pos + 2 < text.size() && (text[pos + 1] == 'x' || text[pos + 1] == 'X') &&
      HexDigitValue(text[pos + 2]) >= 0) {
    pos += 2;
  }
  std::uint64_t accumulated = 0;
  while (pos < text.size()) {
    const int digit = HexDigitValue(text[pos]);
    if (digit < 0) break;
    accumulated = accumulated * 16 + static_cast<std::uint64_t>(digit);
    if (accumulated > std::numeric_limits<std::uint32_t>::max()) return false;
    ++pos;
  }
  value = static_cast<std::uint32_t>(accumulated);
  return true;
}

}  // namespace

std::uint32_t ReferenceHexToBytes(const std::string& hexText, std::uint8_t* output, std::uint32_t capacity) {
  const std::string trimmed = TrimSpaces(hexText);
  if (trimmed.empty()) return 0;

  // Without any space the characters are paired by position; with spaces every token is one byte.
  std::string tokens;
  if (trimmed.find(' ') == std::string::npos) {
    tokens.reserve(trimmed.size() + trimmed.size() / 2 + 1);
    for (std::size_t i = 0; i < trimmed.size(); i += 2) {
      tokens.append(trimmed, i, 2);
      tokens.push_back(' ');
    }
  } else {
    tokens = trimmed;
  }

  std::size_t pos = 0;
  std::uint32_t value = 0;
  if (!ReadHexNumber(tokens, pos, value)) return 0;
  std::uint32_t written = 0;
  while (written < capacity && output != nullptr) {
    output[written++] = static_cast<std::uint8_t>(value & 0xFF);
    if (!ReadHexNumber(tokens, pos, value)) break;
  }
  return written;
}

}  // namespace tokvane::fuzz
