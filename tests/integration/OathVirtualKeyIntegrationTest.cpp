// The OATH command set against the virtual key in the vpcd reader of a real pcscd, through the
// PC/SC transport: what the credentials panel writes, lists and calculates, and what the key keeps.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "device/ApduCommand.h"
#include "device/ApduResponse.h"
#include "device/PcscApi.h"
#include "device/PcscInterface.h"
#include "keysim/VirtualKey.h"
#include "oath/OathAnswers.h"
#include "oath/OathCommands.h"
#include "tests/integration/PcscdHarness.h"
#include "tests/support/TestKeys.h"

namespace tokvane::integration {
namespace {

using Bytes = std::vector<std::uint8_t>;
using namespace std::chrono_literals;

using test_keys::kRfcCodes6;
using test_keys::kRfcSecretHex;
using test_keys::Oathtool;
const Bytes& kSecret = test_keys::kRfcSecret;

class OathVirtualKeyIntegrationTest : public PcscdTest {
 protected:
  void TearDown() override {
    served_.reset();
    if (!stateDir_.empty()) std::filesystem::remove_all(stateDir_);
  }

  void Serve(VirtualKeyConfig config) {
    served_.reset();  // a key already in the reader is pulled out first
    key_ = std::make_shared<VirtualKey>(std::move(config));
    served_ = std::make_unique<ServedCard>(key_);
    ASSERT_TRUE(served_->Insert()) << "pcscd did not show the virtual key";
  }

  std::string StateFile() {
    if (stateDir_.empty()) {
      std::string pattern = (std::filesystem::temp_directory_path() / "oath-it-XXXXXX").string();
      stateDir_ = ::mkdtemp(pattern.data());
    }
    return (std::filesystem::path(stateDir_) / "key.state").string();
  }

  // One action as the panel runs it: open, select the OATH applet, one command, close (which
  // powers the card down). The answer's status word and data come back.
  CApduResponse Action(const Bytes& command) {
    CApduResponse response;
    CPcscInterface reader(kVpcdReader, SystemPcscApi());
    if (!reader.Open()) {
      ADD_FAILURE() << "open: " << reader.GetLastErrorText();
      return response;
    }
    EXPECT_EQ(Exchange(reader, BuildSelectOath()).StatusWord(), 0x9000);
    response = Exchange(reader, command);
    EXPECT_TRUE(reader.Close());
    return response;
  }

  static CApduResponse Exchange(CPcscInterface& reader, const Bytes& bytes) {
    CApduCommand command;
    EXPECT_TRUE(command.Parse(bytes.data(), bytes.size()));
    CApduResponse response;
    EXPECT_TRUE(reader.Exchange(command, response)) << reader.GetLastErrorText();
    return response;
  }

  std::vector<std::string> ListedNames() {
    const CApduResponse answer = Action(BuildList());
    EXPECT_EQ(answer.StatusWord(), 0x9000);
    bool complete = false;
    std::vector<std::string> names;
    for (const auto& entry : ParseListResponse(answer.Data.data(), answer.Data.size(), &complete)) {
      names.emplace_back(entry.Name.begin(), entry.Name.end());
    }
    EXPECT_TRUE(complete);
    return names;
  }

  std::string KeyCode(const std::string& name) {
    const CApduResponse answer = Action(BuildCalculate(name));
    EXPECT_EQ(answer.StatusWord(), 0x9000);
    const auto calc = ParseCalcAnswer(answer.Data.data(), answer.Data.size());
    return calc ? FormatCode(*calc) : "no answer";
  }

  std::string DefaultName() {
    const CApduResponse answer = Action(BuildGetDefault());
    EXPECT_EQ(answer.StatusWord(), 0x9000);
    return std::string(answer.Data.begin(), answer.Data.end());
  }

