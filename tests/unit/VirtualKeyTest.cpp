#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "core/Conversions.h"
#include "keysim/DemoKeySetup.h"
#include "keysim/VirtualKey.h"
#include "oath/OathAnswers.h"
#include "oath/OathCommands.h"
#include "tests/support/TestKeys.h"
#include "tests/support/WaitUntil.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using namespace std::chrono_literals;

using test_keys::Hex;
using test_keys::kRfcSecret;
using test_keys::kRfcSecretHex;
using test_keys::Oathtool;
const std::array<std::uint8_t, 3> kTouchCos{0x43, 0x01, 0x01};

Bytes FromHex(const std::string& hex) {
  Bytes bytes(hex.size());
  bytes.resize(HexToBytes(hex, bytes.data(), static_cast<std::uint32_t>(bytes.size())));
  return bytes;
}

std::uint16_t Sw(const Bytes& answer) {
  return answer.size() < 2 ? 0 : static_cast<std::uint16_t>(answer[answer.size() - 2] << 8 | answer.back());
}

Bytes DataOf(const Bytes& answer) { return Bytes(answer.begin(), answer.end() - 2); }

std::string Text(const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

std::vector<std::string> ListedNames(VirtualKey& key) {
  const Bytes answer = key.ProcessApdu(BuildList());
  EXPECT_EQ(Sw(answer), 0x9000);
  const Bytes data = DataOf(answer);
  std::vector<std::string> names;
  for (const auto& entry : ParseListResponse(data.data(), data.size())) names.push_back(Text(entry.Name));
  return names;
}

std::string CalculatedCode(VirtualKey& key, const std::string& name) {
  const Bytes answer = key.ProcessApdu(BuildCalculate(name));
  if (Sw(answer) != 0x9000) return "SW " + Hex({answer.end() - 2, answer.end()});
  const Bytes data = DataOf(answer);
  const auto calc = ParseCalcAnswer(data.data(), data.size());
  return calc ? FormatCode(*calc) : "unparsable";
}

struct Selected {
  explicit Selected(VirtualKeyConfig config = {}) : key(std::move(config)) {
    key.PowerOn();
    EXPECT_EQ(Hex(key.ProcessApdu(BuildSelectOath())), "90 00");
  }
  Bytes Put(const std::string& name, const Bytes& secret = kRfcSecret, std::uint8_t digits = 6,
            const std::string& imf = "") {
    return key.ProcessApdu(BuildPut(oath::kInsPut, name, secret, digits, imf));
  }
  VirtualKey key;
};

class TempDir {
 public:
  TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "vkey-XXXXXX").string();
    path_ = ::mkdtemp(pattern.data());
  }
  ~TempDir() { std::filesystem::remove_all(path_); }
  std::string File(const char* name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

TEST(VirtualKeyCardOs, AnswersVersionAndE3CommandsWithoutAnySelection) {
  VirtualKeyConfig config;
  config.cosVersion = {0x31, 0x07, 0x02};
  VirtualKey key(config);
  EXPECT_EQ(Hex(key.ProcessApdu(BuildGetCosVersion())), "31 07 02 90 00");
  EXPECT_EQ(Hex(key.ProcessApdu(BuildE3P1Command())), "90 00");
  EXPECT_EQ(Hex(key.ProcessApdu(FromHex("80 E3 02 00"))), "6A 86");
}

TEST(VirtualKeyApplet, OathCommandsNeedTheAppletSelectedSincePowerOn) {
  const std::pair<const char*, Bytes> commands[] = {
      {"list", BuildList()},
      {"get default", BuildGetDefault()},
      {"applet version", BuildGetAppletVersion()},
      {"put", BuildPut(9, "A", kRfcSecret, 6, "")},
      {"calculate", BuildCalculate("A")},
      {"delete", BuildDelete("A")},
      {"set default", BuildSetDefault("A")},
      {"reset", BuildReset()},
  };
  VirtualKey key;
  const std::pair<const char*, std::function<void()>> deselectors[] = {
      {"fresh key", [] {}},
      {"FIDO selected", [&] { EXPECT_EQ(Hex(key.ProcessApdu(BuildSelectFido())), "90 00"); }},
      {"power off", [&] { key.PowerOff(); }},
      {"reset", [&] { key.Reset(); }},
      {"plug-in", [&] { key.PlugIn(); }},
  };
  for (const auto& [how, deselect] : deselectors) {
    deselect();
    EXPECT_FALSE(key.IsOathSelected()) << how;
    for (const auto& [what, command] : commands) EXPECT_EQ(Sw(key.ProcessApdu(command)), 0x6985) << how << ": " << what;
    ASSERT_EQ(Hex(key.ProcessApdu(BuildSelectOath())), "90 00");
    EXPECT_EQ(Sw(key.ProcessApdu(BuildList())), 0x9000) << how;
  }
}

TEST(VirtualKeyApplet, SelectionByAid) {
  VirtualKey key;
  EXPECT_EQ(Hex(key.ProcessApdu(BuildSelectOath())), "90 00");
  EXPECT_EQ(Hex(key.ProcessApdu(FromHex("00 A4 04 00 05 A0 00 00 00 01"))), "6A 82");
  EXPECT_TRUE(key.IsOathSelected()) << "a failed selection keeps the current one";
  EXPECT_EQ(Hex(key.ProcessApdu(FromHex("00 A4 00 00 02 3F 00"))), "6A 86");
  EXPECT_EQ(Hex(key.ProcessApdu(FromHex("00 A4 04 00"))), "67 00");
  EXPECT_EQ(Hex(key.ProcessApdu(BuildSelectFido())), "90 00");
  EXPECT_FALSE(key.IsOathSelected());
}

TEST(VirtualKeyApplet, UnknownAndMalformedCommandsGetIsoStatusWords) {
  Selected s;
  ASSERT_EQ(Sw(s.Put("AB")), 0x9000);
  struct Case {
    const char* what;
    const char* command;
    const char* sw;
  };
  const Case cases[] = {
      {"unknown instruction", "00 FF 00 00", "6D 00"},
      {"known instruction, wrong class", "80 17 00 00", "6E 00"},
      {"fewer than four bytes", "00 17", "67 00"},
      {"Lc longer than the data", "00 08 00 00 05 51 02 41 42", "67 00"},
      {"delete without a body", "00 08 00 00", "67 00"},
      {"delete, wrong tag", "00 08 00 00 04 52 02 41 42", "6A 80"},
      {"delete, name past the body", "00 08 00 00 04 51 05 41 42", "6A 80"},
      {"delete, bytes after the name", "00 08 00 00 05 51 02 41 42 00", "6A 80"},
      {"delete, empty name", "00 08 00 00 02 51 00", "6A 80"},
      {"delete, unknown name", "00 08 00 00 04 51 02 41 43", "6A 82"},
      {"set default, unknown name", "00 E5 00 00 04 51 02 58 59", "6A 82"},
      {"calculate, unknown name", "00 A2 01 00 06 54 00 51 02 58 59", "6A 82"},
      {"calculate, with a challenge", "00 A2 01 00 07 54 01 00 51 02 41 42", "6A 80"},
      {"calculate, no challenge tag", "00 A2 01 00 04 51 02 41 42", "6A 80"},
      {"calculate, wrong P1", "00 A2 00 00 06 54 00 51 02 41 42", "6A 86"},
      {"put, digits 7", "00 09 00 00 0B 53 05 01 10 07 11 22 33 51 01 4E", "6A 80"},
      {"put, key runs past the data", "00 09 00 00 08 53 0A 01 10 06 11 22 33", "6A 80"},
      {"put, key length byte below 2", "00 09 00 00 08 53 01 01 10 06 51 01 4E", "6A 80"},
      {"put, unknown algorithm", "00 09 00 00 0B 53 05 02 10 06 11 22 33 51 01 4E", "6A 80"},
      {"put, no name", "00 09 00 00 08 53 05 01 10 06 11 22 33", "6A 80"},
      {"put, trailing byte", "00 09 00 00 0C 53 05 01 10 06 11 22 33 51 01 4E 00", "6A 80"},
      {"put, imf past the data", "00 09 00 00 0E 53 05 01 10 06 11 22 33 51 01 4E 5A 04 31", "6A 80"},
      {"list with data", "00 17 00 00 01 00", "67 00"},
      {"applet version, wrong query", "80 E2 80 00 05 DF FF 02 80 02", "6A 80"},
      {"applet version, no query", "80 E2 80 00", "67 00"},
      {"mode, unknown bit", "80 E1 FF 00 01 71", "6A 80"},
      {"mode, no interface", "80 E1 FF 00 01 00", "6A 80"},
      {"mode, two bytes", "80 E1 FF 00 02 30 00", "67 00"},
      {"mode, wrong P1", "80 E1 00 00 01 30", "6A 86"},
      {"GET RESPONSE under T=1", "00 C0 00 00 10", "6D 00"},
  };
  for (const auto& c : cases) EXPECT_EQ(Hex(s.key.ProcessApdu(FromHex(c.command))), c.sw) << c.what;
  const auto credentials = s.key.Credentials();
  ASSERT_EQ(credentials.size(), 1u);
  EXPECT_EQ(Text(credentials[0].name), "AB");
  EXPECT_EQ(credentials[0].counter, 0u);
  EXPECT_EQ(s.key.StoredInterfaceMode(), 0x70);
}

TEST(VirtualKeyApplet, ListDefaultDeleteAndReset) {
  Selected s;
  EXPECT_EQ(Hex(s.key.ProcessApdu(BuildGetDefault())), "90 00");
  ASSERT_EQ(Sw(s.Put("alpha")), 0x9000);
  ASSERT_EQ(Sw(s.Put("beta", kRfcSecret, 8)), 0x9000);
  EXPECT_EQ(ListedNames(s.key), (std::vector<std::string>{"alpha", "beta"}));
  const Bytes list = DataOf(s.key.ProcessApdu(BuildList()));
  EXPECT_EQ(Hex(Bytes(list.begin(), list.begin() + 3)), "61 06 06");

  // A newly written credential becomes the default; set default moves it.
  EXPECT_EQ(Text(DataOf(s.key.ProcessApdu(BuildGetDefault()))), "beta");
  EXPECT_EQ(Hex(s.key.ProcessApdu(BuildSetDefault("alpha"))), "90 00");
  EXPECT_EQ(Text(DataOf(s.key.ProcessApdu(BuildGetDefault()))), "alpha");

  // Rewriting a credential keeps its place and the default, and restarts its counter.
  CalculatedCode(s.key, "beta");
  ASSERT_EQ(Sw(s.Put("beta", kRfcSecret, 6)), 0x9000);
  auto credentials = s.key.Credentials();
  ASSERT_EQ(credentials.size(), 2u);
  EXPECT_EQ(Text(credentials[1].name), "beta");
  EXPECT_EQ(credentials[1].counter, 0u);
  EXPECT_EQ(credentials[1].digits, 6);
  EXPECT_TRUE(credentials[0].isDefault);
  EXPECT_FALSE(credentials[1].isDefault);

  // Deleting the default leaves none.
  EXPECT_EQ(Hex(s.key.ProcessApdu(BuildDelete("alpha"))), "90 00");
  EXPECT_EQ(ListedNames(s.key), (std::vector<std::string>{"beta"}));
  EXPECT_EQ(Hex(s.key.ProcessApdu(BuildGetDefault())), "90 00");

  EXPECT_EQ(Hex(s.key.ProcessApdu(BuildReset())), "90 00");
  EXPECT_TRUE(ListedNames(s.key).empty());
  EXPECT_TRUE(s.key.IsOathSelected());
}

TEST(VirtualKeyApplet, AFullStoreRefusesNewNamesButAcceptsRewrites) {
  VirtualKeyConfig config;
  config.capacity = 2;
  Selected s(config);
  ASSERT_EQ(Sw(s.Put("one")), 0x9000);
  ASSERT_EQ(Sw(s.Put("two")), 0x9000);
  EXPECT_EQ(Hex(s.Put("three")), "6A 84");
  EXPECT_EQ(Hex(s.Put("one", Bytes{0x01})), "90 00");
  EXPECT_EQ(ListedNames(s.key), (std::vector<std::string>{"one", "two"}));
}

TEST(VirtualKeyMode, NewInterfaceSetAppliesAtTheNextPlugIn) {
  VirtualKey key;
  std::vector<std::uint8_t> hooked;
  key.SetModeChangedHook([&](std::uint8_t mode) { hooked.push_back(mode); });
  EXPECT_EQ(key.PresentInterfaces(), 0x70);
  EXPECT_EQ(Hex(key.ProcessApdu(BuildSetInterfaceMode(0x30))), "90 00");
  EXPECT_EQ(key.PresentInterfaces(), 0x70);
  EXPECT_EQ(key.StoredInterfaceMode(), 0x30);
  EXPECT_EQ(hooked, (std::vector<std::uint8_t>{0x30}));
  key.PowerOff();
  key.PowerOn();
  EXPECT_EQ(key.PresentInterfaces(), 0x70) << "a power cycle is not a plug-in";
  key.PlugIn();
  EXPECT_EQ(key.PresentInterfaces(), 0x30);
  EXPECT_EQ(Hex(key.ProcessApdu(BuildSetInterfaceMode(0x80))), "6A 80");
  EXPECT_EQ(hooked.size(), 1u);
}

// Every guarded command, built against a key that holds the credential "AB".
const std::pair<const char*, Bytes> kGuarded[] = {
    {"put", BuildPut(9, "CD", Bytes{1, 2, 3}, 6, "")},
    {"calculate", BuildCalculate("AB")},
    {"set default", BuildSetDefault("AB")},
    {"delete", BuildDelete("AB")},
    {"mode", BuildSetInterfaceMode(0x40)},
    {"reset", BuildReset()},
};

TEST(VirtualKeyTouch, WithoutATouchGuardedCommandsTimeOutAndChangeNothing) {
  VirtualKeyConfig config;
  config.touchWindow = 60ms;
  Selected s(config);
  ASSERT_EQ(Sw(s.Put("AB")), 0x9000);
  ASSERT_EQ(Sw(s.Put("XY")), 0x9000);
  s.key.SetCosVersion(kTouchCos);
  s.key.SetTouchSource(TouchMode::Never);
  for (const auto& [what, command] : kGuarded) {
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Hex(s.key.ProcessApdu(command)), "69 84") << what;
    EXPECT_GE(std::chrono::steady_clock::now() - start, 60ms) << what << " answered before its window ended";
  }
  EXPECT_EQ(s.key.TouchRequests(), 6);
  const auto credentials = s.key.Credentials();
  ASSERT_EQ(credentials.size(), 2u);
  EXPECT_EQ(credentials[0].counter, 0u);
  EXPECT_TRUE(credentials[1].isDefault);
  EXPECT_EQ(s.key.StoredInterfaceMode(), 0x70);
  // Unguarded commands never wait.
  EXPECT_EQ(ListedNames(s.key), (std::vector<std::string>{"AB", "XY"}));
  EXPECT_EQ(Text(DataOf(s.key.ProcessApdu(BuildGetDefault()))), "XY");
  EXPECT_EQ(Sw(s.key.ProcessApdu(BuildGetCosVersion())), 0x9000);
  EXPECT_EQ(s.key.TouchRequests(), 6);
}

