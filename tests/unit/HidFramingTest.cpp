// The HID transport's two framings against a scripted device: what goes out, byte for byte,
// how answers are put together, and where it must give up.
#include <gtest/gtest.h>

#include <array>
#include <cctype>
#include <chrono>
#include <memory>
#include <numeric>
#include <string>

#include "device/DeviceBackends.h"
#include "device/HidDiscovery.h"
#include "device/KeyModels.h"
#include "device/VidPidConfig.h"
#include "device/VnCosHidInterface.h"
#include "tests/support/ScriptedHidApi.h"
#include "tests/support/TestKeys.h"

namespace {

using Report = ScriptedHidApi::Report;
using test_keys::CommandOfLength;
using namespace std::chrono_literals;

constexpr std::uint16_t kVid = 0x1209;
constexpr std::uint16_t kPid = 0xBEEF;
constexpr std::array<std::uint8_t, 4> kChannel{0xC1, 0xC2, 0xC3, 0xC4};
const std::wstring kKbName = L"VORTAN HID DEVICE KB 0";
const std::wstring kU2fName = L"VORTAN HID DEVICE U2F 0";

Report InitAnswer() {
  Report report(65, 0);
  std::fill(report.begin() + 1, report.begin() + 5, 0xFF);
  report[5] = 0x86;
  report[7] = 17;
  std::copy(kChannel.begin(), kChannel.end(), report.begin() + 16);
  return report;
}

// The answer as a key sends it: initialisation packet, then continuations numbered from `firstSequence`.
std::vector<Report> AnswerPackets(const std::vector<std::uint8_t>& answer, std::uint8_t firstSequence = 0,
                                  std::size_t announced = SIZE_MAX) {
  if (announced == SIZE_MAX) announced = answer.size();
  std::vector<Report> packets;
  Report first(65, 0);
  std::copy(kChannel.begin(), kChannel.end(), first.begin() + 1);
  first[5] = 0x83;
  first[6] = static_cast<std::uint8_t>(announced >> 8);
  first[7] = static_cast<std::uint8_t>(announced);
  std::size_t sent = std::min<std::size_t>(answer.size(), 57);
  std::copy_n(answer.begin(), sent, first.begin() + 8);
  packets.push_back(first);
  for (std::uint8_t sequence = firstSequence; sent < answer.size(); ++sequence) {
    Report next(65, 0);
    std::copy(kChannel.begin(), kChannel.end(), next.begin() + 1);
    next[5] = sequence;
    const std::size_t chunk = std::min<std::size_t>(answer.size() - sent, 59);
    std::copy_n(answer.begin() + static_cast<std::ptrdiff_t>(sent), chunk, next.begin() + 6);
    packets.push_back(next);
    sent += chunk;
  }
  return packets;
}

Report ZeroLengthReport() {
  Report report(65, 0);
  std::copy(kChannel.begin(), kChannel.end(), report.begin() + 1);
  report[5] = 0x83;
  return report;
}

Report FeatureReply(const std::vector<std::uint8_t>& payload, std::size_t reportLength, int lengthByte = -1) {
  Report report(reportLength, 0);
  report[1] = static_cast<std::uint8_t>(lengthByte < 0 ? static_cast<int>(payload.size()) : lengthByte);
  std::copy_n(payload.begin(), std::min(payload.size(), reportLength - 2), report.begin() + 2);
  return report;
}

std::vector<std::uint8_t> AnswerOfLength(std::size_t length) {
  std::vector<std::uint8_t> answer(length);
  std::iota(answer.begin(), answer.end(), std::uint8_t{1});
  answer[length - 2] = 0x90;
  answer[length - 1] = 0x00;
  return answer;
}

std::size_t PacketsFor(std::size_t length) { return length <= 57 ? 1 : 1 + (length - 57 + 58) / 59; }

class HidFramingTest : public ::testing::Test {
 protected:
  // The transport outlives a TearDown and SetUp pair, as the interface the test scripts does.
  void SetUp() override {
    *api = ScriptedHidApi();
    backends.models->SetEntries({VidPidEntry::Make(kVid, 0)});
    backends.models->LockOn(DefaultVidPidEntry().Vid(), 0);
    hid.SetExchangeTimeout(300ms);
  }
  void TearDown() override { hid.Close(); }

