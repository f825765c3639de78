#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "device/PcscErrors.h"
#include "device/PcscInterface.h"
#include "tests/support/ScriptedPcscApi.h"
#include "tests/support/TestBytes.h"

namespace {

using test_bytes::Concat;
using test_bytes::Sequence;

using Bytes = ScriptedPcscApi::Bytes;

Bytes Hex(const std::string& text) { return ScriptedPcscApi::Hex(text); }
std::string ToHex(const Bytes& bytes) { return ScriptedPcscApi::ToHex(bytes); }

std::string ServiceText(LONG code) { return pcsc_stringify_error(code); }

const std::string kNoServiceHint =
    " (the smart-card service pcscd is not running: start it with 'systemctl start pcscd' or "
    "run 'pcscd')";

class PcscTransport : public ::testing::Test {
 protected:
  // Opens a reader whose card runs `protocol` and checks the connection came up.
  void OpenWith(DWORD protocol) {
    api->activeProtocol = protocol;
    ASSERT_TRUE(reader.Open()) << reader.GetLastErrorText();
    reader.GetLastErrorText();  // Open's own Close leaves its text behind
  }
  bool Exchange(const std::string& commandHex, CApduResponse& response) {
    CApduCommand command;
    command.ParseHex(commandHex);
    return reader.Exchange(command, response);
  }
  std::vector<std::string> SentHex() const {
    std::vector<std::string> texts;
    for (const auto& apdu : api->sent) texts.push_back(ToHex(apdu));
    return texts;
  }

