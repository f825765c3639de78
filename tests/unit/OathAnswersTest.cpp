#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "oath/OathAnswers.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

std::vector<std::string> Names(const std::vector<OathListEntry>& entries) {
  std::vector<std::string> names;
  for (const auto& entry : entries) names.emplace_back(entry.Name.begin(), entry.Name.end());
  return names;
}

TEST(OathListAnswer, ReadsEntriesInOrderWhateverTheTagAndKind) {
  const Bytes data = {0x71, 0x03, 0x21, 0x41, 0x42, 0x99, 0x02, 0x06, 0x43};
  bool complete = false;
  const auto entries = ParseListResponse(data.data(), data.size(), &complete);
  EXPECT_TRUE(complete);
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(Names(entries), (std::vector<std::string>{"AB", "C"}));
  EXPECT_EQ(entries[0].Tag, 0x71);
  EXPECT_EQ(entries[0].Length, 0x03);
  EXPECT_EQ(entries[0].Kind, 0x21);
  EXPECT_EQ(entries[1].Tag, 0x99);
  EXPECT_EQ(entries[1].Kind, 0x06);
}

TEST(OathListAnswer, StopsAtAMalformedEntryWithoutReadingPastTheData) {
  struct Case {
    const char* what;
    Bytes data;
    std::vector<std::string> names;
    bool complete;
  };
  const Case cases[] = {
      {"empty answer", {}, {}, true},
      {"entry with an empty name", {0x71, 0x01, 0x06, 0x71, 0x02, 0x06, 0x43}, {"", "C"}, true},
      {"length 0 ends the list", {0x71, 0x02, 0x06, 0x43, 0x71, 0x00, 0x06, 0x71, 0x02, 0x06, 0x44},
       {"C"}, false},
      {"name runs past the data", {0x71, 0x02, 0x06, 0x43, 0x71, 0x05, 0x06, 0x41, 0x42}, {"C"}, false},
      {"tag only at the end", {0x71, 0x02, 0x06, 0x43, 0x71}, {"C"}, false},
      {"tag and length without kind", {0x71, 0x02, 0x06, 0x43, 0x71, 0x01}, {"C"}, false},
      {"longest name", [] {
         Bytes d = {0x71, 0xFF, 0x06};
         d.resize(3 + 254, 'x');
         return d;
       }(), {std::string(254, 'x')}, true},
  };
  for (const auto& c : cases) {
    // An exact-size heap copy lets the address sanitizer catch any read past the end.
    const auto* copy = c.data.empty() ? nullptr : new std::uint8_t[c.data.size()];
    if (copy) std::copy(c.data.begin(), c.data.end(), const_cast<std::uint8_t*>(copy));
    bool complete = !c.complete;
    const auto entries = ParseListResponse(copy, c.data.size(), &complete);
    EXPECT_EQ(Names(entries), c.names) << c.what;
    EXPECT_EQ(complete, c.complete) << c.what;
    delete[] copy;
  }
}

TEST(OathCalcAnswer, ParsesAndFormatsTheKnownExample) {
  for (std::uint8_t tag : {0x00, 0x76, 0xFF}) {
    const Bytes data = {tag, 0x05, 0x06, 0x00, 0x12, 0xD6, 0x87};
    const auto answer = ParseCalcAnswer(data.data(), data.size());
    ASSERT_TRUE(answer.has_value());
    EXPECT_EQ(answer->Tag, tag);
    EXPECT_EQ(answer->Length, 0x05);
    EXPECT_EQ(answer->Digits, 6);
    EXPECT_EQ(answer->Value, (Bytes{0x00, 0x12, 0xD6, 0x87}));
    EXPECT_EQ(FormatCode(*answer), "234567");
  }
}

TEST(OathCalcAnswer, FormatsExactlyDigitsCharacters) {
  struct Case {
    Bytes value;
    std::uint8_t digits;
    const char* code;
  };
  const Case cases[] = {
      {{0x00, 0x00, 0x00, 0x2A}, 6, "000042"},
      {{0x00, 0x12, 0xD6, 0x87}, 8, "01234567"},
      {{0x00, 0x00, 0x00, 0x00}, 6, "000000"},
      {{0x7F, 0xFF, 0xFF, 0xFF}, 8, "47483647"},
      // Top bit set: the unsigned number 4294967295, never a negative one.
      {{0xFF, 0xFF, 0xFF, 0xFF}, 6, "967295"},
      {{0x80, 0x00, 0x00, 0x00}, 10, "2147483648"},
      {{0x80, 0x00, 0x00, 0x00}, 12, "002147483648"},
      // Only the first four value bytes count.
      {{0x00, 0x00, 0x00, 0x07, 0x99}, 6, "000007"},
      // Too short for a code, or no digits asked for.
      {{0x00, 0x12, 0xD6}, 6, ""},
      {{}, 6, ""},
      {{0x00, 0x12, 0xD6, 0x87}, 0, ""},
  };
  for (const auto& c : cases) {
    OathCalcAnswer answer;
    answer.Digits = c.digits;
    answer.Value = c.value;
    EXPECT_EQ(FormatCode(answer), c.code) << int(c.digits) << " digits, " << c.value.size() << " bytes";
  }
}