  int Enumerate() {
    std::vector<std::wstring> names;
    return EnumerateHidDevices(*api, *backends.models, names);
  }

  void OpenKeyboard() {
    api->AddInterface("kb", kVid, kPid, true);
    ASSERT_EQ(Enumerate(), 1);
    hid.SetName(kKbName);
    ASSERT_TRUE(hid.Open());
  }

  void OpenU2f() {
    api->AddInterface("u2f", kVid, kPid, false);
    ASSERT_EQ(Enumerate(), 1);
    api->staged.emplace(1, InitAnswer());
    hid.SetName(kU2fName);
    ASSERT_TRUE(hid.Open()) << hid.FailureReason();
    ASSERT_EQ(api->written.size(), 1u);
  }

  // Releases `packets` once the command of `commandLength` bytes has been written after INIT.
  void StageAnswer(std::size_t commandLength, const std::vector<Report>& packets) {
    for (const Report& packet : packets) api->staged.emplace(1 + PacketsFor(commandLength), packet);
  }

  std::shared_ptr<ScriptedHidApi> api = std::make_shared<ScriptedHidApi>();
  DeviceBackends backends = MakeDeviceBackends(nullptr, api);
  VnCosHidInterface hid{backends};
};

// Each row of a table runs as a test of its own, on a fresh fixture, named after the row.
template <typename Case>
class HidFramingTable : public HidFramingTest, public ::testing::WithParamInterface<Case> {};

template <typename Case>
std::string RowName(const ::testing::TestParamInfo<Case>& info) {
  std::string name = info.param.name;
  for (char& c : name) {
    if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
  }
  return name;
}

// ---- U2FHID framing ----

TEST_F(HidFramingTest, InitAsksOnTheBroadcastChannelWithARandomNonceAndTakesTheAnsweredChannel) {
  OpenU2f();
  const Report& init = api->written[0];
  ASSERT_EQ(init.size(), 65u);
  EXPECT_EQ(Report(init.begin(), init.begin() + 8), (Report{0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0x86, 0x00, 0x08}));
  EXPECT_TRUE(std::all_of(init.begin() + 16, init.end(), [](std::uint8_t b) { return b == 0; }));
  EXPECT_EQ(hid.ChannelId, kChannel);

  hid.Close();
  api->staged.emplace(2, InitAnswer());
  ASSERT_TRUE(hid.Open());
  // Two nonces of eight random bytes are equal once in 2^64 runs.
  EXPECT_NE(Report(api->written[0].begin() + 8, api->written[0].begin() + 16),
            Report(api->written[1].begin() + 8, api->written[1].begin() + 16));
}

TEST_F(HidFramingTest, CommandsAreSplitIntoInitialisationAndContinuationPackets) {
  // {command length, packets}: 57 bytes fit the initialisation packet, 59 each continuation.
  const std::pair<std::size_t, std::size_t> cases[] = {{5, 1}, {57, 1}, {58, 2}, {128, 3}};
  OpenU2f();
  for (const auto& [length, packets] : cases) {
    SCOPED_TRACE(length);
    const CApduCommand command = CommandOfLength(length);
    const std::size_t before = api->written.size();
    for (const Report& packet : AnswerPackets({0x90, 0x00})) api->staged.emplace(before + packets, packet);

    CApduResponse response;
    ASSERT_TRUE(hid.Exchange(command, response)) << hid.FailureReason();
    EXPECT_EQ(response.StatusWord(), 0x9000);
    // Framed as a key frames its answer: a U2FHID MSG on our channel, continuations from 0.
    const std::vector<Report> sent(api->written.begin() + static_cast<std::ptrdiff_t>(before), api->written.end());
    ASSERT_EQ(sent.size(), packets);
    EXPECT_EQ(sent, AnswerPackets(command.Serialize()));
  }
}

// One byte: the exchange went through, the caller's response keeps its 00 00 and the reason
// tells the caller that the key said nothing. Zero bytes: each framing takes that for "not
// ready yet", so the exchange ends at its limit, with a reason.
struct ShortAnswerCase {
  const char* name;
  bool u2f;
  std::size_t answerBytes;
  bool exchanged;
};
const ShortAnswerCase kShortAnswers[] = {
    {"U2FHID, one byte", true, 1, true},
    {"feature report, one byte", false, 1, true},
    {"U2FHID, nothing", true, 0, false},
    {"feature report, nothing", false, 0, false},
};
using HidShortAnswerTest = HidFramingTable<ShortAnswerCase>;
INSTANTIATE_TEST_SUITE_P(Rows, HidShortAnswerTest, ::testing::ValuesIn(kShortAnswers), RowName<ShortAnswerCase>);

TEST_P(HidShortAnswerTest, AnAnswerShorterThanAStatusWordIsNoRefusalAndSaysWhy) {
  const ShortAnswerCase& c = GetParam();
  const std::vector<std::uint8_t> answer(c.answerBytes, 0x6A);
  if (c.u2f) {
    OpenU2f();
    StageAnswer(5, c.answerBytes == 0 ? std::vector<Report>{ZeroLengthReport()} : AnswerPackets(answer));
  } else {
    OpenKeyboard();
    api->featureReplies = {FeatureReply(answer, 65)};
  }
  CApduResponse response;
  EXPECT_EQ(hid.Exchange(CommandOfLength(5), response), c.exchanged);
  EXPECT_EQ(response.StatusWord(), 0x0000);
  EXPECT_FALSE(response.HasStatusWord());
  const std::string reason = hid.GetLastErrorText();
  if (c.exchanged) {
    EXPECT_EQ(reason, kNoStatusWordText);
  } else {
    EXPECT_NE(reason.find("in time"), std::string::npos) << reason;
  }
}

// Packets of other programs share our input queue: only our channel's answer counts, put
// together in sequence and within the response area.
Report PacketOn(const std::array<std::uint8_t, 4>& channel, std::uint8_t command, std::vector<std::uint8_t> payload) {
  Report report(65, 0);
  std::copy(channel.begin(), channel.end(), report.begin() + 1);
  report[5] = command;
  report[6] = static_cast<std::uint8_t>(payload.size() >> 8);
  report[7] = static_cast<std::uint8_t>(payload.size());
  std::copy(payload.begin(), payload.end(), report.begin() + 8);
  return report;
}

constexpr std::array<std::uint8_t, 4> kOther{0x0B, 0x0B, 0x0B, 0x0B};

struct ChannelCase {
  const char* name;
  std::vector<Report> packets;
  bool exchanged;
  std::string reason;  // the failure's text, or a part of it
  int dataLength = 98;
};

std::vector<Report> Joined(std::vector<Report> front, const std::vector<Report>& back) {
  front.insert(front.end(), back.begin(), back.end());
  return front;
}

std::vector<ChannelCase> ChannelCases() {
  const std::vector<Report> ours = AnswerPackets(AnswerOfLength(100));
  return {
      {"a hundred bytes in two packets", ours, true, ""},
      {"zero-length reports in front are skipped", Joined({ZeroLengthReport(), ZeroLengthReport()}, ours), true, ""},
      {"a wrong sequence number", AnswerPackets(AnswerOfLength(100), 1), false,
       "The key's answer came with a wrong sequence number."},
      {"exactly the response area", AnswerPackets(AnswerOfLength(1032)), true, "", 1030},
      {"one byte past the response area", AnswerPackets(AnswerOfLength(1033)), false,
       "The key's answer is longer than the 1032-byte response area."},
      {"another program's answer first", {PacketOn(kOther, 0x83, {0x6D, 0x00}), ours[0], ours[1]}, true, ""},
      {"another program's continuation in between", {ours[0], AnswerPackets(AnswerOfLength(100))[1], ours[1]}, true, ""},
      {"a keep-alive first", {PacketOn(kChannel, 0xBB, {0x01}), ours[0], ours[1]}, true, ""},
      {"a keep-alive between the packets", {ours[0], PacketOn(kChannel, 0xBB, {0x01}), ours[1]}, true, ""},
      {"another program's error frame", {PacketOn(kOther, 0xBF, {0x06}), ours[0], ours[1]}, true, ""},
      {"an error frame on our channel", {PacketOn(kChannel, 0xBF, {0x06}), ours[0], ours[1]}, false, "error 0x06"},
      {"an error frame in the middle", {ours[0], PacketOn(kChannel, 0xBF, {0x04})}, false, "error 0x04"},
      {"only other programs' answers", {PacketOn(kOther, 0x83, {0x90, 0x00})}, false, "in time"},
  };
}
using HidChannelTest = HidFramingTable<ChannelCase>;
INSTANTIATE_TEST_SUITE_P(Rows, HidChannelTest, ::testing::ValuesIn(ChannelCases()), RowName<ChannelCase>);

TEST_P(HidChannelTest, OnlyPacketsOfOurChannelMakeTheAnswer) {
  const ChannelCase& c = GetParam();
  OpenU2f();
  std::vector<Report> packets = c.packets;
  // The continuation "of another program" carries another channel.
  if (std::string(c.name).find("continuation") != std::string::npos) {
    std::copy(kOther.begin(), kOther.end(), packets[1].begin() + 1);
  }
  StageAnswer(5, packets);
  CApduResponse response;
  EXPECT_EQ(hid.Exchange(CommandOfLength(5), response), c.exchanged) << hid.GetLastErrorText();
  if (c.exchanged) {
    EXPECT_EQ(response.DataLength, c.dataLength);
    const std::vector<std::uint8_t> answer = AnswerOfLength(static_cast<std::size_t>(c.dataLength) + 2);
    EXPECT_EQ(response.Data, std::vector<std::uint8_t>(answer.begin(), answer.end() - 2));
    EXPECT_EQ(response.StatusWord(), 0x9000);
  } else {
    EXPECT_NE(hid.GetLastErrorText().find(c.reason), std::string::npos) << hid.GetLastErrorText();
    EXPECT_FALSE(response.HasStatusWord());
    EXPECT_EQ(response.DataLength, 0);
  }
}

TEST_F(HidFramingTest, OnlyTheBroadcastInitAnswerWithOurNonceGivesTheChannel) {
  api->AddInterface("u2f", kVid, kPid, false);
  ASSERT_EQ(Enumerate(), 1);
  hid.SetName(kU2fName);

  Report otherNonce = InitAnswer();
  std::fill(otherNonce.begin() + 8, otherNonce.begin() + 16, 0x5A);
  std::fill(otherNonce.begin() + 16, otherNonce.begin() + 20, 0x0B);
  Report notBroadcast = InitAnswer();
  std::fill(notBroadcast.begin() + 1, notBroadcast.begin() + 5, 0x0B);
  Report notInit = InitAnswer();
  notInit[5] = 0x83;
  api->staged.emplace(1, otherNonce);
  api->staged.emplace(1, notBroadcast);
  api->staged.emplace(1, notInit);
  api->staged.emplace(1, InitAnswer());
  ASSERT_TRUE(hid.Open()) << hid.GetLastErrorText();
  EXPECT_EQ(hid.ChannelId, kChannel);
  hid.Close();

  // Nothing but answers for others: the open fails with its reason and leaves nothing open.
  api->staged.emplace(2, otherNonce);
  EXPECT_FALSE(hid.Open());
  EXPECT_FALSE(hid.IsOpen());
  EXPECT_EQ(api->openHandles(), 0);
  EXPECT_EQ(hid.ChannelId, VnCosHidInterface::kInitialChannelId);
  EXPECT_EQ(hid.GetLastErrorText(), "The key did not answer the U2FHID INIT request in time.");

  // Once the key answers, the same object opens.
  api->staged.emplace(3, InitAnswer());
  EXPECT_TRUE(hid.Open()) << hid.GetLastErrorText();
  EXPECT_EQ(hid.ChannelId, kChannel);
}

struct BadInitCase {
  const char* name;
  void (*spoil)(Report&);
  const char* reason;
};
const BadInitCase kBadInits[] = {
      {"payload length 16", [](Report& r) { r[7] = 16; }, "The key's U2FHID INIT answer has the wrong length."},
      {"payload length 18", [](Report& r) { r[7] = 18; }, "The key's U2FHID INIT answer has the wrong length."},
      {"payload length 256 + 17", [](Report& r) { r[6] = 1; }, "The key's U2FHID INIT answer has the wrong length."},
      {"channel 0", [](Report& r) { std::fill(r.begin() + 16, r.begin() + 20, 0x00); },
       "The key's U2FHID INIT answer names no usable channel."},
      {"the broadcast channel", [](Report& r) { std::fill(r.begin() + 16, r.begin() + 20, 0xFF); },
       "The key's U2FHID INIT answer names no usable channel."},
      {"an error frame", [](Report& r) {
         r = Report(65, 0);
         std::fill(r.begin() + 1, r.begin() + 5, 0xFF);
         r[5] = 0xBF;
         r[7] = 1;
         r[8] = 0x06;
       },
       "The key answered with U2FHID error 0x06."},
};
using HidBadInitTest = HidFramingTable<BadInitCase>;
INSTANTIATE_TEST_SUITE_P(Rows, HidBadInitTest, ::testing::ValuesIn(kBadInits), RowName<BadInitCase>);

TEST_P(HidBadInitTest, FailsTheOpenAtOnceWithItsReason) {
  const BadInitCase& c = GetParam();
  {
    hid.SetExchangeTimeout(2s);
    api->AddInterface("u2f", kVid, kPid, false);
    ASSERT_EQ(Enumerate(), 1);
    hid.SetName(kU2fName);
    Report answer = InitAnswer();
    c.spoil(answer);
    api->staged.emplace(1, answer);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(hid.Open());
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1s) << "no waiting for the time limit";
    EXPECT_EQ(hid.GetLastErrorText(), c.reason);
    EXPECT_FALSE(hid.IsOpen());
    EXPECT_EQ(api->openHandles(), 0);
    EXPECT_EQ(hid.ChannelId, VnCosHidInterface::kInitialChannelId);
  }
}