  std::shared_ptr<ScriptedPcscApi> api = std::make_shared<ScriptedPcscApi>();
  CPcscInterface reader{"Virtual PCD 00 00", api};
};

// --- connection ---------------------------------------------------------------------------

TEST_F(PcscTransport, OpenConnectsSharedToTheNamedReaderAndReadsTheAtrFromStatus) {
  OpenWith(SCARD_PROTOCOL_T0);
  EXPECT_EQ(api->connectNames, std::vector<std::string>{"Virtual PCD 00 00"});
  EXPECT_EQ(api->connectShareModes[0], static_cast<DWORD>(SCARD_SHARE_SHARED));
  std::uint8_t atr[40] = {};
  ASSERT_EQ(reader.GetAtr(atr, sizeof(atr)), 4u);
  EXPECT_EQ(ToHex(Bytes(atr, atr + 4)), "3B 02 14 50");
  EXPECT_TRUE(reader.IsOpen());
  EXPECT_EQ(reader.GetName(), L"Virtual PCD 00 00");
}

TEST_F(PcscTransport, FreshObjectPrefersT0OrT1ThenOnlyTheProtocolLastActive) {
  struct Row {
    DWORD active;
    int selector;
    DWORD nextPreferred;
  };
  const Row rows[] = {
      {SCARD_PROTOCOL_T1, ProtocolT1, SCARD_PROTOCOL_T1},
      {SCARD_PROTOCOL_T0, ProtocolT0, SCARD_PROTOCOL_T0},
      {SCARD_PROTOCOL_RAW, ProtocolAnyOrRaw, SCARD_PROTOCOL_T0 | SCARD_PROTOCOL_T1},
  };
  for (const Row& row : rows) {
    auto fake = std::make_shared<ScriptedPcscApi>();
    fake->activeProtocol = row.active;
    CPcscInterface fresh("r", fake);
    EXPECT_EQ(fresh.GetProtocol(), ProtocolAnyOrRaw);
    ASSERT_TRUE(fresh.Open());
    EXPECT_EQ(fresh.GetProtocol(), row.selector);
    ASSERT_TRUE(fresh.Close());
    EXPECT_EQ(fresh.GetProtocol(), row.selector);
    ASSERT_TRUE(fresh.Open());
    EXPECT_EQ(fake->connectPreferred, (std::vector<DWORD>{SCARD_PROTOCOL_T0 | SCARD_PROTOCOL_T1, row.nextPreferred}))
        << row.active;
  }
}

TEST_F(PcscTransport, EveryOpenCloseCycleHasItsOwnContextAndCloseTwiceFailsOnce) {
  for (int cycle = 0; cycle < 3; ++cycle) {
    ASSERT_TRUE(reader.Open());
    ASSERT_TRUE(reader.Close());
  }
  EXPECT_EQ(api->contextsEstablished, 3);
  EXPECT_TRUE(api->Balanced());
  EXPECT_EQ(api->disconnectDispositions, std::vector<DWORD>(3, SCARD_UNPOWER_CARD));
  reader.GetLastErrorText();
  EXPECT_FALSE(reader.Close());
  EXPECT_EQ(reader.GetLastErrorText(), "Interface already disconnected.");
  EXPECT_EQ(reader.GetLastErrorText(), "No error.");
  EXPECT_FALSE(reader.IsOpen());
}

TEST_F(PcscTransport, IsOpenTrustsTheChannelAttributeQuery) {
  struct Row {
    LONG attribResult;
    bool open;
  };
  const Row rows[] = {
      {SCARD_S_SUCCESS, true},
      {SCARD_E_UNSUPPORTED_FEATURE, true},
      {SCARD_E_INVALID_HANDLE, false},
      {SCARD_W_REMOVED_CARD, false},
      {SCARD_E_NO_SERVICE, false},
  };
  OpenWith(SCARD_PROTOCOL_T1);
  for (const Row& row : rows) {
    api->attribResult = row.attribResult;
    EXPECT_EQ(reader.IsOpen(), row.open) << std::hex << row.attribResult;
  }
  EXPECT_EQ(reader.GetLastErrorText(), "No error.");
  ASSERT_TRUE(reader.Close());
  api->attribResult = SCARD_S_SUCCESS;
  EXPECT_FALSE(reader.IsOpen());
}

TEST_F(PcscTransport, AtrIsStoredUpTo32BytesAndCopiedUpToTheCapacity) {
  api->atr = Sequence(33, 1);
  OpenWith(SCARD_PROTOCOL_T1);
  std::uint8_t all[64] = {};
  ASSERT_EQ(reader.GetAtr(all, sizeof(all)), 32u);
  EXPECT_EQ(Bytes(all, all + 32), Sequence(32, 1));
  EXPECT_EQ(all[32], 0);
  std::uint8_t some[12] = {};
  ASSERT_EQ(reader.GetAtr(some, 10), 10u);
  EXPECT_EQ(Bytes(some, some + 12), Concat(Sequence(10, 1), Bytes{0, 0}));
}

TEST_F(PcscTransport, FailedOpenReportsTheServiceTextAndKeepsNothingOpen) {
  struct Row {
    LONG ScriptedPcscApi::*step;
    LONG code;
    std::string hint;
  };
  const Row rows[] = {
      {&ScriptedPcscApi::connectResult, SCARD_E_NO_SMARTCARD, ""},
      {&ScriptedPcscApi::connectResult, SCARD_E_SHARING_VIOLATION, ""},
      {&ScriptedPcscApi::statusResult, SCARD_W_REMOVED_CARD, ""},
      {&ScriptedPcscApi::establishResult, SCARD_E_NO_MEMORY, ""},
      // The service not running: the text says how to start it.
      {&ScriptedPcscApi::establishResult, SCARD_E_NO_SERVICE, kNoServiceHint},
  };
  for (const Row& row : rows) {
    auto fake = std::make_shared<ScriptedPcscApi>();
    (*fake).*(row.step) = row.code;
    CPcscInterface failing("r", fake);
    EXPECT_FALSE(failing.Open());
    EXPECT_EQ(failing.GetLastErrorText(), ServiceText(row.code) + row.hint);
    EXPECT_FALSE(failing.IsOpen());
    EXPECT_TRUE(fake->Balanced()) << "context or card left open after " << std::hex << row.code;
  }
}

TEST_F(PcscTransport, RestartedServiceIsUsableAgainOnTheNextOpen) {
  OpenWith(SCARD_PROTOCOL_T1);
  api->Restart();
  EXPECT_FALSE(reader.IsOpen());
  ASSERT_TRUE(reader.Open()) << reader.GetLastErrorText();
  EXPECT_TRUE(reader.IsOpen());
  api->Answers({"90 00"});
  CApduResponse response;
  EXPECT_TRUE(Exchange("00 A4 04 00 00", response));
  EXPECT_TRUE(reader.Close());
  EXPECT_TRUE(api->Balanced());
}

TEST_F(PcscTransport, SetProtocolAcceptsOnlyContactSelectors) {
  OpenWith(SCARD_PROTOCOL_T1);
  EXPECT_FALSE(reader.SetProtocol(3));
  EXPECT_EQ(reader.GetLastErrorText(), "CL TypeA and TypeB not Supported.");
  EXPECT_TRUE(reader.IsOpen());
  EXPECT_EQ(reader.GetProtocol(), ProtocolT1);
  EXPECT_TRUE(reader.SetProtocol(ProtocolT0));
  EXPECT_FALSE(reader.IsOpen());
  ASSERT_TRUE(reader.Open());
  EXPECT_EQ(api->connectPreferred.back(), static_cast<DWORD>(SCARD_PROTOCOL_T0));
}

TEST_F(PcscTransport, ReaderNamesAreKeptWholeHoweverLong) {
  const std::string longName = "Long Reader " + std::string(1000, 'x') + " 00 00";
  CPcscInterface named(longName, api);
  EXPECT_EQ(named.GetName(), std::wstring(longName.begin(), longName.end()));
  ASSERT_TRUE(named.Open());
  EXPECT_EQ(api->connectNames.back(), longName);
}

TEST(PcscErrorTextHelper, StripsLineFeedsOnlyAndKeepsThePreviousTextWhenNoneComes) {
  ScriptedPcscApi api;
  api.errorText = [](LONG) { return std::string("\n\r Card gone\r\n\n"); };
  EXPECT_EQ(PcscErrorText(api, SCARD_W_REMOVED_CARD, "old"), "\r Card gone\r");
  api.errorText = [](LONG) { return std::string(); };
  EXPECT_EQ(PcscErrorText(api, SCARD_W_REMOVED_CARD, "old"), "old");
}

// --- exchange ---------------------------------------------------------------------------

// One exchange under T=0: what goes out for the command, and what the caller gets back.
TEST(PcscTransportT0, CommandFormsGetResponseAndFailuresOfOneExchange) {
  const ScriptedPcscApi::Answer gone{SCARD_W_REMOVED_CARD, {}};
  const auto ok = [](const char* hex) { return ScriptedPcscApi::Answer{SCARD_S_SUCCESS, Hex(hex)}; };
  const std::string data16 = "A0 A1 A2 A3 A4 A5 A6 A7 A8 A9 AA AB AC AD AE AF";
  const struct {
    const char* name;
    const char* command;
    std::vector<ScriptedPcscApi::Answer> answers;
    std::vector<std::string> sent;
    bool exchanged;
    std::string response;  // when exchanged
    std::string reason;
  } rows[] = {
      {"case 4 goes without Le, its answer fetched", "00 A4 04 00 02 3F 00 00", {ok("61 10"), ok((data16 + " 90 00").c_str())},
       {"00 A4 04 00 02 3F 00", "00 C0 00 00 10"}, true, data16 + " 90 00", "No error."},
      {"GET RESPONSE never asks past the command's Le", "00 B2 01 04 04",
       {ok("61 10"), ok("01 02 03 04 61 0C"), ok("05 06 07 08 90 00")},
       {"00 B2 01 04 04", "00 C0 00 00 04", "00 C0 00 00 04"}, true, "01 02 03 04 05 06 07 08 90 00", "No error."},
      {"extended Le 1 as a short Le byte", "00 B0 00 00 00 00 01", {ok("90 00")}, {"00 B0 00 00 01"}, true, "90 00", "No error."},
      {"extended Le 255", "00 B0 00 00 00 00 FF", {ok("90 00")}, {"00 B0 00 00 FF"}, true, "90 00", "No error."},
      {"extended Le 256", "00 B0 00 00 00 01 00", {ok("90 00")}, {"00 B0 00 00 00"}, true, "90 00", "No error."},
      {"extended Le 65536", "00 B0 00 00 00 00 00", {ok("90 00")}, {"00 B0 00 00 00"}, true, "90 00", "No error."},
      {"extended Le 0x1234", "00 B0 00 00 00 12 34", {ok("90 00")}, {"00 B0 00 00 00"}, true, "90 00", "No error."},
      {"extended short data in short form", "84 D6 00 00 00 00 02 AA BB", {ok("61 03"), ok("01 02 03 90 00")},
       {"84 D6 00 00 02 AA BB", "04 C0 00 00 03"}, true, "01 02 03 90 00", "No error."},
      {"extended short data and Le, Le left out", "84 D6 00 00 00 00 02 AA BB 01 00",
       {ok("61 03"), ok("01 02 03 90 00")}, {"84 D6 00 00 02 AA BB", "04 C0 00 00 03"}, true, "01 02 03 90 00",
       "No error."},
      // Unrecognised body: sent whole inside one ENVELOPE; its Le is none, so GET RESPONSE asks 02.
      {"enveloped answer fetched", "80 10 00 00 00 00", {ok("CC 61 02"), ok("DD EE 90 00")},
       {"00 C2 00 00 06 80 10 00 00 00 00", "00 C0 00 00 02"}, true, "CC DD EE 90 00", "No error."},
      {"only a successful last piece counts", "80 10 00 00 00 00", {ok("CC 61 02"), ok("DD EE 6F 00")},
       {"00 C2 00 00 06 80 10 00 00 00 00", "00 C0 00 00 02"}, true, "CC 6F 00", "No error."},
      {"a too short piece ends the chain, no old data repeated", "00 B2 01 04 00", {ok("AA 61 02"), ok("BB")},
       {"00 B2 01 04 00", "00 C0 00 00 02"}, true, "AA 00 00", kNoStatusWordText},
      {"card pulled out before the exchange", "00 A4 04 00 02 3F 00", {gone}, {"00 A4 04 00 02 3F 00"}, false, "",
       ServiceText(SCARD_W_REMOVED_CARD)},
      {"card pulled out during the chain", "00 A4 04 00 02 3F 00", {ok("61 10"), gone},
       {"00 A4 04 00 02 3F 00", "00 C0 00 00 10"}, false, "", ServiceText(SCARD_W_REMOVED_CARD)},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    auto api = std::make_shared<ScriptedPcscApi>();
    api->activeProtocol = SCARD_PROTOCOL_T0;
    CPcscInterface reader("r", api);
    ASSERT_TRUE(reader.Open());
    reader.GetLastErrorText();
    api->answers.assign(row.answers.begin(), row.answers.end());
    CApduCommand command;
    command.ParseHex(row.command);
    CApduResponse response;
    EXPECT_EQ(reader.Exchange(command, response), row.exchanged);
    std::vector<std::string> sent;
    for (const auto& apdu : api->sent) sent.push_back(ToHex(apdu));
    EXPECT_EQ(sent, row.sent);
    EXPECT_EQ(api->sentProtocols, std::vector<DWORD>(sent.size(), SCARD_PROTOCOL_T0));
    if (row.exchanged) {
      EXPECT_EQ(response.ToHex(), row.response);
    }
    EXPECT_EQ(reader.GetLastErrorText(), row.reason);
  }
  // Without a connection nothing goes out.
  auto api = std::make_shared<ScriptedPcscApi>();
  CPcscInterface closed("r", api);
  CApduCommand command;
  command.ParseHex("00 A4 04 00 00");
  CApduResponse response;
  EXPECT_FALSE(closed.Exchange(command, response));
  EXPECT_EQ(closed.GetLastErrorText(), ServiceText(SCARD_E_INVALID_HANDLE));
  EXPECT_TRUE(api->sent.empty());
}

TEST_F(PcscTransport, GetResponseChainCollectsEveryPieceInOrderWithTheLastStatus) {
  OpenWith(SCARD_PROTOCOL_T0);
  api->answers.push_back({SCARD_S_SUCCESS, Hex("11 22 61 00")});
  api->answers.push_back({SCARD_S_SUCCESS, Concat(Sequence(256), Hex("61 05"))});
  api->answers.push_back({SCARD_S_SUCCESS, Hex("AA BB CC DD EE 62 83")});
  CApduResponse response;
  ASSERT_TRUE(Exchange("80 CA 00 00 00", response));
  // The class loses bit 8; Le is the smaller of the last Le and the count the card offers.
  EXPECT_EQ(SentHex(),
            (std::vector<std::string>{"80 CA 00 00 00", "00 C0 00 00 00", "00 C0 00 00 05"}));
  EXPECT_EQ(response.Data, Concat(Concat(Hex("11 22"), Sequence(256)), Hex("AA BB CC DD EE")));
  EXPECT_EQ(response.StatusWord(), 0x6283);
}

TEST_F(PcscTransport, MoreDataStatusIsReturnedUnchangedUnderT1OrWithAutoGetResponseOff) {
  for (const bool t1 : {true, false}) {
    auto fake = std::make_shared<ScriptedPcscApi>();
    fake->activeProtocol = t1 ? SCARD_PROTOCOL_T1 : SCARD_PROTOCOL_T0;
    CPcscInterface card("r", fake);
    ASSERT_TRUE(card.Open());
    if (!t1) {
      EXPECT_TRUE(card.SetAutoGetResponse(false));
      EXPECT_FALSE(card.SetAutoGetResponse(false));
    }
    fake->Answers({"01 02 61 10"});
    CApduCommand command;
    command.ParseHex("00 A4 04 00 02 3F 00 00");
    CApduResponse response;
    ASSERT_TRUE(card.Exchange(command, response));
    EXPECT_EQ(response.ToHex(), "01 02 61 10");
    ASSERT_EQ(fake->sent.size(), 1u);
    // Only T=0 drops the Le of a case-4 command.
    EXPECT_EQ(ToHex(fake->sent[0]), t1 ? "00 A4 04 00 02 3F 00 00" : "00 A4 04 00 02 3F 00");
  }
}

TEST_F(PcscTransport, T0LongDataGoesInEnvelopesOfAt250BytesEachAfterTheLastSucceeded) {
  CApduCommand command;
  command.Cla = 0x80;
  command.Ins = 0xD6;
  ASSERT_TRUE(command.SetData(Sequence(300).data(), 300));
  const Bytes encoded = command.Serialize();
  ASSERT_EQ(encoded.size(), 307u);
  const Bytes first = Concat(Hex("00 C2 00 00 FA"), Bytes(encoded.begin(), encoded.begin() + 250));
  const Bytes second = Concat(Hex("00 C2 00 00 39"), Bytes(encoded.begin() + 250, encoded.end()));

  OpenWith(SCARD_PROTOCOL_T0);
  api->Answers({"90 00", "90 00"});
  CApduResponse response;
  ASSERT_TRUE(reader.Exchange(command, response));
  EXPECT_EQ(api->sent, (std::vector<Bytes>{first, second}));
  EXPECT_EQ(response.ToHex(), "90 00");

  // A refused first piece ends the exchange with the card's status.
  api->sent.clear();
  api->Answers({"6A 80"});
  CApduResponse refused;
  ASSERT_TRUE(reader.Exchange(command, refused));
  EXPECT_EQ(api->sent, std::vector<Bytes>{first});
  EXPECT_EQ(refused.ToHex(), "6A 80");
}

TEST_F(PcscTransport, T0ExtendedCase7InEnvelopesLeavesItsLeOut) {
  CApduCommand command;
  command.Ins = 0xDB;
  ASSERT_TRUE(command.SetData(Sequence(256).data(), 256));
  command.Le = 0x0200;
  command.Case = ApduCaseExtendedLcLe;
  const Bytes encoded = command.Serialize();
  OpenWith(SCARD_PROTOCOL_T0);
  api->Answers({"90 00", "61 00"});
  api->answers.push_back({SCARD_S_SUCCESS, Concat(Sequence(256), Hex("90 00"))});
  CApduResponse response;
  ASSERT_TRUE(reader.Exchange(command, response));
  ASSERT_EQ(api->sent.size(), 3u);
  EXPECT_EQ(Bytes(api->sent[1].begin() + 5, api->sent[1].end()),
            Bytes(encoded.begin() + 250, encoded.end() - 2));
  EXPECT_EQ(ToHex(api->sent[2]), "00 C0 00 00 00");
  EXPECT_EQ(response.Data, Sequence(256));
}

// A card that keeps offering 256 more bytes, from the first answer on.
ScriptedPcscApi::Answer EndlessFullPieces(const Bytes&) {
  return {SCARD_S_SUCCESS, Concat(Bytes(256, 0x5A), Hex("61 00"))};
}

TEST_F(PcscTransport, CollectedDataNeverPassesTheResponseLimit) {
  for (const char* command : {"00 B2 01 04 00", "00 10 00 00 00 00"}) {
    api->sent.clear();
    OpenWith(SCARD_PROTOCOL_T0);
    api->responder = EndlessFullPieces;
    CApduResponse response;
    EXPECT_FALSE(Exchange(command, response)) << command;
    EXPECT_EQ(reader.GetLastErrorText(), "The card's response is longer than 65535 bytes.");
    EXPECT_LE(api->sent.size(), 257u);
  }
}

TEST_F(PcscTransport, ChainOfExactlyTheLimitIsDelivered) {
  OpenWith(SCARD_PROTOCOL_T0);
  api->Answers({"61 00"});
  for (int piece = 0; piece < 255; ++piece) {
    api->answers.push_back({SCARD_S_SUCCESS, Concat(Bytes(256, 0x33), Hex("61 00"))});
  }
  api->answers.push_back({SCARD_S_SUCCESS, Concat(Bytes(255, 0x44), Hex("90 00"))});
  CApduResponse response;
  ASSERT_TRUE(Exchange("00 B2 01 04 00", response)) << reader.GetLastErrorText();
  EXPECT_EQ(response.DataLength, 65535);
  EXPECT_EQ(response.Data.size(), 65535u);
  EXPECT_EQ(response.Data.back(), 0x44);
  EXPECT_EQ(response.StatusWord(), 0x9000);
}

TEST_F(PcscTransport, ChainThatDoesNotEndIsGivenUpAfterABoundedNumberOfRounds) {
  const struct {
    const char* name;
    ScriptedPcscApi::Answer (*answer)(const Bytes&);
    std::size_t sent;
  } cases[] = {
      {"no data, 61 01 each round: sixteen GET RESPONSE rounds",
       [](const Bytes&) { return ScriptedPcscApi::Answer{SCARD_S_SUCCESS, Hex("61 01")}; }, 1u + 16u},
      // Inside the 65,535-byte limit for 65,535 rounds: the number of rounds is bounded as well.
      {"one byte and 61 01 each round: 1,024 GET RESPONSE rounds",
       [](const Bytes&) { return ScriptedPcscApi::Answer{SCARD_S_SUCCESS, Hex("5A 61 01")}; }, 1u + 1024u},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    api->sent.clear();
    OpenWith(SCARD_PROTOCOL_T0);
    api->responder = c.answer;
    CApduResponse response;
    EXPECT_FALSE(Exchange("00 B2 01 04 00", response));
    EXPECT_EQ(reader.GetLastErrorText(), "The card's response chain did not end.");
    EXPECT_EQ(api->sent.size(), c.sent);
  }
}

TEST_F(PcscTransport, AnswersWithoutAStatusWordSayWhyAndAnswersPastTheLimitFail) {
  const struct {
    std::size_t length;
    bool exchanged;
    std::string reason;
  } cases[] = {
      {0, true, kNoStatusWordText},
      {1, true, kNoStatusWordText},
      {2, true, "No error."},
      {65535, true, "No error."},
      {65536, false, "The card's response is longer than 65535 bytes."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.length);
    OpenWith(SCARD_PROTOCOL_T1);
    Bytes answer(c.length, 0x11);
    if (c.length >= 2) {
      answer[c.length - 2] = 0x90;
      answer[c.length - 1] = 0x00;
    }
    api->answers.push_back({SCARD_S_SUCCESS, answer});
    CApduResponse response;
    EXPECT_EQ(Exchange("00 B2 01 04 00", response), c.exchanged);
    EXPECT_EQ(reader.GetLastErrorText(), c.reason);
    EXPECT_EQ(response.HasStatusWord(), c.length >= 2 && c.exchanged);
    reader.Close();
  }
}

}  // namespace
