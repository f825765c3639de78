#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <PCSC/reader.h>

#include "device/ApduCommand.h"
#include "device/ApduResponse.h"
#include "device/PcscInterface.h"
#include "keysim/VirtualKey.h"
#include "keysim/VirtualPcscApi.h"
#include "tests/support/WaitUntil.h"
#include "oath/OathAnswers.h"
#include "oath/OathCommands.h"

namespace {

// Far beyond any wait that works, far below a hang.
constexpr auto kLimit = std::chrono::seconds(10);
constexpr DWORD kLimitMs = 10'000;

using Bytes = std::vector<std::uint8_t>;
using namespace std::chrono_literals;

const std::string kReader = "Virtual Reader 0";
constexpr DWORD kAnyProtocol = SCARD_PROTOCOL_T0 | SCARD_PROTOCOL_T1;

std::shared_ptr<VirtualKey> MakeKey(bool useT0 = false) {
  VirtualKeyConfig config;
  config.useT0 = useT0;
  return std::make_shared<VirtualKey>(config);
}

class VirtualPcscApiTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(api.EstablishContext(&context), SCARD_S_SUCCESS); }
  void TearDown() override { api.ReleaseContext(context); }

  LONG Connect(SCARDHANDLE* card, DWORD* protocol, DWORD preferred = kAnyProtocol,
               DWORD share = SCARD_SHARE_SHARED) {
    return api.Connect(context, kReader, share, preferred, card, protocol);
  }

  LONG Send(SCARDHANDLE card, DWORD protocol, const Bytes& command, Bytes& answer) {
    answer.assign(258, 0);
    DWORD length = static_cast<DWORD>(answer.size());
    const LONG rv = api.Transmit(card, protocol, command.data(), static_cast<DWORD>(command.size()),
                                 answer.data(), &length);
    answer.resize(rv == SCARD_S_SUCCESS ? length : 0);
    return rv;
  }

  // The reader with `key` in it, connected to through `card` and `protocol`.
  void Plugged(std::shared_ptr<VirtualKey> key = MakeKey()) {
    api.AddReader(kReader);
    api.InsertCard(kReader, std::move(key));
    ASSERT_EQ(Connect(&card, &protocol), SCARD_S_SUCCESS);
  }

  VirtualPcscApi api;
  SCARDCONTEXT context = 0;
  SCARDHANDLE card = 0;
  DWORD protocol = 0;
};

TEST_F(VirtualPcscApiTest, ListsReadersInTheOrderTheyWereAdded) {
  std::vector<char> names;
  EXPECT_EQ(api.ListReaders(context, names), SCARD_E_NO_READERS_AVAILABLE);
  ASSERT_TRUE(api.AddReader("B reader"));
  ASSERT_TRUE(api.AddReader("A reader"));
  EXPECT_FALSE(api.AddReader("A reader"));
  EXPECT_FALSE(api.AddReader(""));
  EXPECT_FALSE(api.AddReader(VirtualPcscApi::kPnpNotification));
  ASSERT_EQ(api.ListReaders(context, names), SCARD_S_SUCCESS);
  EXPECT_EQ(std::string(names.begin(), names.end()), std::string("B reader\0A reader\0\0", 19));
  EXPECT_TRUE(api.RemoveReader("B reader"));
  EXPECT_FALSE(api.RemoveReader("B reader"));
  EXPECT_EQ(api.ReaderNames(), (std::vector<std::string>{"A reader"}));
  EXPECT_EQ(api.ListReaders(context + 1000, names), SCARD_E_INVALID_HANDLE);
}