// ---- Feature-report framing ----

TEST_F(HidFramingTest, FeatureReportCarriesTheCommandAndIsPolledUntilTheLengthByteIsSet) {
  api->lengths.feature = 65;
  OpenKeyboard();
  EXPECT_EQ(hid.ReadHandle, hid.WriteHandle);
  api->featureReplies = {FeatureReply({}, 65), FeatureReply({0x90, 0x00}, 65)};

  const CApduCommand command = CommandOfLength(7);
  CApduResponse response;
  ASSERT_TRUE(hid.Exchange(command, response)) << hid.FailureReason();
  EXPECT_EQ(response.DataLength, 0);
  EXPECT_EQ(response.StatusWord(), 0x9000);
  EXPECT_EQ(api->featureReads, 2);

  // Report ID 0, the command's length, the command, zeros: the layout of the key's reply.
  EXPECT_EQ(api->featuresSent, std::vector<Report>{FeatureReply(command.Serialize(), 65)});
}

// ---- Limits: each fails before anything partial goes out, and writes nothing past a buffer ----

struct LimitCase {
  const char* name;
  bool u2f;
  HidReportLengths lengths;
  std::size_t commandLength;
  bool accepted;
};

const LimitCase kLimits[] = {
    {"128-byte command over U2FHID", true, {65, 65, 0}, 128, true},
    {"129-byte command over U2FHID", true, {65, 65, 0}, 129, false},
    {"129-byte command over feature reports", false, {0, 0, 108}, 129, false},
    {"command of feature length - 2", false, {0, 0, 65}, 63, true},
    {"command over feature length - 2", false, {0, 0, 65}, 64, false},
    {"106-byte feature command", false, {0, 0, 108}, 106, true},
    {"107-byte feature command", false, {0, 0, 108}, 107, false},
    {"feature report over 108 bytes", false, {0, 0, 109}, 5, false},
    {"feature report too short for any command", false, {0, 0, 2}, 5, false},
    {"input report under 65 bytes", true, {64, 65, 0}, 5, false},
    {"output report under 65 bytes", true, {65, 64, 0}, 5, false},
};
using HidLimitTest = HidFramingTable<LimitCase>;
INSTANTIATE_TEST_SUITE_P(Rows, HidLimitTest, ::testing::ValuesIn(kLimits), RowName<LimitCase>);

