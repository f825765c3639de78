// tokvane-cli end to end through a real pcscd: the virtual key sits in the vpcd reader, served
// in-process, and every subcommand runs with the system's PC/SC service. The commands the key
// receives are checked against those of the desktop program's actions.
#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "core/Conversions.h"
#include "keysim/VirtualKey.h"
#include "oath/OathCommands.h"
#include "tests/integration/CliRunner.h"
#include "tests/integration/PcscdHarness.h"
#include "tests/support/FaultInjectingCard.h"
#include "tests/support/ServedCard.h"
#include "tests/support/TestKeys.h"

namespace tokvane::integration {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;

using test_keys::Hex;
using test_keys::kRfcCodes6;
const Bytes& kSecret = test_keys::kRfcSecret;
const std::string& kSecretHex = test_keys::kRfcSecretHex;
const std::string& kSecretBase32 = test_keys::kRfcSecretBase32;

const std::string kCosQuery = Hex(BuildGetCosVersion());

class CliPcscdTest : public PcscdTest {
 protected:
  void TearDown() override { served_.reset(); }

  void Serve(VirtualKeyConfig config = {}) {
    served_.reset();
    key_ = std::make_shared<VirtualKey>(std::move(config));
    served_ = std::make_unique<ServedCard>(key_);
    ASSERT_TRUE(served_->Insert()) << "pcscd did not show the virtual key";
  }

  // Runs the CLI and returns the command APDUs the key received meanwhile, as hex.
  CliResult Run(const std::vector<std::string>& args, const std::string& input = {}) {
    key_->ClearReceivedApdus();
    CliResult result = RunCliInProcess(args, input);
    received_.clear();
    for (const Bytes& apdu : key_->ReceivedApdus()) received_.push_back(Hex(apdu));
    return result;
  }

  void Add(const std::string& name, const std::string& secretText, std::vector<std::string> options = {}) {
    std::vector<std::string> args = {"oath", "add", name};
    args.insert(args.end(), options.begin(), options.end());
    const CliResult added = Run(args, secretText + "\n");
    ASSERT_EQ(added.code, 0) << added.err;
  }

