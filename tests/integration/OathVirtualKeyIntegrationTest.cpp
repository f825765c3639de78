// The OATH command set against the virtual key in the vpcd reader of a real pcscd, through the
// PC/SC transport: what the credentials panel writes, lists and calculates, over T=0 and T=1.
// The key's own rules (touch, its state file) are tested once, in the unit tests of the key.
#include <gtest/gtest.h>

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

using test_keys::kRfcCodes6;
using test_keys::kRfcSecretHex;
using test_keys::Oathtool;
const Bytes& kSecret = test_keys::kRfcSecret;

class OathVirtualKeyIntegrationTest : public PcscdTest {
 protected:
  void TearDown() override { served_.reset(); }

  void Serve(VirtualKeyConfig config) {
    served_.reset();  // a key already in the reader is pulled out first
    key_ = std::make_shared<VirtualKey>(std::move(config));
    served_ = std::make_unique<ServedCard>(key_);
    ASSERT_TRUE(served_->Insert()) << "pcscd did not show the virtual key";
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

}  // namespace
}  // namespace tokvane::integration