TEST(OathCalcAnswer, ShortOrInconsistentAnswersGiveNoAnswer) {
  const Bytes cases[] = {
      {},
      {0x76},
      {0x76, 0x05},
      {0x76, 0x00, 0x06},               // length 0
      {0x76, 0x05, 0x06, 0x00, 0x12, 0xD6},  // value runs past the data
  };
  for (const auto& data : cases) {
    EXPECT_FALSE(ParseCalcAnswer(data.data(), data.size()).has_value()) << data.size() << " bytes";
  }
  // A short value is still an answer, but one without a code.
  const Bytes shortValue = {0x76, 0x03, 0x06, 0x12, 0xD6};
  const auto answer = ParseCalcAnswer(shortValue.data(), shortValue.size());
  ASSERT_TRUE(answer.has_value());
  EXPECT_EQ(FormatCode(*answer), "");
}

TEST(OathVersions, AppletVersionComesFromBytesEightAndNine) {
  Bytes data = {0, 1, 2, 3, 4, 5, 6, 7, 0x01, 0x05};
  auto version = ReadAppletVersion(data.data(), data.size());
  ASSERT_TRUE(version.has_value());
  EXPECT_EQ(FormatAppletVersion(*version), "15");
  data[8] = 0x0A;
  data[9] = 0x10;
  data.push_back(0xEE);
  version = ReadAppletVersion(data.data(), data.size());
  ASSERT_TRUE(version.has_value());
  EXPECT_EQ(FormatAppletVersion(*version), "a10");
  EXPECT_FALSE(ReadAppletVersion(data.data(), 9).has_value());
  EXPECT_FALSE(ReadAppletVersion(nullptr, 0).has_value());
}

TEST(OathVersions, CosVersionShowsTheSecondByteWithTwoDigits) {
  const std::pair<Bytes, const char*> cases[] = {
      {{0x43, 0x01, 0x99}, "4301"},
      {{0x03, 0x05}, "305"},
      {{0x4A, 0xBC, 0x00}, "4abc"},
      {{0x00, 0x00}, "000"},
  };
  for (const auto& [data, text] : cases) {
    const auto version = ReadCosVersion(data.data(), data.size());
    ASSERT_TRUE(version.has_value()) << text;
    EXPECT_EQ(FormatCosVersion(*version), text);
  }
  const Bytes one = {0x43};
  EXPECT_FALSE(ReadCosVersion(one.data(), one.size()).has_value());
}

TEST(OathVersions, TouchIsNeededExactlyForTheListedCosVersions) {
  struct Case {
    std::uint8_t b0;
    std::uint8_t b1;
    bool touch;
  };
  const Case cases[] = {
      {0x00, 0x00, false}, {0x30, 0x55, false}, {0x31, 0x00, true},  {0x3F, 0xFF, true},
      {0x40, 0x01, false}, {0x42, 0xFF, false}, {0x43, 0x00, false}, {0x43, 0x01, true},
      {0x43, 0xFF, true},  {0x44, 0x00, true},  {0x4F, 0x00, true},  {0x50, 0x01, false},
      {0x5F, 0xFF, false}, {0x60, 0x00, true},  {0x6F, 0x10, true},  {0x70, 0x00, false},
      {0xFF, 0xFF, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(CosVersionNeedsTouch(c.b0, c.b1), c.touch) << std::hex << int(c.b0) << " " << int(c.b1);
    const Bytes answer = {c.b0, c.b1, 0x01};
    EXPECT_EQ(CosAnswerNeedsTouch(answer.data(), answer.size()), c.touch);
  }
  // A short answer: the missing second byte reads as 00.
  const Bytes only43 = {0x43};
  const Bytes only31 = {0x31};
  EXPECT_FALSE(CosAnswerNeedsTouch(only43.data(), only43.size()));
  EXPECT_TRUE(CosAnswerNeedsTouch(only31.data(), only31.size()));
  EXPECT_FALSE(CosAnswerNeedsTouch(nullptr, 0));
}

}  // namespace
