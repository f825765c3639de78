// The harness itself through the real pcscd and vpcd, with raw pcsc-lite calls only: the card
// served by VpcdClient appears and vanishes in the reader, and the bytes an application sends
// reach the card unchanged under T=0 and T=1.
#include <PCSC/reader.h>
#include <PCSC/winscard.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "keysim/TransportTestCard.h"
#include "tests/integration/PcscdHarness.h"

namespace tokvane::integration {
namespace {

using Bytes = std::vector<std::uint8_t>;

// A raw connection to the vpcd reader, released on every path.
class RawConnection {
 public:
  RawConnection() { SCardEstablishContext(SCARD_SCOPE_USER, nullptr, nullptr, &context_); }
  ~RawConnection() {
    if (connected_) SCardDisconnect(card_, SCARD_UNPOWER_CARD);
    SCardReleaseContext(context_);
  }
  RawConnection(const RawConnection&) = delete;
  RawConnection& operator=(const RawConnection&) = delete;

  LONG Connect() {
    const LONG result = SCardConnect(context_, kVpcdReader, SCARD_SHARE_SHARED,
                                     SCARD_PROTOCOL_T0 | SCARD_PROTOCOL_T1, &card_, &protocol_);
    connected_ = result == SCARD_S_SUCCESS;
    return result;
  }
  DWORD Protocol() const { return protocol_; }
  Bytes Transmit(const Bytes& command) {
    Bytes answer(258);
    DWORD length = static_cast<DWORD>(answer.size());
    const SCARD_IO_REQUEST* pci = protocol_ == SCARD_PROTOCOL_T0 ? SCARD_PCI_T0 : SCARD_PCI_T1;
    const LONG result = SCardTransmit(card_, pci, command.data(), static_cast<DWORD>(command.size()),
                                      nullptr, answer.data(), &length);
    answer.resize(result == SCARD_S_SUCCESS ? length : 0);
    return answer;
  }
  Bytes Atr() {
    Bytes atr(MAX_ATR_SIZE);
    DWORD atrLength = static_cast<DWORD>(atr.size());
    DWORD state = 0;
    DWORD protocol = 0;
    DWORD nameLength = 0;
    if (SCardStatus(card_, nullptr, &nameLength, &state, &protocol, atr.data(), &atrLength) != SCARD_S_SUCCESS) {
      return {};
    }
    atr.resize(atrLength);
    return atr;
  }

 private:
  SCARDCONTEXT context_ = 0;
  SCARDHANDLE card_ = 0;
  DWORD protocol_ = 0;
  bool connected_ = false;
};

bool BothVpcdReadersListed() {
  const auto names = ListReaderNamesNow();
  const auto listed = [&](const char* name) { return std::find(names.begin(), names.end(), name) != names.end(); };
  return listed(kVpcdReader) && listed(kVpcdSecondReader);
}

using VpcdHarnessTest = PcscdTest;

TEST_F(VpcdHarnessTest, CardComesAndGoesWhileBothReadersStayListed) {
  auto card = std::make_shared<TransportTestCard>();
  ServedCard served(card);
  EXPECT_TRUE(BothVpcdReadersListed());
  {
    RawConnection connection;
    EXPECT_EQ(connection.Connect(), SCARD_E_NO_SMARTCARD);
  }
  for (int round = 0; round < 3; ++round) {
    SCOPED_TRACE(round);
    ASSERT_TRUE(served.Insert());
    EXPECT_TRUE(BothVpcdReadersListed());
    {
      RawConnection connection;
      ASSERT_EQ(connection.Connect(), SCARD_S_SUCCESS);
      EXPECT_EQ(connection.Atr(), TransportTestCard::kT1Atr);
    }
    ASSERT_TRUE(served.Remove());
    EXPECT_TRUE(BothVpcdReadersListed());
  }
}

struct DeliveryCase {
  const char* name;
  TransportTestCard::Protocol protocol;
  DWORD activeProtocol;
  Bytes atr;
};

class VpcdDeliveryTest : public PcscdTest, public ::testing::WithParamInterface<DeliveryCase> {};

TEST_P(VpcdDeliveryTest, CommandsReachTheCardUntouchedAndAnswersComeBackUntouched) {
  const DeliveryCase& param = GetParam();
  auto card = std::make_shared<TransportTestCard>(param.protocol);
  const Bytes caseFour{0x00, 0xA4, 0x04, 0x00, 0x02, 0x3F, 0x00, 0x00};
  const Bytes caseThree(caseFour.begin(), caseFour.end() - 1);
  card->SetAnswer(caseFour, {0x01, 0x02, 0x90, 0x00});
  card->SetAnswer(caseThree, {0x61, 0x10});
  ServedCard served(card);
  ASSERT_TRUE(served.Insert());
  RawConnection connection;
  ASSERT_EQ(connection.Connect(), SCARD_S_SUCCESS);
  EXPECT_EQ(connection.Protocol(), param.activeProtocol);
  EXPECT_EQ(connection.Atr(), param.atr);
  card->ClearRecord();

  EXPECT_EQ(connection.Transmit(caseFour), (Bytes{0x01, 0x02, 0x90, 0x00}));
  // A 61 xx answer is not chained by the service: GET RESPONSE is the application's job.
  EXPECT_EQ(connection.Transmit(caseThree), (Bytes{0x61, 0x10}));
  EXPECT_EQ(connection.Transmit({0x80, 0x01, 0x00, 0x00}), (Bytes{0x6D, 0x00}));
  EXPECT_EQ(card->Received(), (std::vector<Bytes>{caseFour, caseThree, {0x80, 0x01, 0x00, 0x00}}));
}

INSTANTIATE_TEST_SUITE_P(
    Protocols, VpcdDeliveryTest,
    ::testing::Values(DeliveryCase{"T0", TransportTestCard::Protocol::T0, SCARD_PROTOCOL_T0, TransportTestCard::kT0Atr},
                      DeliveryCase{"T1", TransportTestCard::Protocol::T1, SCARD_PROTOCOL_T1, TransportTestCard::kT1Atr}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tokvane::integration