TEST_P(HidLimitTest, CommandsAndReportLengthsOutsideTheBuffersFailBeforeSending) {
  const LimitCase& c = GetParam();
  if (c.u2f) {
    OpenU2f();
  } else {
    api->lengths = c.lengths;
    OpenKeyboard();
  }
  api->lengths = c.lengths;
  const std::size_t writesBefore = api->written.size();
  if (c.u2f) StageAnswer(c.commandLength, AnswerPackets({0x90, 0x00}));
  api->featureReplies = {FeatureReply({0x90, 0x00}, c.lengths.feature > 2 ? c.lengths.feature : 3)};

  CApduResponse response;
  EXPECT_EQ(hid.Exchange(CommandOfLength(c.commandLength), response), c.accepted) << hid.FailureReason();
  if (!c.accepted) {
    EXPECT_EQ(api->written.size(), writesBefore);
    EXPECT_TRUE(api->featuresSent.empty());
  }
}

TEST_F(HidFramingTest, AFeatureLengthBytePastTheReportFailsTheExchange) {
  api->lengths.feature = 65;
  OpenKeyboard();
  api->featureReplies = {FeatureReply(std::vector<std::uint8_t>(63, 0x90), 65, 63)};
  CApduResponse fits;
  EXPECT_TRUE(hid.Exchange(CommandOfLength(5), fits));
  EXPECT_EQ(fits.DataLength, 61);

  api->featureReplies = {FeatureReply(std::vector<std::uint8_t>(63, 0x90), 65, 64)};
  CApduResponse past;
  EXPECT_FALSE(hid.Exchange(CommandOfLength(5), past));
  EXPECT_EQ(hid.FailureReason(), "The key's answer length points past its feature report.");

  // A device that hands back fewer bytes than it claims is judged by what it handed back.
  api->featureReplies = {FeatureReply({0x90, 0x00, 0x00}, 4, 3)};
  CApduResponse cut;
  EXPECT_FALSE(hid.Exchange(CommandOfLength(5), cut));
}

