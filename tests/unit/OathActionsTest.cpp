// The window-free OATH action sequences against the virtual key: what reaches the key, what is
// logged, and how the actions end when the operator or the device lets them down.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/Conversions.h"
#include "device/DeviceInterface.h"
#include "keysim/VirtualKey.h"
#include "oath/OathActions.h"
#include "oath/OathCommands.h"
#include "oath/OtpCredentialList.h"
#include "oath/TypedKey.h"
#include "tests/support/CardDevice.h"
#include "tests/support/TestKeys.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

struct Entry {
  std::string kind;  // "cmd", "ans", "ok", "err"
  std::string text;
  bool operator==(const Entry&) const = default;
};

void PrintTo(const Entry& entry, std::ostream* out) { *out << entry.kind << ":\"" << entry.text << "\""; }

// A host that records everything and answers the operator's questions as told.
class RecordingHost final : public OathActionHost {
 public:
  explicit RecordingHost(CardDevice& device) : device_(device) {}

  void LogCommand(const std::string& entry) override { log.push_back({"cmd", entry}); }
  void LogAnswer(const std::string& entry) override { log.push_back({"ans", entry}); }
  void LogSuccess(const std::string& entry) override { log.push_back({"ok", entry}); }
  void LogFailure(const std::string& entry) override { log.push_back({"err", entry}); }
  bool SelectOathApplet() override {
    CApduResponse response;
    return device_.IsOpen() && device_.Exchange(test_keys::Command(BuildSelectOath()), response);
  }
  void SelectFidoApplet() override { ++fidoSelections; }
  bool ConfirmUserPresence() override {
    ++presencePrompts;
    if (whilePrompting) whilePrompting();
    return confirmPresence;
  }
  bool AskOperator(const std::string& title, const std::string& text) override {
    asked.push_back(title + ": " + text);
    if (whilePrompting) whilePrompting();
    return confirmQuestion;
  }
  void TellOperator(const std::string& title, const std::string& text) override {
    told.push_back(title + ": " + text);
    if (whilePrompting) whilePrompting();
  }
  bool IsSameDevice() override { return sameDevice; }

  std::vector<Entry> log;
  std::vector<std::string> asked;
  std::vector<std::string> told;
  bool confirmPresence = true;
  bool confirmQuestion = true;
  bool sameDevice = true;
  int presencePrompts = 0;
  int fidoSelections = 0;
  std::function<void()> whilePrompting;

 private:
  CardDevice& device_;
};

class OathActionsTest : public ::testing::Test {
 protected:
  void SetUp() override { Use(VirtualKeyConfig{}); }

  void Use(VirtualKeyConfig config) {
    key = std::make_shared<VirtualKey>(std::move(config));
    device = std::make_unique<CardDevice>(key);
    device->failureText = "The card is gone.";
    host = std::make_unique<RecordingHost>(*device);
  }

  OathActions Actions() { return OathActions(*device, *host); }

  // Commands the key received other than the applet selections.
  std::vector<Bytes> Sent() const {
    std::vector<Bytes> sent;
    for (const Bytes& apdu : key->ReceivedApdus()) {
      if (apdu.size() > 1 && apdu[1] == card_os::kInsSelect) continue;
      sent.push_back(apdu);
    }
    return sent;
  }

  OathOutcome Write(const std::string& name, const std::string& keyText, const std::string& imf = "",
                    bool eightDigits = false) {
    OathPersonalizeInput input;
    input.Name = name;
    input.Key = ReadTypedHexKey(SecureString(keyText), &input.KeyError);
    input.Imf = imf;
    input.EightDigits = eightDigits;
    input.ListedNames = listedNames;
    written = {};
    return Actions().Personalize(input, written);
  }

  std::shared_ptr<VirtualKey> key;
  std::unique_ptr<CardDevice> device;
  std::unique_ptr<RecordingHost> host;
  OathWrittenCredential written;
  // What Write passes as the key's listing.
  std::optional<std::vector<std::string>> listedNames;
};

const std::string& kKey20 = test_keys::kRfcSecretHex;

