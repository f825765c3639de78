// HexToBytes against the reader it replaced (fuzz/ReferenceHexToBytes.cpp): the same text and
// capacity must give the same count and leave the output exactly as the reference leaves it,
// written bytes and untouched bytes alike.
//
// Input layout, so that long runs of plain pairs (what the table reader reads in runs) come up often:
//   bytes 0-1  capacity, little-endian, modulo 4097
//   byte 2     bits 0-1: 0 or 3 the rest is the text as is, 1 spaced pairs, 2 unspaced pairs;
//              bit 2: lower-case digits; bit 3: null output;
//              bits 4-5: spaces before, bits 6-7: spaces after the pairs
//   byte 3     (pairs) how many bytes to write as pairs, taken from the bytes that follow
//   then       (pairs) edits of four bytes each: position (two bytes, little-endian, modulo the
//              text length + 1), operation (0 replace, 1 insert, 2 erase, 3 replace with a character
//              from a short list of those the reader treats specially), character
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <span>
#include <string>

#include "core/Conversions.h"
#include "fuzz/ReferenceHexToBytes.h"

namespace {

constexpr char kSpecialCharacters[] = {' ', '\t', '\n', '\v', '\f', '\r', 'x', 'X', '0', 'G', 'g',
                                       'a', 'F', '9', ':', '/', '@', '`', '\0', '\x80', '\xFF'};

std::string BuildText(const std::uint8_t* data, std::size_t size, bool& nullOutput, std::uint32_t& capacity) {
  capacity = size >= 2 ? static_cast<std::uint32_t>(data[0] | data[1] << 8) % 4097 : 0;
  const std::uint8_t form = size >= 3 ? data[2] : 0;
  nullOutput = (form & 0x08) != 0;
  const std::size_t header = size < 3 ? size : 3;
  const int shape = form & 0x03;
  if (shape == 0 || shape == 3 || size < 4) {
    return std::string(reinterpret_cast<const char*>(data) + header, size - header);
  }

  const std::size_t count = std::min<std::size_t>(data[3], size - 4);
  std::string text((form >> 4) & 0x03, ' ');
  AppendHex(text, std::span<const std::uint8_t>(data + 4, count),
            (form & 0x04) != 0 ? HexLetters::Lower : HexLetters::Upper, shape == 1 ? HexPairs::Spaced : HexPairs::Unspaced);
  text.append((form >> 6) & 0x03, ' ');

  for (std::size_t at = 4 + count; at + 4 <= size; at += 4) {
    const std::size_t position = static_cast<std::size_t>(data[at] | data[at + 1] << 8) % (text.size() + 1);
    const char character = static_cast<char>(data[at + 3]);
    switch (data[at + 2] & 0x03) {
      case 0:
        if (position < text.size()) text[position] = character;
        break;
      case 1:
        text.insert(position, 1, character);
        break;
      case 2:
        if (position < text.size()) text.erase(position, 1);
        break;
      default:
        if (position < text.size()) {
          text[position] = kSpecialCharacters[data[at + 3] % sizeof kSpecialCharacters];
        }
        break;
    }
  }
  return text;
}

void Fail(const char* what, const std::string& text, std::uint32_t capacity) {
  std::fprintf(stderr, "HexToBytes differs from the reference (%s), capacity %u, text of %zu bytes\n", what,
               capacity, text.size());
  __builtin_trap();
}

// HexToBytes against the reference, on two differently filled buffers of exactly `capacity`
// bytes, so the address sanitizer also sees any write past the end.
void Compare(const std::string& text, std::uint32_t capacity, bool nullOutput) {
  if (nullOutput) {
    if (HexToBytes(text, nullptr, capacity) != tokvane::fuzz::ReferenceHexToBytes(text, nullptr, capacity)) {
      Fail("count with no output", text, capacity);
    }
    return;
  }
  const std::size_t length = capacity == 0 ? 1 : capacity;
  for (const std::uint8_t fill : {std::uint8_t{0xA5}, std::uint8_t{0x5A}}) {
    auto expected = std::make_unique<std::uint8_t[]>(length);
    auto actual = std::make_unique<std::uint8_t[]>(length);
    for (std::size_t i = 0; i < length; ++i) expected[i] = actual[i] = static_cast<std::uint8_t>(fill ^ i);
    const std::uint32_t expectedCount = tokvane::fuzz::ReferenceHexToBytes(text, expected.get(), capacity);
    const std::uint32_t actualCount = HexToBytes(text, actual.get(), capacity);
    if (actualCount != expectedCount) Fail("count", text, capacity);
    if (std::memcmp(actual.get(), expected.get(), length) != 0) Fail("output bytes", text, capacity);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  bool nullOutput = false;
  std::uint32_t capacity = 0;
  const std::string text = BuildText(data, size, nullOutput, capacity);

  Compare(text, capacity, nullOutput);
  return 0;
}
