#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "device/ApduCommand.h"
#include "device/ApduResponse.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(ApduCommandParse, RecognisesEveryIsoCaseAndReEncodesItsInputExceptTheEmptyExtendedLe) {
  struct Case {
    const char* hex;
    int apduCase;
    std::uint16_t lc;
    std::uint16_t le;
    bool extended;
    bool result;
    const char* reencoded;  // nullptr: the input
  };
  const Case cases[] = {
      {"00 17 00 00", ApduCaseHeaderOnly, 0, 0, false, true, nullptr},
      {"80 E3 00 00 03", ApduCaseShortLe, 0, 3, false, true, nullptr},
      {"00 A2 01 00 00", ApduCaseShortLe, 0, 256, false, true, nullptr},
      {"00 A4 04 00 02 3F 00", ApduCaseShortLc, 2, 0, false, true, nullptr},
      {"00 A4 04 00 02 3F 00 00", ApduCaseShortLcLe, 2, 256, false, true, nullptr},
      {"00 B0 00 00 00 01 00", ApduCaseExtendedLe, 0, 256, true, true, nullptr},
      {"00 B0 00 00 00 00 00", ApduCaseExtendedLe, 0, 0, true, true, "00 B0 00 00 00"},
      {"00 D6 00 00 00 00 02 AA BB", ApduCaseExtendedLc, 2, 0, true, true, nullptr},
      {"00 D6 00 00 00 00 02 AA BB 01 00", ApduCaseExtendedLcLe, 2, 256, true, true, nullptr},
      {"00 00 00 00 00 00", ApduCaseUnrecognised, 0, 0, true, false, nullptr},
      // A length that does not match stays raw.
      {"00 A4 04 00 05 01 02", ApduCaseUnrecognised, 0, 0, true, false, nullptr},
  };
  for (const auto& c : cases) {
    CApduCommand command;
    EXPECT_EQ(command.ParseHex(c.hex), c.result) << c.hex;
    EXPECT_EQ(command.Case, c.apduCase) << c.hex;
    EXPECT_EQ(command.Lc, c.lc) << c.hex;
    EXPECT_EQ(command.Le, c.le) << c.hex;
    EXPECT_EQ(command.Extended, c.extended) << c.hex;
    EXPECT_EQ(command.Data.size(), c.lc) << c.hex;
    EXPECT_EQ(command.ToHex(), c.reencoded ? c.reencoded : c.hex);
  }
}

TEST(ApduCommandParse, FewerThanFourBytesLeaveTheCommandUnchanged) {
  CApduCommand command;
  command.ParseHex("80 E3 00 00 03");
  const std::uint8_t three[] = {1, 2, 3};
  EXPECT_FALSE(command.Parse(three, 3));
  EXPECT_EQ(command.Cla, 0x80);
  EXPECT_EQ(command.Le, 3);

  CApduCommand fresh;
  EXPECT_FALSE(fresh.Parse(three, 3));
  EXPECT_EQ(fresh.ToHex(), "00 00 00 00");
}

TEST(ApduCommandSerialize, ReportsLengthAndRefusesShortBuffers) {
  CApduCommand command;
  command.ParseHex("00 A4 04 00 02 3F 00");
  EXPECT_EQ(command.Serialize(nullptr, 0), 7u);
  std::uint8_t buffer[7] = {};
  EXPECT_EQ(command.Serialize(buffer, 6), 0u);
  EXPECT_EQ(buffer[0], 0);  // nothing written
  EXPECT_EQ(command.Serialize(buffer, 7), 7u);
  EXPECT_EQ(buffer[6], 0x00);
  EXPECT_EQ(buffer[5], 0x3F);
}

TEST(ApduCommandSetData, SwitchesToExtendedPastTwoHundredFiftyFiveBytes) {
  CApduCommand command;
  command.Ins = 0xC2;
  const Bytes data(300, 0x5A);
  EXPECT_TRUE(command.SetData(data.data(), 300));
  EXPECT_TRUE(command.Extended);
  EXPECT_EQ(command.Serialize(nullptr, 0), 307u);
  EXPECT_TRUE(command.SetData(data.data(), 250));
  EXPECT_FALSE(command.Extended);
  EXPECT_EQ(command.Serialize(nullptr, 0), 255u);
  EXPECT_FALSE(command.SetData(nullptr, 4));
  EXPECT_EQ(command.Lc, 250);
  EXPECT_TRUE(command.SetData(nullptr, 0));
  EXPECT_EQ(command.ToHex(), "00 C2 00 00");
}

TEST(ApduCommandParseHex, LongestExtendedCommandRoundTrips) {
  Bytes bytes = {0x00, 0xD6, 0x00, 0x00, 0x00, 0xFF, 0xFF};
  bytes.resize(7 + 65535, 0x11);
  bytes.push_back(0x00);
  bytes.push_back(0x10);
  CApduCommand command;
  ASSERT_TRUE(command.Parse(bytes.data(), bytes.size()));
  EXPECT_EQ(command.Case, ApduCaseExtendedLcLe);
  EXPECT_EQ(command.Lc, 65535);
  EXPECT_EQ(command.Serialize(), bytes);
  CApduCommand fromHex;
  ASSERT_TRUE(fromHex.ParseHex(command.ToHex()));
  EXPECT_EQ(fromHex.Serialize(), bytes);
}

TEST(ApduResponse, ParsesDataAndStatusWord) {
  CApduResponse response;
  ASSERT_TRUE(response.ParseHex("90 00"));
  EXPECT_EQ(response.DataLength, 0);
  EXPECT_EQ(response.StatusWord(), 0x9000);
  EXPECT_TRUE(response.IsSuccess());
  EXPECT_EQ(response.ToHex(), "90 00");

  ASSERT_TRUE(response.ParseHex("01 02 69 84"));
  EXPECT_EQ(response.DataLength, 2);
  EXPECT_EQ(response.Data, (Bytes{1, 2}));
  EXPECT_EQ(response.StatusWord(), 0x6984);
  EXPECT_EQ(response.ToHex(), "01 02 69 84");

  EXPECT_FALSE(response.ParseHex("90"));  // one byte: unchanged
  EXPECT_EQ(response.StatusWord(), 0x6984);
  EXPECT_EQ(response.DataLength, 2);
}

TEST(ApduResponse, EnforcesTheLengthLimits) {
  CApduResponse response;
  Bytes big(65536, 0x01);
  EXPECT_FALSE(response.Parse(big.data(), big.size()));
  EXPECT_TRUE(response.Parse(big.data(), 65535));
  EXPECT_EQ(response.DataLength, 65533);

  EXPECT_FALSE(response.SetData(big.data(), 65536));
  EXPECT_TRUE(response.SetData(big.data(), 65535));
  EXPECT_EQ(response.DataLength, 65535);
  EXPECT_FALSE(response.SetData(nullptr, 3));
  EXPECT_EQ(response.DataLength, 65535);

  CApduResponse copy;
  copy = response;
  EXPECT_EQ(copy.Data, response.Data);
  EXPECT_EQ(copy.StatusWord(), response.StatusWord());
}

}  // namespace
