#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <clocale>
#include <string>
#include <vector>

#include "core/Conversions.h"

namespace {

constexpr std::uint8_t kUntouched = 0xEE;

std::vector<std::uint8_t> Hex(const std::string& text, std::uint32_t capacity = 64) {
  std::vector<std::uint8_t> out(capacity, kUntouched);
  out.resize(HexToBytes(text, out.data(), capacity));
  return out;
}

// HexToBytes must read `text` as `expected` and leave the rest of the output as it was.
void ExpectReadOnEveryPath(const std::string& text, const std::vector<std::uint8_t>& expected,
                           std::uint32_t capacity = 256) {
  std::vector<std::uint8_t> out(capacity, kUntouched);
  const std::uint32_t count = HexToBytes(text, out.data(), capacity);
  ASSERT_LE(count, capacity) << "input '" << text << "'";
  EXPECT_EQ(std::vector<std::uint8_t>(out.begin(), out.begin() + count), expected)
      << "input '" << text << "', capacity " << capacity;
  EXPECT_EQ(std::count(out.begin() + count, out.end(), kUntouched), capacity - count)
      << "input '" << text << "', capacity " << capacity;
}

// Bytes 0x00, 0x25, 0x4A, ...: both digits of a byte run through every value.
std::vector<std::uint8_t> RunOfBytes(std::size_t count) {
  std::vector<std::uint8_t> bytes(count);
  for (std::size_t i = 0; i < count; ++i) bytes[i] = static_cast<std::uint8_t>(i * 0x25);
  return bytes;
}

std::uint8_t HighDigit(std::uint8_t byte) { return byte >> 4; }
std::uint8_t LowDigit(std::uint8_t byte) { return byte & 0x0F; }

TEST(BytesToHex, WritesUpperCasePairsSeparatedBySingleSpaces) {
  struct Case {
    std::vector<std::uint8_t> bytes;
    std::string text;
  };
  const Case cases[] = {
      {{}, ""},
      {{0x00}, "00"},
      {{0x90, 0x00}, "90 00"},
      {{0x0A, 0xFF}, "0A FF"},
      {{0x00, 0xA4, 0x04, 0x00, 0x02, 0x3F, 0x00}, "00 A4 04 00 02 3F 00"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(BytesToHex(c.bytes.data(), static_cast<std::uint32_t>(c.bytes.size())), c.text);
  }
}

TEST(BytesToHex, LengthIsThreeTimesCountMinusOne) {
  std::vector<std::uint8_t> bytes(65544);
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(i);
  const std::string text = BytesToHex(bytes.data(), static_cast<std::uint32_t>(bytes.size()));
  ASSERT_EQ(text.size(), bytes.size() * 3 - 1);
  EXPECT_EQ(Hex(text, 65544), bytes);
}

TEST(HexToBytes, ReadsBothSpacedAndUnspacedForms) {
  struct Case {
    std::string text;
    std::vector<std::uint8_t> bytes;
  };
  const Case cases[] = {
      {"", {}},
      {"    ", {}},
      {"9000", {0x90, 0x00}},
      {"90 00", {0x90, 0x00}},
      {"  90   00  ", {0x90, 0x00}},
      {"00a40400", {0x00, 0xA4, 0x04, 0x00}},
      {"1G23", {0x01}},                 // the pair 1G gives 01, the read stops at G
      {"12 XY 34", {0x12}},
      {"123456789", {0x12, 0x34, 0x56, 0x78, 0x09}},
      {"ABC", {0xAB, 0x0C}},
      {"123 A", {0x23, 0x0A}},          // a spaced token stands for one byte whatever its length
      {"0x12 0X34", {0x12, 0x34}},
      {"zz", {}},
      {"1\t2", {0x01, 0x02}},           // tabs separate spaced tokens like a stream read
      {"1 FFFFFFFF 2", {0x01, 0xFF, 0x02}},
      {"1 100000000 2", {0x01}},        // a token past 32 bits fails the read
  };
  for (const auto& c : cases) {
    ExpectReadOnEveryPath(c.text, c.bytes);
  }
}

// Long runs of plain pairs are read in blocks (of up to 96 characters); such a run cut short or
// with one character changed anywhere, or the capacity ending anywhere in it, must read by the rules.
// 70 bytes span more than one block of every path, and a tail shorter than a block.
TEST(HexToBytes, ARunOfSpacedPairsCutOrChangedAtAnyCharacter) {
  const std::vector<std::uint8_t> bytes = RunOfBytes(70);
  const std::string text = BytesToHex(bytes.data(), static_cast<std::uint32_t>(bytes.size()));
  for (std::size_t at = 0; at < text.size(); ++at) {
    const std::size_t pair = at / 3;
    const auto before = bytes.begin() + static_cast<std::ptrdiff_t>(pair);

    // Cut short: a lone last digit is a token of its own.
    std::vector<std::uint8_t> expected(bytes.begin(), before);
    if (at % 3 == 1) expected.push_back(HighDigit(bytes[pair]));
    if (at % 3 == 2) expected.push_back(bytes[pair]);
    ExpectReadOnEveryPath(text.substr(0, at), expected);

    std::string changed = text;

    // A stop character reads the same: the pairs before it, and the first digit of a pair it cuts.
    changed[at] = 'G';
    ExpectReadOnEveryPath(changed, expected);

    // A tab: as a separator nothing changes; in a pair it leaves the other digit alone as a token.
    changed[at] = '\t';
    expected = bytes;
    if (at % 3 == 0) expected[pair] = LowDigit(bytes[pair]);
    if (at % 3 == 1) expected[pair] = HighDigit(bytes[pair]);
    ExpectReadOnEveryPath(changed, expected);

    // A digit in place of a separator joins two pairs into one token; its low byte is the second.
    if (at % 3 == 2) {
      changed[at] = '7';
      expected = bytes;
      expected.erase(expected.begin() + static_cast<std::ptrdiff_t>(pair));
      ExpectReadOnEveryPath(changed, expected);
    }
  }
}

TEST(HexToBytes, ARunOfUnspacedPairsCutOrChangedAtAnyCharacter) {
  const std::vector<std::uint8_t> bytes = RunOfBytes(70);
  const std::string text = RemoveSpaces(BytesToHex(bytes.data(), static_cast<std::uint32_t>(bytes.size())));
  for (std::size_t at = 0; at < text.size(); ++at) {
    const std::size_t pair = at / 2;

    // Cut short, or a stop character: the pairs before, and a lone first digit of the last pair.
    std::vector<std::uint8_t> expected(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(pair));
    if (at % 2 == 1) expected.push_back(HighDigit(bytes[pair]));
    ExpectReadOnEveryPath(text.substr(0, at), expected);
    std::string changed = text;
    changed[at] = '\x80';
    ExpectReadOnEveryPath(changed, expected);

    // White space in a pair leaves the other digit alone as the byte.
    changed[at] = '\n';
    expected = bytes;
    expected[pair] = at % 2 == 0 ? LowDigit(bytes[pair]) : HighDigit(bytes[pair]);
    ExpectReadOnEveryPath(changed, expected);
  }
}

TEST(HexToBytes, TheCapacityMayEndAnywhereInARunOfPairs) {
  const std::vector<std::uint8_t> bytes = RunOfBytes(70);
  std::string spaced = BytesToHex(bytes.data(), static_cast<std::uint32_t>(bytes.size()));
  for (char& c : spaced) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  for (const std::string& text : {spaced, RemoveSpaces(spaced)}) {
    for (std::uint32_t capacity = 1; capacity <= bytes.size() + 1; ++capacity) {
      const std::size_t count = std::min<std::size_t>(capacity, bytes.size());
      ExpectReadOnEveryPath(text, std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(count)),
                            capacity);
    }
  }
}

TEST(HexToBytes, NeverWritesPastItsCapacity) {
  std::uint8_t out[4] = {0xEE, 0xEE, 0xEE, 0xEE};
  EXPECT_EQ(HexToBytes("1 2 3", out, 2), 2u);
  EXPECT_EQ(out[0], 0x01);
  EXPECT_EQ(out[1], 0x02);
  EXPECT_EQ(out[2], 0xEE);
  EXPECT_EQ(HexToBytes("1 2 3", out, 0), 0u);
  EXPECT_EQ(HexToBytes("1 2 3", nullptr, 4), 0u);

  const std::string huge(200000, 'F');
  std::vector<std::uint8_t> big(100);
  EXPECT_EQ(HexToBytes(huge, big.data(), 100), 100u);
}

TEST(RemoveSpaces, DropsOnlyTheSpaceCharacter) {
  EXPECT_EQ(RemoveSpaces("  12 34  "), "1234");
  EXPECT_EQ(RemoveSpaces("1\t2"), "1\t2");
  EXPECT_EQ(RemoveSpaces(""), "");
}

TEST(LocaleConversions, RoundTripUtf8AndReplaceUnmappableCharacters) {
  const char* previous = std::setlocale(LC_ALL, nullptr);
  const std::string saved = previous ? previous : "C";
  ASSERT_NE(std::setlocale(LC_ALL, "C.UTF-8"), nullptr);

  EXPECT_EQ(AnsiToWide(""), L"");
  EXPECT_EQ(WideToAnsi(L""), "");
  EXPECT_EQ(AnsiToWide("VORTAN HID DEVICE U2F 1"), L"VORTAN HID DEVICE U2F 1");
  EXPECT_EQ(AnsiToWide("caf\xC3\xA9"), L"caf\u00E9");
  EXPECT_EQ(WideToAnsi(L"caf\u00E9"), "caf\xC3\xA9");
  // A byte the locale cannot read becomes one mark and the rest still converts; a sequence cut
  // off at the end too.
  EXPECT_EQ(AnsiToWide("bad \xFF byte"), L"bad \uFFFD byte");
  EXPECT_EQ(AnsiToWide("\xC3(\xC3"), L"\uFFFD(\uFFFD");

  ASSERT_NE(std::setlocale(LC_ALL, "C"), nullptr);
  EXPECT_EQ(WideToAnsi(L"a\u00E9b"), "a?b");   // the C locale cannot hold é

  std::setlocale(LC_ALL, saved.c_str());
}

}  // namespace
