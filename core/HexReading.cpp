// What HexToBytes reads. These are the rules of the stream-like reader it replaces, kept to the
// letter (fuzz/FuzzHexToBytesDifferential.cpp checks it against that reader):
//  - Nothing is written and 0 is returned when `output` is null or `capacity` is 0.
//  - Spaces (0x20, and only that character) at either end do not count; the rest is the text.
//  - White space is the space, tab, line feed, vertical tab, form feed and carriage return; a hex
//    digit is 0-9, a-f or A-F. Any other character (NUL, a byte from 0x80, a comma, 'x', ...) is a
//    stop character: the read ends where it stands.
//  - The text is in the spaced form when it holds a space, otherwise in the paired form.
//  - Spaced form: tokens are runs of hex digits between white space, each gives one byte, the low
//    eight bits of its value ("123" gives 23). A token may start with "0x" or "0X" when a hex digit
//    follows ("0x1F" gives 1F; "0x" alone gives 00 and stops at the x). A token whose value passes
//    32 bits (leading zeros do not count) gives nothing and ends the read. A token cut short by a
//    stop character still gives its byte ("12G" gives 12, then stop).
//  - Paired form: the text is cut into two-character pieces from its start, the last one possibly a
//    single character. A piece reads like a spaced token followed by a space: two hex digits give
//    their byte, a hex digit beside white space (or alone at the end) gives its own value ("\tA" and
//    "A\t" give 0A), two white spaces give nothing; a stop character ends the read after the digit
//    before it in the piece, if any ("AG" gives 0A, then stop). No 0x prefix in this form.
//  - The bytes go to output[0], output[1], ... until the read ends or `capacity` bytes are
//    written; the count is returned. No other byte of `output` is touched.
//
// How: one 256-entry table gives each character's hex value or its kind. Plain pairs ("HH " in
// the spaced form, "HH" in the paired form) are read in runs without further tests; the first
// character that is not part of a plain pair falls to the exact reader of one token (spaced) or
// one piece (paired), and the runs resume after it.
#include <cstddef>
#include <cstring>

#include "core/Conversions.h"

namespace {

// The kind of a character: its value when a hex digit (0-15), or one of these.
constexpr std::uint8_t kWhiteSpace = 0x10;
constexpr std::uint8_t kStopCharacter = 0x20;

struct HexCharacterTable {
  std::uint8_t kind[256];
  constexpr HexCharacterTable() : kind{} {
    for (auto& k : kind) k = kStopCharacter;
    for (int i = 0; i < 10; ++i) kind['0' + i] = static_cast<std::uint8_t>(i);
    for (int i = 0; i < 6; ++i) {
      kind['a' + i] = static_cast<std::uint8_t>(10 + i);
      kind['A' + i] = static_cast<std::uint8_t>(10 + i);
    }
    for (const char c : {' ', '\t', '\n', '\v', '\f', '\r'}) kind[static_cast<unsigned char>(c)] = kWhiteSpace;
  }
};
constexpr HexCharacterTable kHexCharacters;

std::uint8_t KindOf(char c) { return kHexCharacters.kind[static_cast<unsigned char>(c)]; }
bool IsHexDigit(std::uint8_t kind) { return kind < 16; }

// One spaced token at `p`, which holds a hex digit; moves `p` to the character after it. False
// when its value passes 32 bits.
bool ReadToken(const char*& p, const char* end, std::uint8_t& byte) {
  if (p[0] == '0' && end - p > 2 && (p[1] == 'x' || p[1] == 'X') && IsHexDigit(KindOf(p[2]))) p += 2;
  std::uint64_t value = 0;
  do {
    value = value * 16 + KindOf(*p);
    if (value > 0xFFFFFFFFu) return false;
    ++p;
  } while (p < end && IsHexDigit(KindOf(*p)));
  byte = static_cast<std::uint8_t>(value);
  return true;
}

void SkipWhiteSpace(const char*& p, const char* end) {
  while (p < end && KindOf(*p) == kWhiteSpace) ++p;
}

std::uint32_t ReadSpacedForm(const char* p, const char* end, std::uint8_t* output, std::uint32_t capacity) {
  std::uint32_t written = 0;
  SkipWhiteSpace(p, end);
  for (;;) {
    // Here `p` is where a token may start: the runs of plain pairs hold exactly the reads the
    // exact reader would make.
    while (written < capacity && end - p >= 3) {
      const unsigned high = KindOf(p[0]);
      const unsigned low = KindOf(p[1]);
      if (((high | low) >= 16) | (p[2] != ' ')) break;
      output[written++] = static_cast<std::uint8_t>(high << 4 | low);
      p += 3;
    }
    if (written == capacity) return written;
    SkipWhiteSpace(p, end);
    if (p == end || !IsHexDigit(KindOf(*p))) return written;
    std::uint8_t byte = 0;
    if (!ReadToken(p, end, byte)) return written;
    output[written++] = byte;
    SkipWhiteSpace(p, end);
  }
}

std::uint32_t ReadPairedForm(const char* p, const char* end, std::uint8_t* output, std::uint32_t capacity) {
  std::uint32_t written = 0;
  for (;;) {
    while (written < capacity && end - p >= 2) {
      const unsigned high = KindOf(p[0]);
      const unsigned low = KindOf(p[1]);
      if ((high | low) >= 16) break;
      output[written++] = static_cast<std::uint8_t>(high << 4 | low);
      p += 2;
    }
    if (written == capacity || p == end) return written;
    // A piece that is not two hex digits; a lone last character reads as if a space followed it.
    const bool whole = end - p >= 2;
    const std::uint8_t first = KindOf(p[0]);
    const std::uint8_t second = whole ? KindOf(p[1]) : kWhiteSpace;
    p += whole ? 2 : 1;
    if (IsHexDigit(first)) {
      output[written++] = first;
      if (second == kStopCharacter) return written;
    } else if (first == kWhiteSpace) {
      if (IsHexDigit(second)) {
        output[written++] = second;
      } else if (second == kStopCharacter) {
        return written;
      }
    } else {
      return written;
    }
  }
}

}  // namespace

std::uint32_t HexToBytes(const std::string& hexText, std::uint8_t* output, std::uint32_t capacity) {
  if (output == nullptr || capacity == 0) return 0;
  const char* begin = hexText.data();
  const char* end = begin + hexText.size();
  while (end != begin && end[-1] == ' ') --end;
  while (begin != end && *begin == ' ') ++begin;
  if (begin == end) return 0;

  if (std::memchr(begin, ' ', static_cast<std::size_t>(end - begin)) != nullptr) {
    return ReadSpacedForm(begin, end, output, capacity);
  }
  return ReadPairedForm(begin, end, output, capacity);
}