TEST(VirtualKeyTouch, KeysThatNeedNoTouchIgnoreTheTouchSource) {
  VirtualKeyConfig config;
  config.touch = TouchMode::Never;
  Selected s(config);  // the default COS version, which needs no touch
  ASSERT_EQ(Sw(s.Put("AB")), 0x9000);
  for (const auto& [what, command] : kGuarded) EXPECT_EQ(Sw(s.key.ProcessApdu(command)), 0x9000) << what;
  EXPECT_EQ(s.key.TouchRequests(), 0);
}

TEST(VirtualKeyTouch, ACallbackTouchCountsOnlyWithinTheWindow) {
  VirtualKeyConfig config;
  config.cosVersion = kTouchCos;
  config.touchWindow = 400ms;
  Selected s(config);
  // Touched at the key's second look, while it waits.
  std::atomic<int> looks{0};
  s.key.SetTouchSource(TouchMode::Callback, [&] { return ++looks >= 2; });
  EXPECT_EQ(Hex(s.Put("AB")), "90 00");
  EXPECT_EQ(looks, 2);

  // A callback that only answers after the window has passed is no touch.
  s.key.SetTouchWindow(30ms);
  s.key.SetTouchSource(TouchMode::Callback, [] {
    std::this_thread::sleep_for(60ms);
    return true;
  });
  EXPECT_EQ(Hex(s.key.ProcessApdu(BuildDelete("AB"))), "69 84");
  EXPECT_EQ(s.key.Credentials().size(), 1u);

  s.key.SetTouchSource(TouchMode::Always);
  EXPECT_EQ(Hex(s.key.ProcessApdu(BuildDelete("AB"))), "90 00");
}