// ---- Every wait has a limit ----

struct StuckCase {
  const char* name;
  bool u2f;
  void (*breakIt)(ScriptedHidApi&);
  // The start of the failure's reason.
  const char* reasonHas;
  // -1: any number of feature reports may go out.
  int featuresSent = -1;
};

constexpr const char* kU2fTooLate = "The key did not answer the command in time.";
constexpr const char* kFeatureTooLate = "The key did not answer in its feature report in time.";
const StuckCase kStuck[] = {
    {"U2F device that never answers", true, [](ScriptedHidApi&) {}, kU2fTooLate},
    {"U2F device sending zero-length reports for ever", true, [](ScriptedHidApi& a) { a.zeroLengthForever = true; },
     kU2fTooLate},
    {"U2F device that stops after the first packet", true,
     [](ScriptedHidApi& a) { a.staged.emplace(2, AnswerPackets(AnswerOfLength(100))[0]); },
     "The key's answer was cut short."},
    {"U2F read error", true,
     [](ScriptedHidApi& a) {
       a.staged.emplace(2, Report{});
       a.errorText = "Resource temporarily unavailable";
     },
     "Reading the key's answer failed: the key may have been pulled out. (Resource temporarily unavailable)"},
    {"U2F write error", true,
     [](ScriptedHidApi& a) {
       a.writeFails = true;
       a.errorText = "Broken pipe";
     },
     "The command could not be written to the key. (Broken pipe)"},
    {"U2F short write", true, [](ScriptedHidApi& a) { a.shortWrites = true; }, "The command could not be written"},
    {"feature report never filled in", false, [](ScriptedHidApi&) {}, kFeatureTooLate},
    {"feature report never taken", false, [](ScriptedHidApi& a) { a.sendFeatureFails = true; },
     "The key did not take the command's feature report in time."},
    // The key took the command: a second copy would run it twice (a counter moved twice, a
    // deleted credential reported as refused).
    {"feature report taken, then the flush fails", false, [](ScriptedHidApi& a) { a.flushFails = true; },
     "The key took the command, but its input reports could not be cleared afterwards; the command was not sent "
     "again.", 1},
};
using HidStuckTest = HidFramingTable<StuckCase>;
INSTANTIATE_TEST_SUITE_P(Rows, HidStuckTest, ::testing::ValuesIn(kStuck), RowName<StuckCase>);