TEST_F(OathActionsTest, PersonalizeInputIsCheckedBeforeAnythingIsSent) {
  struct Case {
    const char* label;
    std::string name;
    std::string keyText;
    std::string told;      // operator notice, "" for none
    std::string failure;   // red log entry, "" for none
  };
  const std::string hex96(96, 'A');
  const std::vector<Case> cases = {
      {"empty name", "  ", kKey20, "Warning: Invalid name", ""},
      {"empty key", "abc", "   ", "Warning: Invalid key", ""},
      {"17-byte name", std::string(17, 'n'), kKey20, "", "Serial number length can not more than 16 bytes.\n\n"},
      {"98 hex digits", "abc", hex96 + "AB", "", "Secret key length can not more than 48 bytes.\n\n"},
      {"no key at all", "abc", "z0112233", "Warning: Invalid key", ""},
      {"odd number of hex digits", "abc", "ABC", "Warning: malformed hex secret: an odd number of hex digits", ""},
      // No bytes are refused before the name's length is looked at, no key after it.
      {"empty key and 17-byte name", std::string(17, 'n'), " ", "Warning: Invalid key", ""},
      {"no key and 17-byte name", std::string(17, 'n'), "z0112233", "",
       "Serial number length can not more than 16 bytes.\n\n"},
      {"imf too long for one command", "abc", kKey20 + kKey20, "", "Initial moving factor too long.\n\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    Use(VirtualKeyConfig{});
    const std::string imf = std::string(c.label).starts_with("imf") ? std::string(250, '1') : "";
    EXPECT_EQ(Write(c.name, c.keyText, imf), OathOutcome::InvalidInput);
    EXPECT_TRUE(Sent().empty());
    EXPECT_EQ(host->presencePrompts, 0);
    if (c.told.empty()) {
      EXPECT_TRUE(host->told.empty());
    } else {
      EXPECT_EQ(host->told, std::vector<std::string>{c.told});
      // A refused field closes the device again.
      EXPECT_FALSE(device->IsOpen());
    }
    if (c.failure.empty()) {
      EXPECT_TRUE(host->log.empty());
    } else {
      EXPECT_EQ(host->log, (std::vector<Entry>{{"err", c.failure}}));
    }
    EXPECT_TRUE(key->Credentials().empty());
  }
}

TEST_F(OathActionsTest, PersonalizeSendsTheNameWithoutSpacesAndLogsTheExactSequence) {
  ASSERT_EQ(Write(" 12 34 ", "31 32 33 34 35 36 37 38 39 30 31 32 33 34 35 36 37 38 39 30", "", true),
            OathOutcome::Done);
  const Bytes& secret = test_keys::kRfcSecret;
  const Bytes put = BuildPut(oath::kInsPut, std::string_view("1234"), secret, 8, std::string_view(""));
  ASSERT_EQ(Sent(), std::vector<Bytes>{put});
  // The log shows the command with every key byte hidden; its length and the rest stay readable.
  std::string hiddenKey;
  for (std::size_t i = 0; i < secret.size(); ++i) hiddenKey += "** ";
  const std::string logged = "00 09 00 00 1F 53 16 01 10 08 " + hiddenKey + "51 04 31 32 33 34\n";
  EXPECT_EQ(host->log, (std::vector<Entry>{{"cmd", logged},
                                           {"ok", "put data successful\n"},
                                           {"ok", "Personalization successful.\n"},
                                           {"ans", "<< 90 00\n"}}));
  EXPECT_EQ(written.Name, "1234");
  EXPECT_EQ(Bytes(written.Key.data(), written.Key.data() + written.Key.size()), secret);
  EXPECT_EQ(written.Digits, 8);
  EXPECT_FALSE(device->IsOpen());
}

TEST_F(OathActionsTest, WritingOverAListedNameAsksFirstAndSendsNothingWhenDeclined) {
  struct Case {
    const char* label;
    std::optional<std::vector<std::string>> listed;
    std::string name;
    bool agree;
    OathOutcome outcome;
    bool asked;
    Bytes secretAfter;
  };
  const Bytes oldSecret{0x11, 0x22};
  const Bytes newSecret{0x33, 0x44};
  const std::vector<Case> cases = {
      {"listed, declined", std::vector<std::string>{"x", "abc"}, "abc", false, OathOutcome::Declined, true, oldSecret},
      {"listed, agreed", std::vector<std::string>{"abc"}, "abc", true, OathOutcome::Done, true, newSecret},
      {"listed once its spaces are out", std::vector<std::string>{"abc"}, " a b c", false, OathOutcome::Declined,
       true, oldSecret},
      {"not listed", std::vector<std::string>{"abcd", "ABC"}, "abc", false, OathOutcome::Done, false, newSecret},
      {"no listing: the caller decided", std::nullopt, "abc", false, OathOutcome::Done, false, newSecret},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    Use(VirtualKeyConfig{});
    listedNames.reset();
    ASSERT_EQ(Write("abc", "1122"), OathOutcome::Done);
    const std::size_t sentBefore = Sent().size();
    const int promptsBefore = host->presencePrompts;
    host->log.clear();
    host->confirmQuestion = c.agree;
    listedNames = c.listed;
    EXPECT_EQ(Write(c.name, "3344"), c.outcome);
    const std::vector<Entry> logAfterWrite = host->log;
    const int promptsAfterWrite = host->presencePrompts;
    const bool openAfterWrite = device->IsOpen();
    const std::vector<std::string> question{"Warning: Replace it? Its old secret cannot be recovered."};
    EXPECT_EQ(host->asked, c.asked ? question : std::vector<std::string>{});
    ASSERT_EQ(key->Credentials().size(), 1u);
    // The key's first code matches the local one only for the secret it holds.
    OtpCredential record;
    record.Name = "abc";
    record.Key = SecureBytes(c.secretAfter);
    OathCalculation calculation;
    ASSERT_EQ(Actions().Calculate(record, calculation), OathOutcome::Done);
    EXPECT_TRUE(calculation.Matched) << calculation.CardCode << " vs " << calculation.LocalCode;
    if (c.outcome == OathOutcome::Declined) {
      EXPECT_EQ(Sent().size(), sentBefore + 1) << "nothing sent once declined but the calculation";
      EXPECT_TRUE(logAfterWrite.empty());
      EXPECT_EQ(promptsAfterWrite, promptsBefore) << "no touch asked for";
      EXPECT_FALSE(openAfterWrite);
    }
  }
}

TEST_F(OathActionsTest, LimitsAreInclusive) {
  EXPECT_EQ(Write(std::string(16, 'n'), std::string(96, 'A')), OathOutcome::Done);
  ASSERT_EQ(key->Credentials().size(), 1u);
  EXPECT_EQ(written.Key.size(), 48u);
}

TEST_F(OathActionsTest, ADeclinedTouchPromptSendsAndLogsNothing) {
  VirtualKeyConfig touchy;
  touchy.cosVersion = {0x43, 0x01, 0x00};
  Use(touchy);
  host->confirmPresence = false;
  EXPECT_EQ(Write("abc", kKey20), OathOutcome::Declined);
  EXPECT_EQ(Actions().Delete("abc"), OathOutcome::Declined);
  EXPECT_EQ(host->presencePrompts, 2);
  EXPECT_TRUE(Sent().empty());
  EXPECT_TRUE(host->log.empty());
}

TEST_F(OathActionsTest, ADeviceGoneDuringABoxIsNeverUsedAgain) {
  struct Case {
    const char* label;
    std::function<OathOutcome(OathActions&)> run;
    std::string message;
  };
  const std::vector<Case> cases = {
      {"reset warning", [](OathActions& a) { return a.Reset(); }, "Please connect device.\n"},
      {"invalid name", [this](OathActions& a) {
         OathPersonalizeInput input;
         input.Key = ReadTypedHexKey(SecureString(kKey20));
         return a.Personalize(input, written);
       }, "The device has been pulled out.\n"},
      {"replace question", [this](OathActions& a) {
         OathPersonalizeInput input;
         input.Name = "abc";
         input.Key = ReadTypedHexKey(SecureString(kKey20));
         input.ListedNames = std::vector<std::string>{"abc"};
         return a.Personalize(input, written);
       }, "The device has been pulled out.\n"},
      {"touch before delete", [](OathActions& a) { return a.Delete("abc"); }, "Please connect card.\n"},
      {"touch before set default", [](OathActions& a) { return a.SetDefault("abc"); }, "Please connect card.\n"},
      {"touch before calculate", [](OathActions& a) {
         OtpCredential record;
         record.Name = "abc";
         OathCalculation result;
         return a.Calculate(record, result);
       }, "Please connect card\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    Use(VirtualKeyConfig{});
    int callsAtBox = -1;
    host->whilePrompting = [&] {
      host->sameDevice = false;
      callsAtBox = device->calls;
    };
    OathActions actions(*device, *host);
    const OathOutcome outcome = c.run(actions);
    EXPECT_TRUE(outcome == OathOutcome::DeviceGone || outcome == OathOutcome::InvalidInput);
    EXPECT_EQ(device->calls, callsAtBox) << "the device was used after the box";
    ASSERT_FALSE(host->log.empty());
    EXPECT_EQ(host->log.back(), (Entry{"err", c.message}));
    EXPECT_TRUE(Sent().empty());
  }
}

TEST_F(OathActionsTest, StatusWordsAndFailedExchangesGetTheirOwnTexts) {
  OathActions refusing = Actions();
  EXPECT_EQ(refusing.Delete("nobody"), OathOutcome::Refused);
  EXPECT_EQ(host->log[1], (Entry{"err", "Delete ins error.\n"}));
  EXPECT_EQ(host->log[2], (Entry{"ans", "<< 6A 82\n"}));
  // The result tells the caller the status word itself, with no reason from the transport.
  EXPECT_EQ(refusing.LastStatusWord(), std::optional<std::uint16_t>(0x6A82));
  EXPECT_EQ(refusing.TransportReason(), "");

  // A command the transport cannot carry: the transport's reason in red, with what may have
  // happened on the key before the connection broke, and nothing more.
  Use(VirtualKeyConfig{});
  device->failIns = oath::kInsSetDefault;
  OathActions failing = Actions();
  EXPECT_EQ(failing.SetDefault("abc"), OathOutcome::ExchangeFailed);
  EXPECT_FALSE(failing.LastStatusWord());
  EXPECT_EQ(failing.TransportReason(), "The card is gone.");
  EXPECT_EQ(host->log, (std::vector<Entry>{{"cmd", test_keys::Hex(BuildSetDefault(std::string_view("abc"))) + "\n"},
                                           {"err", "The card is gone; the default credential may or may not "
                                                   "have been changed\n"}}));
  EXPECT_FALSE(device->IsOpen());

  // The selection itself fails: the action closes the device and stops.
  Use(VirtualKeyConfig{});
  device->failExchange = true;
  EXPECT_EQ(Actions().SetDefault("abc"), OathOutcome::SelectFailed);
  EXPECT_FALSE(device->IsOpen());
  EXPECT_TRUE(host->log.empty());
}

// The outcomes after which the command went through the transport, so the FIDO applet is
// selected again: a silent key counts, one that was never reached does not.
TEST(OathOutcomeTest, KeyAnsweredWhenTheCommandWentThroughTheTransport) {
  const std::pair<OathOutcome, bool> cases[] = {
      {OathOutcome::Done, true},           {OathOutcome::Refused, true},     {OathOutcome::TouchTimeout, true},
      {OathOutcome::NoAnswer, true},       {OathOutcome::ExchangeFailed, false}, {OathOutcome::NotOpen, false},
      {OathOutcome::SelectFailed, false},  {OathOutcome::Declined, false},   {OathOutcome::DeviceGone, false},
      {OathOutcome::InvalidInput, false},
  };
  for (const auto& [outcome, answered] : cases) EXPECT_EQ(KeyAnswered(outcome), answered) << static_cast<int>(outcome);
}

TEST_F(OathActionsTest, ListLogsItsOwnSpacingAndQueriesTheCosFirstOnHid) {
  ASSERT_EQ(Write("first", kKey20), OathOutcome::Done);
  ASSERT_EQ(Write("second", kKey20), OathOutcome::Done);
  host->log.clear();
  key->ClearReceivedApdus();

  OathListResult listed;
  ASSERT_EQ(Actions().List(/*hidDevice=*/true, listed), OathOutcome::Done);
  EXPECT_EQ(listed.Names, (std::vector<std::string>{"first", "second"}));
  EXPECT_TRUE(listed.QueryDefault);
  EXPECT_EQ(Sent(), (std::vector<Bytes>{BuildGetCosVersion(), BuildList()}));
  EXPECT_EQ(host->log, (std::vector<Entry>{{"ok", "List ins \n"}, {"cmd", "00 17 00 00\n\n"},
                                           {"ok", "List ins successfully.\n\n"}, {"cmd", "00 17 00 00\n\n"},
                                           {"ans", "<< 61 06 06 66 69 72 73 74 61 07 06 73 65 63 6F 6E 64 90 00\n\n"}}));

  std::optional<std::string> defaultName;
  ASSERT_EQ(Actions().GetDefault(defaultName), OathOutcome::Done);
  EXPECT_EQ(defaultName, std::optional<std::string>("second"));

  // A listing the transport cannot carry stops before the default query.
  host->log.clear();
  device->failIns = oath::kInsList;
  EXPECT_EQ(Actions().List(false, listed), OathOutcome::ExchangeFailed);
  EXPECT_FALSE(listed.QueryDefault);
  EXPECT_EQ(host->log.back(), (Entry{"err", "The hid protocl not support list name ins.\n\nThe card is gone.\n"}));
}

TEST_F(OathActionsTest, VersionsAreToldWithTheirExactTexts) {
  VirtualKeyConfig config;
  config.appletVersion = {0x01, 0x0A};
  config.cosVersion = {0x43, 0x05, 0x00};
  config.touch = TouchMode::Always;
  Use(config);
  EXPECT_EQ(Actions().ShowVersions(), OathOutcome::Done);
  EXPECT_EQ(host->told, std::vector<std::string>{"Otp Version  : Applet version: 1a   Cos version: 4305"});
  EXPECT_EQ(host->fidoSelections, 1);
  EXPECT_EQ(host->log, (std::vector<Entry>{{"cmd", test_keys::Hex(BuildGetAppletVersion()) + "\n"}}));

  Use(VirtualKeyConfig{});
  device->failOpen = true;
  EXPECT_EQ(Actions().ShowVersions(), OathOutcome::NotOpen);
  EXPECT_EQ(host->told, std::vector<std::string>{"Applet version: Can't connect the device."});
}

TEST(RandomCredential, GivesAThirteenDigitSerialAndA59CharacterKey) {
  for (int round = 0; round < 50; ++round) {
    SecureString keyText;
    std::string name;
    ASSERT_TRUE(GenerateRandomCredential(keyText, name));
    ASSERT_EQ(name.size(), 13u);
    EXPECT_EQ(name.substr(0, 3), "000");
    EXPECT_EQ(name.find_first_not_of("0123456789"), std::string::npos);
    ASSERT_EQ(keyText.size(), 59u);
    std::uint8_t bytes[32];
    EXPECT_EQ(HexToBytes(keyText.str(), bytes, sizeof bytes), 20u);
  }
}

TEST(RandomCredential, AFailingGeneratorLeavesTheFieldsAlone) {
  SecureString keyText("typed");
  std::string name = "mine";
  auto failing = +[](unsigned char*, int) { return 0; };
  EXPECT_FALSE(GenerateRandomCredential(keyText, name, failing));
  EXPECT_EQ(keyText.str(), "typed");
  EXPECT_EQ(name, "mine");
  // The serial number's bytes failing after the key's succeeded changes nothing either.
  static int calls = 0;
  calls = 0;
  auto secondFails = +[](unsigned char* buffer, int count) {
    std::fill(buffer, buffer + count, 0x11);
    return ++calls == 1 ? 1 : 0;
  };
  EXPECT_FALSE(GenerateRandomCredential(keyText, name, secondFails));
  EXPECT_EQ(keyText.str(), "typed");
}

TEST(CredentialList, NamesAreMatchedAsBytesAndRewritesResetTheMatchCount) {
  OtpCredentialList list;
  const std::string latin1("caf\xE9", 4);
  const std::string utf8("caf\xC3\xA9", 5);
  ASSERT_NE(list.AddListed(latin1), nullptr);
  EXPECT_EQ(list.AddListed(latin1), nullptr);
  ASSERT_NE(list.AddListed(utf8), nullptr);
  EXPECT_EQ(list.Size(), 2u);
  EXPECT_EQ(list.Find(latin1)->Name, latin1);

  OtpCredential* record = list.Find(utf8);
  record->MatchCount = 5;
  record->CardCode = "123456";
  bool created = true;
  const SecureBytes key(Bytes{1, 2, 3});
  EXPECT_EQ(list.ApplyWritten(utf8, key, 8, "77", created), record);
  EXPECT_FALSE(created);
  EXPECT_EQ(record->MatchCount, 0u);
  EXPECT_EQ(record->Digits, 8);
  EXPECT_EQ(record->Imf, "77");
  EXPECT_EQ(record->Key.size(), 3u);

  EXPECT_TRUE(list.Remove(record));
  EXPECT_FALSE(list.Contains(record));
  EXPECT_FALSE(list.Remove(record));
  list.ApplyWritten("new", key, 6, "", created);
  EXPECT_TRUE(created);
  EXPECT_EQ(list.Records().back()->Name, "new");
}

}  // namespace
