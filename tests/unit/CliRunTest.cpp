// The CLI's argument and exit-code handling, run in-process: help, usage errors and bad input are
// answered before any key is reached (the demo key's state file is never even created).
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "cli/CliApp.h"
#include "cli/CliOathHost.h"
#include "keysim/DemoKeySetup.h"
#include "keysim/VirtualHidApi.h"
#include "keysim/VirtualPcscApi.h"
#include "oath/UserPresence.h"
#include "tests/integration/CliRunner.h"
#include "tests/support/TestKeys.h"

namespace {

using tokvane::integration::CliResult;

// Runs with no reader and no HID interface at all: nothing on the machine can be reached.
CliResult RunWith(const std::vector<std::string>& args, const std::string& input = {}) {
  return tokvane::integration::RunCliInProcess(
      MakeDeviceBackends(std::make_shared<VirtualPcscApi>(), std::make_shared<VirtualHidApi>()), args, input);
}

std::size_t Lines(const std::string& text) {
  return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
}

class CliRun : public ::testing::Test {
 protected:
  void SetUp() override {
    state_ = std::filesystem::temp_directory_path() /
             ("tokvane-cli-run-" + std::to_string(::getpid()) + "-" +
              ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove(state_);
  }
  void TearDown() override {
    std::filesystem::remove(state_);
    RemoveImages();
  }

  // Arguments that would reach the demo key, whose state file appears once it is used.
  std::vector<std::string> Demo(std::vector<std::string> args) const {
    args.insert(args.begin(), {"--demo", "--demo-state", state_.string()});
    return args;
  }
  bool KeyWasReached() const { return std::filesystem::exists(state_); }

  // A PNG of `text`'s QR code made by qrencode, removed with the test.
  std::string QrImage(const std::string& text) {
    const std::filesystem::path path = state_.string() + "-" + std::to_string(images_.size()) + ".png";
    images_.push_back(path);
    const std::string command = "qrencode -o '" + path.string() + "' '" + text + "'";
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
    return path.string();
  }
  // A PNG of a grey image of `width` x `height` pixels, whose pixel data is cut short: the size
  // of its header is what a decoder would allocate.
  std::string PngHeaderImage(std::uint32_t width, std::uint32_t height) {
    const std::filesystem::path path = state_.string() + "-" + std::to_string(images_.size()) + ".png";
    images_.push_back(path);
    std::string chunk = "IHDR";
    for (const std::uint32_t value : {width, height}) {
      for (int shift = 24; shift >= 0; shift -= 8) chunk += static_cast<char>((value >> shift) & 0xFF);
    }
    chunk += std::string("\x08\x00\x00\x00\x00", 5);  // 8-bit grey, no interlace
    std::uint32_t crc = 0xFFFFFFFF;
    for (const char c : chunk) {
      crc ^= static_cast<std::uint8_t>(c);
      for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    crc ^= 0xFFFFFFFF;
    std::string png = "\x89PNG\r\n\x1A\n";
    png += std::string("\x00\x00\x00\x0D", 4) + chunk;
    for (int shift = 24; shift >= 0; shift -= 8) png += static_cast<char>((crc >> shift) & 0xFF);
    std::ofstream(path, std::ios::binary) << png;
    return path.string();
  }
  void RemoveImages() {
    for (const auto& image : images_) std::filesystem::remove(image);
  }
  std::vector<std::filesystem::path> images_;

  std::filesystem::path state_;
};

TEST_F(CliRun, WithoutAKeyEveryKeyCommandSaysNoKeyFoundWithStatus3) {
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {"info"}, {"mode", "show"}, {"oath", "list"}, {"oath", "code", "mail"}}) {
    const CliResult run = RunWith(args);
    EXPECT_EQ(run.code, 3) << args.back();
    EXPECT_EQ(run.err, "tokvane-cli: no key found\n") << args.back();
  }
  const CliResult json = RunWith({"--json", "oath", "list"});
  EXPECT_EQ(json.out, "{\"error\":\"no key found\",\"exitCode\":3}\n");
}

TEST_F(CliRun, HelpOfEverySubcommandGoesToStandardOutputWithStatus0) {
  // Each subcommand's own text is CliArgumentsTest's; here where it goes.
  const std::vector<std::vector<std::string>> cases = {
      {"--help"}, {"info", "-h"}, {"oath", "add", "--help"}, {"mode", "set", "--help"}};
  for (const auto& args : cases) {
    const CliResult run = RunWith(Demo(args));
    EXPECT_EQ(run.code, 0) << args[0];
    EXPECT_EQ(run.out.rfind("Usage: tokvane-cli", 0), 0u) << run.out;
    EXPECT_TRUE(run.err.empty()) << run.err;
  }
  EXPECT_FALSE(KeyWasReached());
}

TEST_F(CliRun, UsageErrorsAreOneLineOnStandardErrorWithStatus2) {
  // Each reason is CliArgumentsTest's; here how a refused command line is answered.
  const std::vector<std::vector<std::string>> cases = {
      {},
      {"frobnicate"},
      {"readers", "--bogus"},
      {"oath", "add", "n", "--qr", TOKVANE_TEST_DATA_DIR "/otpauth-hotp-qr.png", "--format", "hex"},
      {"oath", "add", "--secret-file", "-"},  // only an image may name the credential
  };
  for (const auto& args : cases) {
    const CliResult run = RunWith(Demo(args));
    EXPECT_EQ(run.code, 2);
    EXPECT_TRUE(run.out.empty()) << run.out;
    EXPECT_EQ(run.err.rfind("tokvane-cli: ", 0), 0u) << run.err;
    EXPECT_EQ(Lines(run.err), 2u) << run.err;  // the reason, and where to find help
    EXPECT_NE(run.err.find("Try 'tokvane-cli --help'"), std::string::npos);
  }
  EXPECT_FALSE(KeyWasReached());
}

TEST_F(CliRun, JsonErrorsAreADocumentOnStandardOutput) {
  const CliResult run = RunWith(Demo({"--json", "mode", "set", "none"}));
  EXPECT_EQ(run.code, 2);
  EXPECT_EQ(run.out.rfind("{\"error\":\"'none' is not a set of interfaces", 0), 0u) << run.out;
  EXPECT_NE(run.out.find("\"exitCode\":2}"), std::string::npos) << run.out;
  EXPECT_EQ(Lines(run.out), 1u);
  EXPECT_EQ(Lines(run.err), 1u) << run.err;
}

TEST_F(CliRun, BadSecretsAndAnUnconfirmedResetAreRefusedBeforeAnyKeyIsReached) {
  const std::string rfcBase32 = "GEZDGNBVGY3TQOJQGEZDGNBVGY3TQOJQ";
  // How the secret's own forms are judged is SecretFormatsTest's; here the CLI's own checks, and
  // that a refused secret is never echoed nor the key reached.
  const struct {
    std::vector<std::string> args;
    std::string input;
    const char* reasonPart;
  } cases[] = {
      {{"oath", "add", "n", "--format", "base32"}, "GEZDGNBV1Y3TQOJQ\n", "malformed base32"},
      {{"oath", "add", "n"}, rfcBase32 + "\n", "is not a hex digit (use --format base32"},
      {{"oath", "add", "n"}, "", "the secret is empty"},
      {{"oath", "add", "n", "--digits", "6"}, "otpauth://hotp/x?digits=8&secret=" + rfcBase32, "contradicts"},
      {{"oath", "add", "n", "--imf", "1"}, "otpauth://hotp/x?secret=" + rfcBase32, "--imf does not go with a URI"},
      {{"oath", "add", "n", "--imf", std::string(250, '7')}, "3132", "moving factor is too long"},
      {{"oath", "add", "n", "--secret-file", "/nonexistent/secret"}, "", "cannot open the secret file"},
      {{"oath", "add", "--qr", QrImage("otpauth://totp/x?secret=" + rfcBase32)}, "", "TOTP URIs are not supported"},
      {{"oath", "add", "n", "--qr", QrImage("https://example.com/")}, "", "the QR code holds no otpauth URI"},
      {{"oath", "add", "--qr", QrImage("otpauth://hotp/?secret=" + rfcBase32)}, "", "label makes no name"},
      {{"oath", "add", "n", "--qr", "/nonexistent/qr.png"}, "", "cannot read the image"},
      {{"oath", "add", "n", "--qr", PngHeaderImage(20000, 20000)}, "", "20000 x 20000 pixels; at most 40 million"},
      {{"oath", "add", "n", "--qr", PngHeaderImage(8000, 5001)}, "", "8000 x 5001 pixels; at most 40 million"},
      // Exactly the limit is decoded, and the missing pixel data found.
      {{"oath", "add", "n", "--qr", PngHeaderImage(8000, 5000)}, "", "cannot read the image"},
      // Standard input is a pipe, not a terminal: even a "y" in it does not confirm a reset.
      {{"oath", "reset"}, "y\n", "--yes"},
  };
  for (const auto& c : cases) {
    const CliResult run = RunWith(Demo(c.args), c.input);
    EXPECT_EQ(run.code, 2) << c.reasonPart << ": " << run.err;
    EXPECT_NE(run.err.find(c.reasonPart), std::string::npos) << run.err;
    EXPECT_EQ(Lines(run.err), 1u) << run.err;
    EXPECT_EQ(run.err.find("GEZDGNBV"), std::string::npos) << "secret echoed: " << run.err;
    EXPECT_FALSE(KeyWasReached()) << c.reasonPart;
  }
}


TEST_F(CliRun, AQrImageWritesTheCredentialOfItsUri) {
  // The committed sample: the secret of RFC 4226 with 8 digits from counter 1, named by its label.
  const CliResult add = RunWith(Demo({"oath", "add", "--qr", TOKVANE_TEST_DATA_DIR "/otpauth-hotp-qr.png"}));
  ASSERT_EQ(add.code, 0) << add.err;
  EXPECT_EQ(add.out, "Credential 'Maker:op' written (8 digits).\n");
  // The vectors of RFC 4226 for counters 1 and 2.
  for (const char* expected : {"94287082\n", "37359152\n"}) {
    const CliResult code = RunWith(Demo({"oath", "code", "Maker:op"}));
    ASSERT_EQ(code.code, 0) << code.err;
    EXPECT_EQ(code.out, expected);
  }
  // A NAME given beside the image wins over the label; a made image reads like the sample.
  const CliResult named = RunWith(Demo(
      {"oath", "add", "mine", "--qr", QrImage("otpauth://hotp/x?secret=GEZDGNBVGY3TQOJQGEZDGNBVGY3TQOJQ")}));
  ASSERT_EQ(named.code, 0) << named.err;
  EXPECT_EQ(named.out, "Credential 'mine' written (6 digits).\n");
  const CliResult code = RunWith(Demo({"oath", "code", "mine"}));
  EXPECT_EQ(code.out, "755224\n");

  // Another secret and moving factor: the key's codes are oathtool's for the same secret and counter.
  const CliResult other = RunWith(
      Demo({"oath", "add", "--qr", QrImage("otpauth://hotp/other?secret=JBSWY3DPEHPK3PXP&counter=5&digits=8")}));
  ASSERT_EQ(other.code, 0) << other.err;
  for (const int counter : {5, 6}) {
    const CliResult next = RunWith(Demo({"oath", "code", "other"}));
    EXPECT_EQ(next.out, test_keys::Oathtool("JBSWY3DPEHPK3PXP", 8, counter, true) + "\n") << counter;
  }
}

TEST_F(CliRun, AnAddOverANameTheKeyHoldsIsRefusedUntilForced) {
  // Two secrets, as base32 for oathtool and as hex (the other form the CLI reads).
  const std::string oldBase32 = "GEZDGNBVGY3TQOJQGEZDGNBVGY3TQOJQ";
  const std::string oldHex = "3132333435363738393031323334353637383930";
  const std::string newBase32 = "JBSWY3DPEHPK3PXP";
  const std::string newHex = "48656C6C6F21DEADBEEF";
  const std::string refusal =
      "tokvane-cli: a credential named 'mail' is already on the key; --force replaces it (its old secret is lost)\n";
  const struct {
    const char* what;
    std::vector<std::string> args;  // the second add, of the new secret, without --force
    std::string input;
  } cases[] = {
      {"secret on standard input", {"oath", "add", "mail"}, newHex + "\n"},
      {"secret from a QR image", {"oath", "add", "mail", "--qr", QrImage("otpauth://hotp/x?secret=" + newBase32)}, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::filesystem::remove(state_);
    ASSERT_EQ(RunWith(Demo({"oath", "add", "mail"}), oldHex + "\n").code, 0);

    const CliResult refused = RunWith(Demo(c.args), c.input);
    EXPECT_EQ(refused.code, 1);
    EXPECT_EQ(refused.err, refusal);
    EXPECT_EQ(refused.out, "");
    std::vector<std::string> json = c.args;
    json.insert(json.begin(), "--json");
    EXPECT_EQ(RunWith(Demo(json), c.input).out,
              "{\"error\":\"a credential named 'mail' is already on the key; --force replaces it (its old secret "
              "is lost)\",\"exitCode\":1}\n");
    // The old secret is still there, its counter untouched by the refused adds.
    EXPECT_EQ(RunWith(Demo({"oath", "code", "mail"})).out, test_keys::Oathtool(oldBase32, 6, 0, true) + "\n");

    std::vector<std::string> forced = c.args;
    forced.push_back("--force");
    const CliResult replaced = RunWith(Demo(forced), c.input);
    ASSERT_EQ(replaced.code, 0) << replaced.err;
    EXPECT_EQ(replaced.out, "Credential 'mail' written (6 digits).\n");
    for (const int counter : {0, 1}) {
      EXPECT_EQ(RunWith(Demo({"oath", "code", "mail"})).out, test_keys::Oathtool(newBase32, 6, counter, true) + "\n") << counter;
    }
  }
}

TEST_F(CliRun, ANameTheKeyDoesNotHoldIsSaidSoWithTheStatusKeptInJson) {
  ASSERT_EQ(RunWith(Demo({"oath", "add", "mail"}), "3132\n").code, 0);
  for (const char* command : {"code", "delete", "default"}) {
    SCOPED_TRACE(command);
    const CliResult text = RunWith(Demo({"oath", command, "nosuch"}));
    EXPECT_EQ(text.code, 1);
    EXPECT_EQ(text.err, "tokvane-cli: no credential named 'nosuch' on the key\n");
    EXPECT_EQ(text.out, "");
    const CliResult json = RunWith(Demo({"--json", "oath", command, "nosuch"}));
    EXPECT_EQ(json.code, 1);
    EXPECT_EQ(json.out,
              "{\"error\":\"no credential named 'nosuch' on the key\",\"exitCode\":1,\"status\":\"6A 82\"}\n");
  }
}

TEST(CliTouchCountdown, ATerminalSeesTheTouchWindowCountedDownAndClearedBeforeTheAnswerAndNothingElseDoes) {
  using namespace std::chrono_literals;
  const std::string prompt = "Please touch the blinking space on FIDO device within 3 seconds.\n";
  std::string counted;
  for (const int left : {3, 2, 1}) counted += "\r" + TouchCountdownText(left);
  const std::string cleared = "\r" + std::string(TouchCountdownText(3).size(), ' ') + "\r";
  const std::string missedCode =
      "tokvane-cli: the key was not touched in time and did not calculate a code for '0001234567890' (status 69 84)\n";
  const std::string missedMode = "tokvane-cli: the key was not touched in time and kept its interfaces (status 69 84)\n";
  const struct {
    const char* what;
    bool terminal;
    bool keyWantsTouch;
    std::vector<std::string> args;
    std::string err;
  } cases[] = {
      {"terminal, code", true, true, {"oath", "code", "0001234567890"}, prompt + counted + cleared + missedCode},
      {"terminal, mode set", true, true, {"mode", "set", "ccid"}, prompt + counted + cleared + missedMode},
      {"pipe: today's output", false, true, {"oath", "code", "0001234567890"}, prompt + missedCode},
      {"pipe, --json", false, true, {"--json", "oath", "code", "0001234567890"}, prompt + missedCode},
      {"no touch wanted: no prompt, no count", true, false, {"oath", "code", "0001234567890"}, ""},
  };
  for (const auto& c : cases) {
    std::string error;
    const auto rig = demo_key::DemoKeyRig::Create("", error);
    ASSERT_NE(rig, nullptr) << error;
    rig->Key()->SetCosVersion({0x43, static_cast<std::uint8_t>(c.keyWantsTouch ? 0x01 : 0x00), 0x01});
    // Nobody touches: the key answers 69 84 once its window is over, long after the short count.
    rig->Key()->SetTouchSource(TouchMode::Never);
    rig->Key()->SetTouchWindow(400ms);
    rig->PlugIn();
    cli::TouchCountdownStyle countdown;
    countdown.terminal = c.terminal;
    countdown.second = 20ms;
    const CliResult run = tokvane::integration::RunCliInProcess(rig->Backends(), c.args, {}, countdown);
    EXPECT_EQ(run.err, c.err) << c.what;
    EXPECT_EQ(run.code, c.keyWantsTouch ? 1 : 0) << c.what;
  }
}

// The demo key stands for every reader, and a state file carries it from one run to the next: a
// new interface set shows at the next run, as at the next plug-in.
TEST_F(CliRun, TheDemoKeyIsEveryReaderAndItsStateFileCarriesItToTheNextRun) {
  const std::string ccid = "Tokvane Demo Key CCID 00 00";
  EXPECT_EQ(RunWith({"--demo", "oath", "list"}).out, "  0001234567890\n* 0009876543210\n");
  const CliResult readers = RunWith(Demo({"readers"}));
  ASSERT_EQ(readers.code, 0) << readers.err;
  EXPECT_EQ(readers.out, ccid + "\tCCID\nVORTAN HID DEVICE KB 0\tOTP\nVORTAN HID DEVICE U2F 1\tU2F\tpreferred\n");
  ASSERT_EQ(RunWith(Demo({"oath", "add", "mail"}), test_keys::kRfcSecretHex + "\n").code, 0);
  EXPECT_EQ(RunWith(Demo({"--reader", ccid, "oath", "code", "mail"})).out, test_keys::kRfcCodes6[0] + "\n");
  ASSERT_EQ(RunWith(Demo({"mode", "set", "ccid"})).code, 0);
  EXPECT_EQ(RunWith(Demo({"readers"})).out, ccid + "\tCCID\tpreferred\n");
  EXPECT_EQ(RunWith(Demo({"mode", "show"})).out, "ccid\n");
  EXPECT_EQ(RunWith(Demo({"oath", "code", "mail"})).out, test_keys::kRfcCodes6[1] + "\n");
  // Without a state file every run starts from a fresh key.
  EXPECT_EQ(RunWith({"--demo", "oath", "list"}).out, "  0001234567890\n* 0009876543210\n");
}

TEST_F(CliRun, ADemoStateFileThatIsNoStateIsAUsageError) {
  {
    std::ofstream junk(state_);
    junk << "not a key\n";
  }
  const CliResult run = RunWith(Demo({"oath", "list"}));
  EXPECT_EQ(run.code, 2);
  EXPECT_NE(run.err.find("demo state file"), std::string::npos) << run.err;
  std::ifstream kept(state_);
  std::string content((std::istreambuf_iterator<char>(kept)), std::istreambuf_iterator<char>());
  EXPECT_EQ(content, "not a key\n");  // never overwritten
}

}  // namespace