TEST_P(HidStuckTest, SilentOrStuckDevicesEndTheExchangeWithFalseWithinTheLimit) {
  const StuckCase& c = GetParam();
  if (c.u2f) {
    OpenU2f();
  } else {
    OpenKeyboard();
  }
  c.breakIt(*api);
  const auto start = std::chrono::steady_clock::now();
  CApduResponse response;
  EXPECT_FALSE(hid.Exchange(CommandOfLength(5), response));
  EXPECT_LT(std::chrono::steady_clock::now() - start, 300ms + 1500ms);
  EXPECT_EQ(hid.GetLastErrorText().rfind(c.reasonHas, 0), 0u) << hid.GetLastErrorText();
  EXPECT_FALSE(response.HasStatusWord());
  if (c.featuresSent >= 0) {
    EXPECT_EQ(api->featuresSent.size(), static_cast<std::size_t>(c.featuresSent));
  }
}

// ---- Open and Close ----

TEST_F(HidFramingTest, OpenTwiceKeepsTheFirstHandlesAndCloseAndTheDestructorReleaseThem) {
  OpenU2f();
  const HidHandle write = hid.WriteHandle;
  const HidHandle read = hid.ReadHandle;
  EXPECT_NE(write, read);
  EXPECT_FALSE(hid.Open());
  EXPECT_EQ(hid.WriteHandle, write);
  EXPECT_EQ(hid.ReadHandle, read);
  EXPECT_EQ(api->openHandles(), 2);

  EXPECT_TRUE(hid.Close());
  EXPECT_FALSE(hid.IsOpen());
  EXPECT_EQ(api->openHandles(), 0);
  EXPECT_TRUE(hid.Close()) << "closing a closed object succeeds";
  CApduResponse response;
  EXPECT_FALSE(hid.Exchange(CommandOfLength(5), response));
  EXPECT_EQ(hid.GetLastErrorText(), "The HID interface is not open.");

  api->staged.emplace(api->written.size() + 1, InitAnswer());
  {
    VnCosHidInterface scoped(backends, kU2fName);
    ASSERT_TRUE(scoped.Open()) << scoped.GetLastErrorText();
    EXPECT_EQ(api->openHandles(), 2);
  }
  EXPECT_EQ(api->openHandles(), 0);
}

TEST_F(HidFramingTest, OpenFailsWithoutANameOrForANameNoInterfaceCarries) {
  api->AddInterface("kb", kVid, kPid, true);
  ASSERT_EQ(Enumerate(), 1);
  EXPECT_FALSE(hid.Open());
  EXPECT_EQ(hid.GetLastErrorText(), "No HID interface was chosen.");
  hid.SetName(L"VORTAN HID DEVICE U2F 0");
  EXPECT_FALSE(hid.Open());
  EXPECT_NE(hid.GetLastErrorText().find("not there any more"), std::string::npos) << hid.GetLastErrorText();
  EXPECT_FALSE(hid.IsOpen());
  EXPECT_EQ(api->openHandles(), 0);
  hid.SetName(kKbName);
  EXPECT_EQ(hid.GetName(), kKbName);
  EXPECT_TRUE(hid.Open());

  // The node is there but the user may not open it: the reason says what to do.
  hid.Close();
  api->deniedPaths.insert("kb");
  EXPECT_FALSE(hid.Open());
  EXPECT_NE(hid.GetLastErrorText().find("/dev/hidraw"), std::string::npos) << hid.GetLastErrorText();
}

}  // namespace
