// The interface-mode options, the command each sends, and how the key's answer is judged.
#include <gtest/gtest.h>

#include <string>

#include "device/InterfaceMode.h"

namespace {

CApduResponse Answer(std::uint16_t statusWord) {
  const std::uint8_t bytes[] = {static_cast<std::uint8_t>(statusWord >> 8), static_cast<std::uint8_t>(statusWord)};
  CApduResponse response;
  response.Parse(bytes, sizeof bytes);
  return response;
}

TEST(InterfaceModeOptions, EachOptionSendsItsModeInTheSixByteCommand) {
  struct Case {
    const char* option;
    std::uint8_t mode;
  };
  const Case cases[] = {{"otp_select", 0x10},          {"u2f_select", 0x20},      {"otp_u2f_select", 0x30},
                        {"ccid_select", 0x40},         {"otp_ccid_select", 0x50}, {"u2f_ccid_select", 0x60},
                        {"u2f_ccid_otp_select", 0x70}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.option);
    const interface_mode::Option* option = interface_mode::FindOption(c.option);
    ASSERT_NE(option, nullptr);
    EXPECT_EQ(option->modeByte, c.mode);
    EXPECT_EQ(interface_mode::FindOptionByMode(c.mode), option);
    EXPECT_EQ(interface_mode::BuildCommand(*option).Serialize(),
              (std::vector<std::uint8_t>{0x80, 0xE1, 0xFF, 0x00, 0x01, c.mode}));
  }
  EXPECT_EQ(interface_mode::BuildCommand(*interface_mode::FindOption("otp_u2f_select")).ToHex(), "80 E1 FF 00 01 30");
}

TEST(InterfaceModeOptions, NoneAndUnknownNamesSendNothing) {
  EXPECT_EQ(interface_mode::FindOption(interface_mode::kNoneOption), nullptr);
  EXPECT_EQ(interface_mode::FindOption("OTP_SELECT"), nullptr);
  EXPECT_EQ(interface_mode::FindOption(""), nullptr);
  EXPECT_EQ(interface_mode::FindOptionByMode(0x00), nullptr);
  EXPECT_EQ(interface_mode::FindOptionByMode(0x80), nullptr);
}

TEST(InterfaceModeOutcome, StatusWordsAreJudged) {
  using interface_mode::Outcome;
  struct Case {
    bool exchanged;
    std::uint16_t sw;
    Outcome outcome;
  };
  const Case cases[] = {
      {true, 0x9000, Outcome::Applied},        {true, 0x6984, Outcome::TouchTimedOut},
      {true, 0x6A80, Outcome::Refused},        {true, 0x6985, Outcome::Refused},
      {true, 0x9001, Outcome::Refused},        {true, 0x6184, Outcome::Refused},
      {false, 0x9000, Outcome::ExchangeFailed}, {false, 0x6984, Outcome::ExchangeFailed},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(interface_mode::Classify(c.exchanged, Answer(c.sw)), c.outcome) << std::hex << c.sw;
  }
}

}  // namespace