TEST_F(VirtualPcscApiTest, ConnectNeedsAReaderWithACardAndAMatchingProtocol) {
  EXPECT_EQ(Connect(&card, &protocol), SCARD_E_UNKNOWN_READER);
  api.AddReader(kReader);
  EXPECT_EQ(Connect(&card, &protocol), SCARD_E_NO_SMARTCARD);
  EXPECT_FALSE(api.InsertCard("no such reader", MakeKey()));
  ASSERT_TRUE(api.InsertCard(kReader, MakeKey(true)));
  EXPECT_FALSE(api.InsertCard(kReader, MakeKey())) << "the reader already holds a card";
  EXPECT_EQ(Connect(&card, &protocol, SCARD_PROTOCOL_T1), SCARD_E_PROTO_MISMATCH);
  ASSERT_EQ(Connect(&card, &protocol), SCARD_S_SUCCESS);
  EXPECT_EQ(protocol, static_cast<DWORD>(SCARD_PROTOCOL_T0));
  api.Disconnect(card, SCARD_LEAVE_CARD);

  api.RemoveCard(kReader);
  api.InsertCard(kReader, MakeKey(false));
  ASSERT_EQ(Connect(&card, &protocol), SCARD_S_SUCCESS);
  EXPECT_EQ(protocol, static_cast<DWORD>(SCARD_PROTOCOL_T1));
  std::vector<BYTE> atr;
  DWORD state = 0;
  DWORD statusProtocol = 0;
  ASSERT_EQ(api.Status(card, atr, &state, &statusProtocol), SCARD_S_SUCCESS);
  EXPECT_EQ(atr, VirtualKey::kT1Atr);
  EXPECT_EQ(statusProtocol, static_cast<DWORD>(SCARD_PROTOCOL_T1));
  EXPECT_NE(state & SCARD_PRESENT, 0u);

  SCARDHANDLE second = 0;
  EXPECT_EQ(Connect(&second, &protocol, kAnyProtocol, SCARD_SHARE_EXCLUSIVE), SCARD_E_SHARING_VIOLATION);
  EXPECT_EQ(Connect(&second, &protocol), SCARD_S_SUCCESS) << "shared connections coexist";
}

TEST_F(VirtualPcscApiTest, TransmitReachesTheCardAndReportsASmallBuffer) {
  auto key = MakeKey();
  Plugged(key);
  Bytes answer;
  ASSERT_EQ(Send(card, protocol, BuildSelectOath(), answer), SCARD_S_SUCCESS);
  EXPECT_EQ(answer, (Bytes{0x90, 0x00}));
  EXPECT_TRUE(key->IsOathSelected());
  EXPECT_EQ(key->ReceivedApdus().back(), BuildSelectOath());

  const Bytes cos = BuildGetCosVersion();
  BYTE small[2];
  DWORD length = sizeof small;
  EXPECT_EQ(api.Transmit(card, protocol, cos.data(), static_cast<DWORD>(cos.size()), small, &length),
            SCARD_E_INSUFFICIENT_BUFFER);
  EXPECT_EQ(length, 5u);
  EXPECT_EQ(Send(card, SCARD_PROTOCOL_T0, cos, answer), SCARD_E_PROTO_MISMATCH);
  EXPECT_EQ(Send(card, SCARD_PROTOCOL_RAW, cos, answer), SCARD_S_SUCCESS);
}

TEST_F(VirtualPcscApiTest, HandlesAnswerLikePcscdWithVpcd) {
  Plugged();
  std::vector<BYTE> value;
  std::vector<BYTE> atr;
  Bytes answer;
  // A live handle: the reader offers no attributes.
  EXPECT_EQ(api.GetAttrib(card, SCARD_ATTR_CHANNEL_ID, value), SCARD_E_UNSUPPORTED_FEATURE);
  EXPECT_EQ(api.GetAttrib(card, SCARD_ATTR_ATR_STRING, value), SCARD_E_UNSUPPORTED_FEATURE);

  // The card goes: every use of the handle says so, also after a new card arrives.
  ASSERT_TRUE(api.RemoveCard(kReader));
  EXPECT_FALSE(api.RemoveCard(kReader));
  EXPECT_EQ(Send(card, protocol, BuildList(), answer), SCARD_W_REMOVED_CARD);
  EXPECT_EQ(api.GetAttrib(card, SCARD_ATTR_CHANNEL_ID, value), SCARD_W_REMOVED_CARD);
  EXPECT_EQ(api.Status(card, atr, nullptr, nullptr), SCARD_W_REMOVED_CARD);
  api.InsertCard(kReader, MakeKey());
  EXPECT_EQ(Send(card, protocol, BuildList(), answer), SCARD_W_REMOVED_CARD);

  // After a disconnect the handle is gone.
  EXPECT_EQ(api.Disconnect(card, SCARD_UNPOWER_CARD), SCARD_S_SUCCESS);
  EXPECT_EQ(api.GetAttrib(card, SCARD_ATTR_CHANNEL_ID, value), SCARD_E_INVALID_HANDLE);
  EXPECT_EQ(Send(card, protocol, BuildList(), answer), SCARD_E_INVALID_HANDLE);
  EXPECT_EQ(api.Disconnect(card, SCARD_LEAVE_CARD), SCARD_E_INVALID_HANDLE);

  // The reader goes.
  ASSERT_EQ(Connect(&card, &protocol), SCARD_S_SUCCESS);
  api.RemoveReader(kReader);
  EXPECT_EQ(Send(card, protocol, BuildList(), answer), SCARD_E_READER_UNAVAILABLE);
}