TEST(VirtualKeyTouch, InspectionDoesNotWaitForATouch) {
  VirtualKeyConfig config;
  config.cosVersion = kTouchCos;
  config.touch = TouchMode::Never;
  config.touchWindow = 500ms;
  Selected s(config);
  auto waiting = std::async(std::launch::async, [&] { return s.key.ProcessApdu(BuildReset()); });
  ASSERT_TRUE(test_wait::WaitUntil([&] { return s.key.TouchRequests() == 1; }));
  const auto start = std::chrono::steady_clock::now();
  s.key.Credentials();
  s.key.ReceivedApdus();
  s.key.StoredInterfaceMode();
  EXPECT_LT(std::chrono::steady_clock::now() - start, 200ms);
  EXPECT_EQ(Hex(waiting.get()), "69 84");
}

// How a T=0 answer is served in pieces is T0ResponseChainTest's; the key's list through GET
// RESPONSE over pcscd, FaultPcscdTest's.
TEST(VirtualKeyT0, EnvelopePiecesMakeOneCommand) {
  VirtualKeyConfig config;
  config.useT0 = true;
  Selected s(config);
  const Bytes put = BuildPut(9, "env", kRfcSecret, 6, "");
  const Bytes first(put.begin(), put.begin() + 10);
  const Bytes second(put.begin() + 10, put.end());
  Bytes envelope = {0x00, 0xC2, 0x00, 0x00, static_cast<std::uint8_t>(first.size())};
  envelope.insert(envelope.end(), first.begin(), first.end());
  EXPECT_EQ(Hex(s.key.ProcessApdu(envelope)), "90 00");
  envelope = {0x00, 0xC2, 0x00, 0x00, static_cast<std::uint8_t>(second.size())};
  envelope.insert(envelope.end(), second.begin(), second.end());
  EXPECT_EQ(Hex(s.key.ProcessApdu(envelope)), "90 00");
  EXPECT_EQ(s.key.Credentials().size(), 1u);
  // Pieces that overrun the command they announce are refused.
  EXPECT_EQ(Hex(s.key.ProcessApdu(FromHex("00 C2 00 00 08 00 08 00 00 01 51 41 42"))), "67 00");
}

