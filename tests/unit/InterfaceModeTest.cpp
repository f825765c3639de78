// The interface-mode command for each interface set, and how the key's answer is judged.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "device/AppletSelection.h"
#include "device/CardOsCommands.h"
#include "device/InterfaceMode.h"
#include "device/PcscInterface.h"
#include "keysim/TransportTestCard.h"
#include "keysim/VirtualPcscApi.h"

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

// The exchanges both programs share, over a real PC/SC transport to a scripted card.
class KeyExchangeOverPcsc : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(pcsc_->AddReader(kReader));
    ASSERT_TRUE(pcsc_->InsertCard(kReader, card_));
  }
  static constexpr const char* kReader = "Reader 0";
  std::shared_ptr<VirtualPcscApi> pcsc_ = std::make_shared<VirtualPcscApi>();
  std::shared_ptr<TransportTestCard> card_ = std::make_shared<TransportTestCard>();
  CPcscInterface device_{kReader, pcsc_};
};

TEST_F(KeyExchangeOverPcsc, TheModeCommandGoesOutOnAFreshConnectionAndItsAnswerIsJudged) {
  using interface_mode::Outcome;
  struct Case {
    std::vector<std::uint8_t> answer;
    Outcome outcome;
    bool reasonGiven;  // only when no status word came back
  };
  const Case cases[] = {
      {{0x90, 0x00}, Outcome::Applied, false},
      {{0x69, 0x84}, Outcome::TouchTimedOut, false},
      {{0x6A, 0x80}, Outcome::Refused, false},
      {{0x90}, Outcome::Refused, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.answer.size());
    card_->SetAnswer(interface_mode::BuildCommand(0x30).Serialize(), c.answer);
    ASSERT_TRUE(device_.Open());
    const int resetsBefore = card_->ResetCount();
    ASSERT_TRUE(interface_mode::OpenFreshConnection(device_));
    EXPECT_GT(card_->ResetCount(), resetsBefore);
    const interface_mode::Answer sent = interface_mode::Send(device_, 0x30);
    EXPECT_TRUE(sent.exchanged);
    EXPECT_EQ(sent.outcome, c.outcome);
    EXPECT_EQ(!sent.reason.empty(), c.reasonGiven) << sent.reason;
    device_.Close();
  }

  ASSERT_TRUE(pcsc_->RemoveCard(kReader));
  EXPECT_FALSE(interface_mode::OpenFreshConnection(device_));
  const interface_mode::Answer sent = interface_mode::Send(device_, 0x30);
  EXPECT_EQ(sent.outcome, Outcome::ExchangeFailed);
  EXPECT_FALSE(sent.reason.empty());
}

TEST_F(KeyExchangeOverPcsc, AnAppletSelectionCarriesTheKeysAnswerOrTheTransportsReason) {
  card_->SetAnswer(BuildSelectFido(), {0x6A, 0x82});
  ASSERT_TRUE(device_.Open());
  const applets::SelectionAnswer refused = applets::Select(device_, applets::Applet::Fido);
  EXPECT_TRUE(refused.exchanged);
  EXPECT_EQ(refused.response.StatusWord(), 0x6A82);
  EXPECT_TRUE(refused.reason.empty());
  EXPECT_EQ(card_->Received().back(), BuildSelectFido());

  device_.Close();
  const applets::SelectionAnswer closed = applets::Select(device_, applets::Applet::Oath);
  EXPECT_FALSE(closed.exchanged);
  EXPECT_FALSE(closed.reason.empty());
}

}  // namespace