TEST_F(VirtualPcscApiTest, UnpoweringDisconnectDeselectsTheAppletLeavingDoesNot) {
  Plugged();
  api.Disconnect(card, SCARD_LEAVE_CARD);
  Bytes answer;
  const std::pair<DWORD, bool> cases[] = {
      {SCARD_LEAVE_CARD, true}, {SCARD_RESET_CARD, false}, {SCARD_UNPOWER_CARD, false}};
  for (const auto& [disposition, staysSelected] : cases) {
    ASSERT_EQ(Connect(&card, &protocol), SCARD_S_SUCCESS);
    ASSERT_EQ(Send(card, protocol, BuildSelectOath(), answer), SCARD_S_SUCCESS);
    ASSERT_EQ(api.Disconnect(card, disposition), SCARD_S_SUCCESS);
    ASSERT_EQ(Connect(&card, &protocol), SCARD_S_SUCCESS);
    ASSERT_EQ(Send(card, protocol, BuildList(), answer), SCARD_S_SUCCESS);
    EXPECT_EQ(answer == Bytes({0x90, 0x00}), staysSelected) << "disposition " << disposition;
    api.Disconnect(card, SCARD_LEAVE_CARD);
  }
}

TEST_F(VirtualPcscApiTest, PnpNotificationReportsReaderChanges) {
  api.AddReader(kReader);
  SCARD_READERSTATE state{};
  state.szReader = VirtualPcscApi::kPnpNotification;
  state.dwCurrentState = SCARD_STATE_UNAWARE;
  // The caller does not know the count yet: told at once.
  ASSERT_EQ(api.GetStatusChange(context, 0, &state, 1), SCARD_S_SUCCESS);
  EXPECT_EQ(state.dwEventState >> 16, 1u);
  EXPECT_NE(state.dwEventState & SCARD_STATE_CHANGED, 0u);
  state.dwCurrentState = state.dwEventState & ~static_cast<DWORD>(SCARD_STATE_CHANGED);
  EXPECT_EQ(api.GetStatusChange(context, 30, &state, 1), SCARD_E_TIMEOUT);

  // A waiter still waiting when the reader comes is woken by it.
  auto waiter = std::async(std::launch::async, [&] { return api.GetStatusChange(context, kLimitMs, &state, 1); });
  EXPECT_EQ(waiter.wait_for(100ms), std::future_status::timeout);
  api.AddReader("Second reader");
  ASSERT_EQ(waiter.wait_for(kLimit), std::future_status::ready);
  ASSERT_EQ(waiter.get(), SCARD_S_SUCCESS);
  EXPECT_EQ(state.dwEventState >> 16, 2u);

  // A reader removed and another added while waiting is a change although the count is the same.
  state.dwCurrentState = state.dwEventState & ~static_cast<DWORD>(SCARD_STATE_CHANGED);
  waiter = std::async(std::launch::async, [&] { return api.GetStatusChange(context, kLimitMs, &state, 1); });
  EXPECT_EQ(waiter.wait_for(100ms), std::future_status::timeout);
  api.RemoveReader("Second reader");
  api.AddReader("Third reader");
  ASSERT_EQ(waiter.wait_for(kLimit), std::future_status::ready);
  EXPECT_EQ(waiter.get(), SCARD_S_SUCCESS);
}