TEST(VirtualKeyRecord, ReceivedApdusInOrderWithinTheLimit) {
  VirtualKeyConfig config;
  config.receivedLogLimit = 3;
  VirtualKey key(config);
  const Bytes commands[] = {BuildSelectFido(), BuildSelectOath(), BuildList(), BuildGetDefault()};
  for (const auto& command : commands) key.ProcessApdu(command);
  EXPECT_EQ(key.ReceivedApdus(), (std::vector<Bytes>{commands[1], commands[2], commands[3]}));
  key.ClearReceivedApdus();
  EXPECT_TRUE(key.ReceivedApdus().empty());

  // The demo key keeps no record at all: it would only hold on to the secrets written.
  VirtualKey demo(demo_key::KeyConfig());
  demo.ProcessApdu(BuildSelectOath());
  EXPECT_EQ(Sw(demo.ProcessApdu(BuildPut(oath::kInsPut, "AB", kRfcSecret, 6, ""))), 0x9000);
  EXPECT_TRUE(demo.ReceivedApdus().empty());
}

// The demo key's sample secrets are drawn at random: a generator that fails on any draw leaves the
// key empty rather than holding predictable (all-zero) secrets.
TEST(DemoKeySeeding, WritesTheSamplesOnlyWhenEveryRandomDrawSucceeds) {
  struct Case {
    const char* what;
    demo_key::DemoRandomSource random;
    std::size_t credentials;
  };
  static int draws = 0;
  const Case cases[] = {
      {"system generator", nullptr, 2},
      {"always fails", [](unsigned char*, int) { return 0; }, 0},
      {"second draw fails", [](unsigned char* b, int n) { std::fill(b, b + n, 0x5A); return ++draws == 2 ? 0 : 1; },
       0},
  };
  for (const Case& c : cases) {
    draws = 0;
    VirtualKey key(demo_key::KeyConfig());
    EXPECT_EQ(demo_key::SeedSampleCredentials(key, c.random), c.credentials != 0) << c.what;
    EXPECT_EQ(key.Credentials().size(), c.credentials) << c.what;
  }
}

