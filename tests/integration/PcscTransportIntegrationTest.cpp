// The PC/SC transport through the real pcscd and its vpcd reader, with the transport test card
// served in-process: what pcscd makes of the T=0 forms, and how a card that is missing or pulled
// out shows up. The transport's own rules are PcscTransportTest's; raw delivery is VpcdHarnessTest's.
#include <PCSC/pcsclite.h>
#include <PCSC/reader.h>
#include <PCSC/winscard.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "device/ApduCommand.h"
#include "device/ApduResponse.h"
#include "device/PcscApi.h"
#include "device/PcscInterface.h"
#include "keysim/TransportTestCard.h"
#include "tests/integration/PcscdHarness.h"
#include "tests/support/TestBytes.h"
#include "tests/support/TestKeys.h"

namespace tokvane::integration {
namespace {

using test_bytes::Sequence;
using test_keys::Command;

using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

const Bytes kSelectCaseFour{0x00, 0xA4, 0x04, 0x00, 0x02, 0x3F, 0x00, 0x00};
const Bytes kSelectWithoutLe{0x00, 0xA4, 0x04, 0x00, 0x02, 0x3F, 0x00};
constexpr const char* kNoError = "No error.";

// An extended case-6 command with `dataLength` data bytes.
Bytes ExtendedUpdate(std::size_t dataLength) {
  Bytes bytes{0x00, 0xD6, 0x00, 0x00, 0x00, static_cast<std::uint8_t>(dataLength >> 8),
              static_cast<std::uint8_t>(dataLength & 0xFF)};
  const Bytes data = Sequence(dataLength, 1);
  bytes.insert(bytes.end(), data.begin(), data.end());
  return bytes;
}

std::string NoCardText() { return pcsc_stringify_error(SCARD_E_NO_SMARTCARD); }

class PcscTransportIntegrationTest : public PcscdTest {
 protected:
  void Serve(TransportTestCard::Protocol protocol) {
    card_ = std::make_shared<TransportTestCard>(protocol);
    served_ = std::make_unique<ServedCard>(card_);
  }
  void InsertOrFail() { ASSERT_TRUE(served_->Insert()) << "pcscd did not show the served card"; }
  void RemoveOrFail() { ASSERT_TRUE(served_->Remove()) << "pcscd still shows the card"; }
  void TearDown() override { served_.reset(); }