TEST_F(VirtualPcscApiTest, CardInsertionAndRemovalWakeAWaiter) {
  api.AddReader(kReader);
  SCARD_READERSTATE state{};
  state.szReader = kReader.c_str();
  state.dwCurrentState = SCARD_STATE_UNAWARE;
  ASSERT_EQ(api.GetStatusChange(context, 0, &state, 1), SCARD_S_SUCCESS);
  EXPECT_NE(state.dwEventState & SCARD_STATE_EMPTY, 0u);
  state.dwCurrentState = state.dwEventState;

  auto waiter = std::async(std::launch::async, [&] { return api.GetStatusChange(context, kLimitMs, &state, 1); });
  EXPECT_EQ(waiter.wait_for(100ms), std::future_status::timeout);
  api.InsertCard(kReader, MakeKey());
  ASSERT_EQ(waiter.wait_for(kLimit), std::future_status::ready);
  ASSERT_EQ(waiter.get(), SCARD_S_SUCCESS);
  EXPECT_NE(state.dwEventState & SCARD_STATE_PRESENT, 0u);
  EXPECT_NE(state.dwEventState & SCARD_STATE_CHANGED, 0u);
  EXPECT_EQ(Bytes(state.rgbAtr, state.rgbAtr + state.cbAtr), VirtualKey::kT1Atr);

  // A removal and a new insertion between two calls still show, through the event counter.
  state.dwCurrentState = state.dwEventState & ~static_cast<DWORD>(SCARD_STATE_CHANGED);
  EXPECT_EQ(api.GetStatusChange(context, 0, &state, 1), SCARD_E_TIMEOUT);
  api.RemoveCard(kReader);
  api.InsertCard(kReader, MakeKey());
  EXPECT_EQ(api.GetStatusChange(context, 0, &state, 1), SCARD_S_SUCCESS);
  EXPECT_NE(state.dwEventState & SCARD_STATE_PRESENT, 0u);

  SCARD_READERSTATE unknown{};
  unknown.szReader = "nobody";
  EXPECT_EQ(api.GetStatusChange(context, 1000, &unknown, 1), SCARD_S_SUCCESS);
  EXPECT_NE(unknown.dwEventState & SCARD_STATE_UNKNOWN, 0u);
}

TEST_F(VirtualPcscApiTest, CancelWakesAnEndlessWait) {
  SCARD_READERSTATE state{};
  state.szReader = VirtualPcscApi::kPnpNotification;
  state.dwCurrentState = 0;  // no readers: the count matches
  auto waiter = std::async(std::launch::async,
                           [&] { return api.GetStatusChange(context, INFINITE, &state, 1); });
  EXPECT_EQ(waiter.wait_for(100ms), std::future_status::timeout);
  EXPECT_EQ(api.Cancel(context), SCARD_S_SUCCESS);
  ASSERT_EQ(waiter.wait_for(2s), std::future_status::ready);
  EXPECT_EQ(waiter.get(), SCARD_E_CANCELLED);
  EXPECT_EQ(api.Cancel(context + 1000), SCARD_E_INVALID_HANDLE);
}

TEST_F(VirtualPcscApiTest, AWaitingCardDoesNotBlockTheOtherCalls) {
  VirtualKeyConfig config;
  config.cosVersion = {0x43, 0x01, 0x01};
  config.touch = TouchMode::Never;
  config.touchWindow = 500ms;
  auto key = std::make_shared<VirtualKey>(config);
  Plugged(key);
  Bytes answer;
  ASSERT_EQ(Send(card, protocol, BuildSelectOath(), answer), SCARD_S_SUCCESS);
  auto waiting = std::async(std::launch::async, [&] {
    Bytes resetAnswer;
    Send(card, protocol, BuildReset(), resetAnswer);
    return resetAnswer;
  });
  ASSERT_TRUE(test_wait::WaitUntil([&] { return key->TouchRequests() == 1; }));
  const auto start = std::chrono::steady_clock::now();
  std::vector<char> names;
  EXPECT_EQ(api.ListReaders(context, names), SCARD_S_SUCCESS);
  api.AddReader("Another");
  EXPECT_LT(std::chrono::steady_clock::now() - start, 200ms);
  EXPECT_EQ(waiting.get(), (Bytes{0x69, 0x84}));
}

}  // namespace