  std::shared_ptr<VirtualKey> key_;
  std::unique_ptr<ServedCard> served_;
  std::string stateDir_;
};

class OathOverBothProtocols : public OathVirtualKeyIntegrationTest,
                              public ::testing::WithParamInterface<bool> {};

TEST_P(OathOverBothProtocols, CredentialsWrittenByTheBuildersCalculateTheRfcCodes) {
  VirtualKeyConfig config;
  config.useT0 = GetParam();
  Serve(config);

  {
    CPcscInterface reader(kVpcdReader, SystemPcscApi());
    ASSERT_TRUE(reader.Open()) << reader.GetLastErrorText();
    EXPECT_EQ(reader.GetProtocol(), GetParam() ? ProtocolT0 : ProtocolT1);
    EXPECT_EQ(Exchange(reader, BuildSelectOath()).StatusWord(), 0x9000);
    EXPECT_EQ(Exchange(reader, BuildE3P1Command()).StatusWord(), 0x9000);
    const CApduResponse version = Exchange(reader, BuildGetAppletVersion());
    EXPECT_TRUE(ReadAppletVersion(version.Data.data(), version.Data.size()).has_value());
    const CApduResponse cos = Exchange(reader, BuildGetCosVersion());
    const auto cosVersion = ReadCosVersion(cos.Data.data(), cos.Data.size());
    ASSERT_TRUE(cosVersion.has_value());
    EXPECT_FALSE(CosVersionNeedsTouch(cosVersion->First, cosVersion->Second));
    EXPECT_EQ(Exchange(reader, BuildSelectFido()).StatusWord(), 0x9000);
    EXPECT_TRUE(reader.Close());
  }

  ASSERT_EQ(Action(BuildPut(oath::kInsPut, "1234", kSecret, 6, "")).StatusWord(), 0x9000);
  ASSERT_EQ(Action(BuildPut(oath::kInsPut, "imf-8", kSecret, 8, "77AB")).StatusWord(), 0x9000);
  EXPECT_EQ(ListedNames(), (std::vector<std::string>{"1234", "imf-8"}));

  for (std::uint32_t matchCount = 0; matchCount < 3; ++matchCount) {
    SCOPED_TRACE(matchCount);
    EXPECT_EQ(KeyCode("1234"), kRfcCodes6[matchCount]);
    EXPECT_EQ(KeyCode("imf-8"), Oathtool(kRfcSecretHex, 8, 0x37374142u + matchCount));  // IMF "77AB"
  }

  EXPECT_EQ(DefaultName(), "imf-8");
  EXPECT_EQ(Action(BuildSetDefault("1234")).StatusWord(), 0x9000);
  EXPECT_EQ(DefaultName(), "1234");

  EXPECT_EQ(Action(BuildDelete("1234")).StatusWord(), 0x9000);
  EXPECT_EQ(ListedNames(), (std::vector<std::string>{"imf-8"}));
  EXPECT_EQ(DefaultName(), "");

  EXPECT_EQ(Action(BuildReset()).StatusWord(), 0x9000);
  EXPECT_TRUE(ListedNames().empty());
  EXPECT_TRUE(key_->Credentials().empty());
}

INSTANTIATE_TEST_SUITE_P(Protocols, OathOverBothProtocols, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "T0" : "T1"; });

TEST_F(OathVirtualKeyIntegrationTest, AKeyThatWantsATouchAnswers6984WithoutOneAndKeepsItsCredentials) {
  VirtualKeyConfig config;
  config.cosVersion = {0x43, 0x01, 0x01};
  config.touch = TouchMode::Always;
  config.touchWindow = 300ms;
  Serve(config);
  ASSERT_EQ(Action(BuildPut(oath::kInsPut, "kept", kSecret, 6, "")).StatusWord(), 0x9000);

  key_->SetTouchSource(TouchMode::Never);
  const std::pair<const char*, Bytes> guarded[] = {
      {"calculate", BuildCalculate("kept")},
      {"delete", BuildDelete("kept")},
      {"set default", BuildSetDefault("kept")},
      {"put", BuildPut(oath::kInsPut, "other", kSecret, 6, "")},
      {"reset", BuildReset()},
  };
  for (const auto& [what, command] : guarded) {
    EXPECT_EQ(Action(command).StatusWord(), 0x6984) << what;
  }
  EXPECT_EQ(ListedNames(), (std::vector<std::string>{"kept"}));
  EXPECT_EQ(key_->Credentials().at(0).counter, 0u);

  // The mode command needs no applet; it is guarded too.
  CPcscInterface reader(kVpcdReader, SystemPcscApi());
  ASSERT_TRUE(reader.Open()) << reader.GetLastErrorText();
  EXPECT_EQ(Exchange(reader, BuildSetInterfaceMode(0x40)).StatusWord(), 0x6984);
  EXPECT_EQ(key_->StoredInterfaceMode(), 0x70);
  key_->SetTouchSource(TouchMode::Always);
  EXPECT_EQ(Exchange(reader, BuildSetInterfaceMode(0x40)).StatusWord(), 0x9000);
  EXPECT_EQ(key_->StoredInterfaceMode(), 0x40);
  EXPECT_EQ(key_->PresentInterfaces(), 0x70) << "the new set waits for the next plug-in";
  EXPECT_TRUE(reader.Close());
  EXPECT_EQ(KeyCode("kept"), kRfcCodes6[0]);
}

TEST_F(OathVirtualKeyIntegrationTest, TheStateFileSurvivesARestartOfTheKey) {
  VirtualKeyConfig config;
  config.stateFile = StateFile();
  Serve(config);
  ASSERT_EQ(Action(BuildPut(oath::kInsPut, "first", kSecret, 6, "1")).StatusWord(), 0x9000);
  ASSERT_EQ(Action(BuildPut(oath::kInsPut, "second", kSecret, 8, "")).StatusWord(), 0x9000);
  ASSERT_EQ(Action(BuildSetDefault("first")).StatusWord(), 0x9000);
  EXPECT_EQ(KeyCode("first"), Oathtool(kRfcSecretHex, 6, 0x31000000u));  // IMF "1"

  // A new key process on the same file: pulled out, then a fresh key plugged in.
  ASSERT_TRUE(served_->Remove());
  Serve(config);
  EXPECT_EQ(key_->StateFileError(), "");
  EXPECT_EQ(ListedNames(), (std::vector<std::string>{"first", "second"}));
  EXPECT_EQ(DefaultName(), "first");
  EXPECT_EQ(KeyCode("first"), Oathtool(kRfcSecretHex, 6, 0x31000001u));
  EXPECT_EQ(KeyCode("second"), test_keys::kRfcCodes8[0]);
}

}  // namespace
}  // namespace tokvane::integration