  std::shared_ptr<TransportTestCard> card_;
  std::unique_ptr<ServedCard> served_;
};

TEST_F(PcscTransportIntegrationTest, OpenWithoutACardFailsWithTheServiceTextAndT1CarriesCommandsWhole) {
  Serve(TransportTestCard::Protocol::T1);
  CPcscInterface reader(kVpcdReader, SystemPcscApi());
  EXPECT_FALSE(reader.Open());
  EXPECT_EQ(reader.GetLastErrorText(), NoCardText());
  EXPECT_FALSE(reader.IsOpen());

  InsertOrFail();
  ASSERT_TRUE(reader.Open()) << reader.GetLastErrorText();
  EXPECT_TRUE(reader.IsOpen());
  std::uint8_t atr[40] = {};
  const auto atrLength = reader.GetAtr(atr, sizeof(atr));
  EXPECT_EQ(Bytes(atr, atr + atrLength), TransportTestCard::kT1Atr);
  EXPECT_EQ(reader.GetProtocol(), ProtocolT1);
  // Under T=1 an extended command reaches the card whole.
  const Bytes extended = ExtendedUpdate(300);
  card_->SetAnswer(extended, {0x90, 0x00});
  card_->ClearRecord();
  CApduResponse update;
  ASSERT_TRUE(reader.Exchange(Command(extended), update)) << reader.GetLastErrorText();
  EXPECT_EQ(update.StatusWord(), 0x9000);
  EXPECT_EQ(card_->Received(), std::vector<Bytes>{extended});
  // Opening again resets the card: it is powered down at every close.
  const int resetsBefore = card_->ResetCount();
  ASSERT_TRUE(reader.Open()) << reader.GetLastErrorText();
  EXPECT_GT(card_->ResetCount(), resetsBefore);
  CPcscInterface closedBefore(kVpcdReader, SystemPcscApi());
  ASSERT_TRUE(closedBefore.Open()) << closedBefore.GetLastErrorText();
  ASSERT_TRUE(closedBefore.Close());

  // The card goes again: a closed object finds no card; an open one drops its dead connection first.
  RemoveOrFail();
  EXPECT_FALSE(closedBefore.Open());
  EXPECT_EQ(closedBefore.GetLastErrorText(), NoCardText());
  EXPECT_FALSE(reader.Open());
  EXPECT_EQ(reader.GetLastErrorText(), NoCardText());
  EXPECT_FALSE(reader.IsOpen());
}

// Which pieces go out is PcscTransportTest's; here that pcscd carries them under T=0.
TEST_F(PcscTransportIntegrationTest, T0ExchangeSendsShortFormsGetResponseAndEnvelopes) {
  Serve(TransportTestCard::Protocol::T0);
  const Bytes selectData = Sequence(16, 0xA0);
  card_->SetChainedAnswer(kSelectWithoutLe, selectData);
  const Bytes extended = ExtendedUpdate(300);
  const Bytes updateData = Sequence(20, 0x40);
  card_->SetChainedAnswer(extended, updateData);
  InsertOrFail();
  CPcscInterface reader(kVpcdReader, SystemPcscApi());
  ASSERT_TRUE(reader.Open()) << reader.GetLastErrorText();
  EXPECT_EQ(reader.GetProtocol(), ProtocolT0);
  card_->ClearRecord();

  CApduResponse select;
  ASSERT_TRUE(reader.Exchange(Command(kSelectCaseFour), select)) << reader.GetLastErrorText();
  EXPECT_EQ(select.Data, selectData);
  EXPECT_EQ(select.SW1, 0x90);
  EXPECT_EQ(card_->Received().front(), kSelectWithoutLe);

  CApduResponse update;
  ASSERT_TRUE(reader.Exchange(Command(extended), update)) << reader.GetLastErrorText();
  EXPECT_EQ(update.Data, updateData);
  EXPECT_EQ(update.StatusWord(), 0x9000);
  EXPECT_EQ(card_->EnvelopedCommands(), std::vector<Bytes>{extended});
}

TEST_F(PcscTransportIntegrationTest, ExchangeAfterTheCardWasPulledFailsPromptly) {
  struct Case {
    const char* name;
    TransportTestCard::Protocol protocol;
    Bytes command;
  };
  const Case cases[] = {
      {"T=1 short command", TransportTestCard::Protocol::T1, kSelectCaseFour},
      {"T=0 enveloped command", TransportTestCard::Protocol::T0, ExtendedUpdate(300)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Serve(c.protocol);
    InsertOrFail();
    CPcscInterface reader(kVpcdReader, SystemPcscApi());
    ASSERT_TRUE(reader.Open()) << reader.GetLastErrorText();
    RemoveOrFail();

    const auto before = Clock::now();
    CApduResponse response;
    EXPECT_FALSE(reader.Exchange(Command(c.command), response));
    EXPECT_LT(Clock::now() - before, 5s);
    EXPECT_EQ(reader.GetLastErrorText(), pcsc_stringify_error(SCARD_W_REMOVED_CARD));
    EXPECT_FALSE(reader.IsOpen());
  }
}

// What pcscd with vpcd answers for the channel-id attribute, which the presence check relies on:
// "not supported" on a live handle, "card removed" once the card is gone, "invalid handle" after
// a disconnect.
TEST_F(PcscTransportIntegrationTest, ChannelIdAnswersMapToThePresenceCheck) {
  Serve(TransportTestCard::Protocol::T1);
  InsertOrFail();
  CPcscInterface reader(kVpcdReader, SystemPcscApi());
  ASSERT_TRUE(reader.Open()) << reader.GetLastErrorText();

  SCARDCONTEXT context = 0;
  ASSERT_EQ(SCardEstablishContext(SCARD_SCOPE_USER, nullptr, nullptr, &context), SCARD_S_SUCCESS);
  SCARDHANDLE raw = 0;
  DWORD protocol = 0;
  ASSERT_EQ(SCardConnect(context, kVpcdReader, SCARD_SHARE_SHARED, SCARD_PROTOCOL_T0 | SCARD_PROTOCOL_T1,
                         &raw, &protocol),
            SCARD_S_SUCCESS);
  const auto channelId = [](SCARDHANDLE handle) {
    BYTE value[64];
    DWORD length = sizeof(value);
    return SCardGetAttrib(handle, SCARD_ATTR_CHANNEL_ID, value, &length);
  };

  EXPECT_EQ(channelId(raw), SCARD_E_UNSUPPORTED_FEATURE);
  reader.GetLastErrorText();  // Open's own Close left a text behind; start from "No error."
  EXPECT_TRUE(reader.IsOpen());
  EXPECT_EQ(reader.GetLastErrorText(), kNoError) << "the presence check leaves the error text alone";

  RemoveOrFail();
  EXPECT_EQ(channelId(raw), SCARD_W_REMOVED_CARD);
  EXPECT_FALSE(reader.IsOpen());

  EXPECT_EQ(SCardDisconnect(raw, SCARD_LEAVE_CARD), SCARD_S_SUCCESS);
  EXPECT_EQ(channelId(raw), SCARD_E_INVALID_HANDLE);
  SCardReleaseContext(context);
}

}  // namespace
}  // namespace tokvane::integration