  std::shared_ptr<VirtualKey> key_;
  std::unique_ptr<ServedCard> served_;
  std::vector<std::string> received_;
};

TEST_F(CliPcscdTest, ReadersInfoAndModeShowSeeTheKeyInTheVpcdReader) {
  Serve();
  const CliResult readers = Run({"readers"});
  ASSERT_EQ(readers.code, 0) << readers.err;
  // Only the virtual readers are in the tests' reach, so the listing is known whole.
  EXPECT_EQ(readers.out, std::string(kVpcdReader) + "\tCCID\tpreferred\n" + kVpcdSecondReader + "\tPCSC\n");
  EXPECT_TRUE(received_.empty()) << "listing sends no command";

  const CliResult json = Run({"--json", "readers"});
  ASSERT_EQ(json.code, 0);
  EXPECT_EQ(json.out,
            "{\"readers\":[{\"name\":\"Virtual PCD 00 00\",\"kind\":\"CCID\",\"preferred\":true},"
            "{\"name\":\"Virtual PCD 00 01\",\"kind\":\"PCSC\",\"preferred\":false}]}\n");

  const CliResult info = Run({"info"});
  ASSERT_EQ(info.code, 0) << info.err;
  EXPECT_EQ(info.out, std::string("Reader: ") + kVpcdReader +
                          "\nCOS version: 4300\nApplet version: 15\nInterfaces: ccid\n");
  EXPECT_EQ(received_, (std::vector<std::string>{Hex(BuildSelectOath()), Hex(BuildGetAppletVersion()), kCosQuery,
                                                 Hex(BuildSelectFido())}));

  const CliResult mode = Run({"--json", "mode", "show"});
  ASSERT_EQ(mode.code, 0) << mode.err;
  EXPECT_EQ(mode.out, "{\"interfaces\":\"ccid\",\"otp\":false,\"u2f\":false,\"ccid\":true,\"modeByte\":64}\n");
}

TEST_F(CliPcscdTest, TheGuardRefusesAReaderThatIsNotVirtualBeforeAnythingIsSent) {
  Serve();
  Add("mail", kSecretHex);
  std::vector<std::string> args = {"--reader", "ACME Token CCID 00 00", "oath", "reset", "--yes"};
  EXPECT_EQ(RefuseNonVirtualTarget(args),
            "refused before sending anything: 'ACME Token CCID 00 00' is not a virtual reader");
  ::testing::TestPartResultArray failures;
  {
    ::testing::ScopedFakeTestPartResultReporter intercept(&failures);
    EXPECT_EQ(Run({"--reader=ACME Token CCID 00 00", "oath", "reset", "--yes"}).code, -1);
  }
  ASSERT_EQ(failures.size(), 1);
  EXPECT_STREQ(failures.GetTestPartResult(0).message(),
               "Failed\nrefused before sending anything: 'ACME Token CCID 00 00' is not a virtual reader");
  EXPECT_TRUE(received_.empty());
  EXPECT_EQ(key_->Credentials().size(), 1u);

  // With no reader named, the vpcd reader is.
  args = {"oath", "list"};
  EXPECT_EQ(RefuseNonVirtualTarget(args), "");
  EXPECT_EQ(args, (std::vector<std::string>{"--reader", kVpcdReader, "oath", "list"}));
}

// What each subcommand sends through pcscd, and what the key then holds. The exit codes and texts
// of refusals and bad input are CliRunTest's (in-process, the same code path).
TEST_F(CliPcscdTest, EverySubcommandSendsThePanelsCommandsAndTheKeyGivesTheRfcCodes) {
  Serve();
  const CliResult added = Run({"oath", "add", "my mail", "--imf", "12 34"}, kSecretHex + "\n");
  ASSERT_EQ(added.code, 0) << added.err;
  EXPECT_EQ(added.out, "Credential 'mymail' written (6 digits).\n");
  Bytes put = BuildPut(oath::kInsPut, std::string_view("mymail"), kSecret, 6, std::string_view("1234"));
  // The listing first: a credential of that name would be written over.
  EXPECT_EQ(received_, (std::vector<std::string>{Hex(BuildSelectOath()), Hex(BuildList()), Hex(BuildSelectOath()),
                                                 kCosQuery, Hex(put), Hex(BuildSelectFido())}));
  for (const std::string& text : {added.out, added.err}) {
    EXPECT_EQ(text.find(kSecretHex.substr(0, 8)), std::string::npos);
    EXPECT_EQ(text.find("31 32 33 34"), std::string::npos);
  }
  // The IMF text "1234" is the counter 0x31323334: oathtool --hotp -c 825373492.
  EXPECT_EQ(Run({"oath", "code", "mymail"}).out, "571262\n");

  Add("mail", kSecretHex);
  for (std::uint32_t count = 0; count < 3; ++count) {
    const CliResult code = Run({"oath", "code", "mail"});
    ASSERT_EQ(code.code, 0) << code.err;
    EXPECT_EQ(code.out, kRfcCodes6[count] + "\n") << "count " << count;
  }
  EXPECT_EQ(received_, (std::vector<std::string>{Hex(BuildSelectOath()), kCosQuery, Hex(BuildCalculate("mail")),
                                                 Hex(BuildSelectFido())}));
  EXPECT_EQ(Run({"--json", "oath", "code", "mail"}).out,
            "{\"reader\":\"Virtual PCD 00 00\",\"name\":\"mail\",\"code\":\"969429\"}\n");
  // Refused over an existing name after the listing: nothing written.
  EXPECT_EQ(Run({"oath", "add", "mail"}, "48656C6C6F21DEADBEEF\n").code, 1);
  EXPECT_EQ(received_, (std::vector<std::string>{Hex(BuildSelectOath()), Hex(BuildList()), Hex(BuildSelectFido())}));

  // A URI whose counter starts the moving factor (oathtool --hotp -d 8 -c 32 and -c 33): a byte
  // that looks like a space stays.
  Add("uri", "otpauth://hotp/Maker:op?secret=" + kSecretBase32 + "&digits=8&counter=32&issuer=Maker");
  EXPECT_EQ(Run({"oath", "code", "uri"}).out, "42370250\n");
  EXPECT_EQ(Run({"oath", "code", "uri"}).out, "38841346\n");

  // Read from a file instead of standard input.
  const std::string file = ::testing::TempDir() + "cli-secret.txt";
  {
    std::FILE* out = std::fopen(file.c_str(), "w");
    ASSERT_NE(out, nullptr);
    std::fputs(kSecretBase32.c_str(), out);
    std::fclose(out);
  }
  EXPECT_EQ(Run({"oath", "add", "filed", "--secret-file", file, "--format", "base32"}).code, 0);
  std::remove(file.c_str());
  EXPECT_EQ(Run({"oath", "code", "filed"}).out, kRfcCodes6[0] + "\n");

  ASSERT_EQ(Run({"oath", "default", "mail"}).code, 0);
  EXPECT_EQ(received_.at(2), Hex(BuildSetDefault("mail")));
  const CliResult list = Run({"oath", "list"});
  ASSERT_EQ(list.code, 0) << list.err;
  EXPECT_EQ(list.out, "  mymail\n* mail\n  uri\n  filed\n");
  EXPECT_EQ(received_, (std::vector<std::string>{Hex(BuildSelectOath()), Hex(BuildList()), Hex(BuildSelectOath()),
                                                 Hex(BuildGetDefault()), Hex(BuildSelectFido())}));
  ASSERT_EQ(Run({"oath", "delete", "mail"}).code, 0);
  EXPECT_EQ(received_.at(2), Hex(BuildDelete("mail")));
  EXPECT_EQ(key_->Credentials().size(), 3u);

  const CliResult reset = Run({"oath", "reset", "--yes"});
  ASSERT_EQ(reset.code, 0) << reset.err;
  EXPECT_EQ(received_, (std::vector<std::string>{Hex(BuildSelectOath()), kCosQuery, Hex(BuildReset()),
                                                 Hex(BuildSelectFido())}));
  EXPECT_TRUE(key_->Credentials().empty());
  EXPECT_EQ(Run({"oath", "list"}).out, "");

  const CliResult set = Run({"mode", "set", "u2f+otp"});
  ASSERT_EQ(set.code, 0) << set.err;
  EXPECT_EQ(set.out, "Interface mode set to otp+u2f. Unplug the key and plug it in again to use it.\n");
  // On a fresh connection, no applet selected.
  EXPECT_EQ(received_, (std::vector<std::string>{kCosQuery, "80 E1 FF 00 01 30"}));
  EXPECT_EQ(key_->StoredInterfaceMode(), 0x30);
  EXPECT_EQ(key_->PresentInterfaces(), 0x70) << "the new set waits for the next plug-in";
}

TEST_F(CliPcscdTest, AReaderWithoutAKeyIsStatus3WithTheServicesReason) {
  Serve();
  const CliResult emptyReader = Run({"--reader", kVpcdSecondReader, "oath", "list"});
  EXPECT_EQ(emptyReader.code, 3);
  EXPECT_EQ(emptyReader.err, "tokvane-cli: cannot connect to 'Virtual PCD 00 01': No smart card inserted.\n");

  ASSERT_TRUE(served_->Remove());
  const CliResult noKey = Run({"oath", "list"});
  EXPECT_EQ(noKey.code, 3);
  EXPECT_EQ(noKey.err, "tokvane-cli: cannot connect to 'Virtual PCD 00 00': No smart card inserted.\n");
  EXPECT_EQ(Run({"mode", "show"}).code, 3);
  EXPECT_EQ(Run({"readers"}).code, 0) << "an empty reader is still a reader";
}

TEST_F(CliPcscdTest, AKeyPulledOutMidCommandStoppedAnsweringAndNeverRefused) {
  // The key goes while the command is on its way: before or after it did the work. Either way
  // the CLI says it stopped answering (exit 3), and the key keeps every credential it had.
  const struct {
    const char* what;
    std::vector<std::string> args;
    std::string input;
    std::uint8_t pulledAt;
    bool keyFirst;
    std::string asked;   // what the key was asked to do
    std::string effect;  // said about a command that changes the key
  } cases[] = {
      {"code", {"oath", "code", "mail"}, "", oath::kInsCalculate, true, "calculate a code for 'mail'", ""},
      {"add, before the key took it", {"oath", "add", "web"}, kSecretHex + "\n", oath::kInsPut, false, "write 'web'",
       "; the credential may or may not have been written"},
      {"delete, after the key did it", {"oath", "delete", "mail"}, "", oath::kInsDelete, true, "delete 'mail'",
       "; the credential may or may not have been deleted"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    served_.reset();
    key_ = std::make_shared<VirtualKey>();
    auto card = std::make_shared<FaultInjectingCard>(key_);
    served_ = std::make_unique<ServedCard>(card);
    ASSERT_TRUE(served_->Insert()) << "pcscd did not show the virtual key";
    Add("mail", kSecretHex);
    const auto before = key_->Credentials();

    card->Arm(FaultInjectingCard::OnInstruction(c.pulledAt), &FaultInjectingCard::ThrowPulledOut, c.keyFirst);
    const CliResult pulled = Run(c.args, c.input);
    EXPECT_TRUE(card->Fired());
    EXPECT_EQ(pulled.code, 3) << pulled.err;
    // vpcd hands pcscd an empty answer, or the service fails the exchange: the reason differs,
    // the rest of the line does not.
    const std::string said = "tokvane-cli: the key on 'Virtual PCD 00 00' stopped answering when asked to " + c.asked + ": ";
    EXPECT_EQ(pulled.err.substr(0, said.size()), said);
    const std::string end = c.effect + "\n";
    ASSERT_GE(pulled.err.size(), said.size() + end.size()) << pulled.err;
    EXPECT_EQ(pulled.err.substr(pulled.err.size() - end.size()), end);
    EXPECT_EQ(pulled.err.find("refused"), std::string::npos) << pulled.err;
    EXPECT_TRUE(pulled.out.empty());

    // Back in the reader, the key holds what it held, plus or minus the command it finished.
    ASSERT_TRUE(WaitForCardState(kVpcdReader, false, 15s));
    // vpcd lets the first connection after a session that ended mid-command go unanswered; the
    // second insertion is taken.
    ASSERT_TRUE(served_->Remove());
    ASSERT_TRUE(served_->Insert(3000ms) || (served_->Remove() && served_->Insert()));
    const auto after = key_->Credentials();
    if (c.pulledAt == oath::kInsDelete) {
      EXPECT_TRUE(after.empty());
    } else {
      ASSERT_EQ(after.size(), before.size());
      EXPECT_EQ(after[0].name, before[0].name);
    }
    const CliResult listed = Run({"oath", "list"});
    EXPECT_EQ(listed.code, 0) << listed.err;
  }
}

}  // namespace
}  // namespace tokvane::integration
