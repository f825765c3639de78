// The interface-mode command for each interface set, and how the key's answer is judged.
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

TEST(InterfaceModeCommand, EachInterfaceSetIsSentInTheSixByteCommand) {
  for (const std::uint8_t mode : {0x10, 0x20, 0x30, 0x40, 0x50, 0x60, 0x70}) {
    SCOPED_TRACE(static_cast<int>(mode));
    EXPECT_TRUE(interface_mode::IsKnownMode(mode));
    EXPECT_EQ(interface_mode::BuildCommand(mode).Serialize(),
              (std::vector<std::uint8_t>{0x80, 0xE1, 0xFF, 0x00, 0x01, mode}));
  }
  EXPECT_EQ(interface_mode::BuildCommand(0x30).ToHex(), "80 E1 FF 00 01 30");
}

TEST(InterfaceModeCommand, NoInterfaceAndUnknownBitsAreNoMode) {
  EXPECT_FALSE(interface_mode::IsKnownMode(0x00));
  EXPECT_FALSE(interface_mode::IsKnownMode(0x80));
  EXPECT_FALSE(interface_mode::IsKnownMode(0x11));
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