TEST(VirtualKeyState, PersistsAcrossRestartsAndContinuesTheCounters) {
  TempDir dir;
  VirtualKeyConfig config;
  config.stateFile = dir.File("key.state");
  {
    Selected s(config);
    ASSERT_EQ(Sw(s.Put("first", kRfcSecret, 6, "0001")), 0x9000);
    ASSERT_EQ(Sw(s.Put("second", Bytes{0xAA, 0xBB}, 8)), 0x9000);
    ASSERT_EQ(Sw(s.key.ProcessApdu(BuildSetDefault("first"))), 0x9000);
    CalculatedCode(s.key, "first");
    ASSERT_EQ(Sw(s.key.ProcessApdu(BuildSetInterfaceMode(0x50))), 0x9000);
    EXPECT_EQ(s.key.StateFileError(), "");
  }
  struct stat info {};
  ASSERT_EQ(::stat(config.stateFile.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u) << "the file holds secrets";

  Selected restarted(config);
  EXPECT_EQ(restarted.key.StateFileError(), "");
  EXPECT_EQ(ListedNames(restarted.key), (std::vector<std::string>{"first", "second"}));
  EXPECT_EQ(Text(DataOf(restarted.key.ProcessApdu(BuildGetDefault()))), "first");
  EXPECT_EQ(restarted.key.StoredInterfaceMode(), 0x50);
  EXPECT_EQ(restarted.key.PresentInterfaces(), 0x50);
  EXPECT_EQ(CalculatedCode(restarted.key, "first"), Oathtool(kRfcSecretHex, 6, 0x30303031u + 1));
  EXPECT_EQ(restarted.key.Credentials()[1].digits, 8);
}

// A state file the key cannot use is reported and never written over, and the key works without it.
TEST(VirtualKeyState, AFileThatIsNoStateOrNoRegularFileOfTheUsersOwnIsRefusedAtOnceAndLeftAlone) {
  struct Case {
    const char* what;
    std::function<bool(const std::string& path, const std::string& validState)> make;
    const char* reason;  // part of the error
  };
  const auto copy = [](const std::string& from, const std::string& to) {
    std::error_code error;
    return std::filesystem::copy_file(from, to, error);
  };
  const std::vector<Case> cases = {
      {"a damaged state",
       [](const std::string& path, const std::string&) {
         std::ofstream(path) << "not a key\n";
         return true;
       },
       "does not hold a virtual key state"},
      {"a FIFO, which would block a reader until a writer comes",
       [](const std::string& path, const std::string&) { return ::mkfifo(path.c_str(), 0600) == 0; },
       "is not a regular file"},
      {"a symbolic link to a valid state",
       [](const std::string& path, const std::string& valid) { return ::symlink(valid.c_str(), path.c_str()) == 0; },
       "is a symbolic link"},
      {"a file larger than any state",
       [](const std::string& path, const std::string&) {
         std::ofstream(path) << std::string(kMaxStateFileSize + 1, 'x');
         return true;
       },
       "is larger than"},
      {"a valid state belonging to another user",
       [&copy](const std::string& path, const std::string& valid) {
         return copy(valid, path) && ::chown(path.c_str(), 65534, 65534) == 0;
       },
       "belongs to another user"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    if (std::string(c.what).find("another user") != std::string::npos && ::geteuid() != 0) {
      std::printf("skipped (only root can give a file away): %s\n", c.what);
      continue;
    }
    TempDir dir;
    VirtualKeyConfig config;
    const std::string valid = dir.File("valid.state");
    config.stateFile = valid;
    ASSERT_EQ(Sw(Selected(config).Put("AB")), 0x9000);
    std::ifstream validIn(valid);
    const std::string validContent(std::istreambuf_iterator<char>(validIn), {});

    config.stateFile = dir.File("key.state");
    ASSERT_TRUE(c.make(config.stateFile, valid));
    struct stat before {};
    ASSERT_EQ(::lstat(config.stateFile.c_str(), &before), 0);

    const auto start = std::chrono::steady_clock::now();
    Selected s(config);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
    const std::string error = s.key.StateFileError();
    EXPECT_NE(error.find(config.stateFile), std::string::npos) << error;
    EXPECT_NE(error.find(c.reason), std::string::npos) << error;
    EXPECT_TRUE(s.key.Credentials().empty());

    // The key still works, and nothing it does reaches the file.
    EXPECT_EQ(Sw(s.Put("CD")), 0x9000);
    struct stat after {};
    ASSERT_EQ(::lstat(config.stateFile.c_str(), &after), 0);
    EXPECT_EQ(after.st_mode, before.st_mode);
    EXPECT_EQ(after.st_uid, before.st_uid);
    EXPECT_EQ(after.st_size, before.st_size);
    EXPECT_EQ(after.st_ino, before.st_ino);
    std::ifstream validAfter(valid);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(validAfter), {}), validContent);
  }
}

TEST(VirtualKeyState, AFailedWriteRefusesTheChange) {
  TempDir dir;
  VirtualKeyConfig config;
  config.stateFile = dir.File("key.state");
  Selected s(config);
  ASSERT_EQ(Sw(s.Put("AB")), 0x9000);
  // The directory goes away: the next change cannot be stored.
  std::filesystem::remove_all(std::filesystem::path(config.stateFile).parent_path());
  EXPECT_EQ(Hex(s.Put("CD")), "65 81");
  EXPECT_EQ(Hex(s.key.ProcessApdu(BuildCalculate("AB"))), "65 81");
  EXPECT_NE(s.key.StateFileError(), "");
  const auto credentials = s.key.Credentials();
  ASSERT_EQ(credentials.size(), 1u);
  EXPECT_EQ(credentials[0].counter, 0u);
}

}  // namespace
