// The touch prompt before the interface-mode command: shown exactly for the keys whose card-OS
// version asks for a touch, modal to the main window, and a declined prompt sends and logs nothing.
#include <gtest/gtest.h>

#include "GuiTestSupport.h"
#include "oath/OathCommands.h"

using namespace guitest;
using namespace readertest;

namespace {

using Bytes = std::vector<std::uint8_t>;

const QString kTipText =
    QStringLiteral("Please touch the blinking space on FIDO device within 3 seconds after clicking continue.");
const Bytes kModeCcid{0x80, 0xE1, 0xFF, 0x00, 0x01, 0x40};

struct VersionCase {
  const char* what;
  std::array<std::uint8_t, 3> cosVersion;
  bool prompt;
};

class TouchPrompt : public ReaderPanelWindow, public ::testing::WithParamInterface<VersionCase> {};

TEST_P(TouchPrompt, ShownExactlyForKeysThatWantATouch) {
  const VersionCase& c = GetParam();
  key->SetCosVersion(c.cosVersion);
  PlugKey(kVirtualCcidInterface);
  Start();
  key->ClearReceivedApdus();

  BoxAnswerer answerer(BoxAnswer::Confirm, window.get());
  Click("btn_apply");

  const std::vector<ShownBox> modalTip{{QStringLiteral("Tip"), kTipText, false}};  // modal to the main window
  EXPECT_EQ(answerer.Shown(), c.prompt ? modalTip : std::vector<ShownBox>{});
  // Either way the command follows the version query directly.
  EXPECT_EQ(key->ReceivedApdus(), (std::vector<Bytes>{BuildGetCosVersion(), kModeCcid}));
}

INSTANTIATE_TEST_SUITE_P(
    CosVersions, TouchPrompt,
    // The table's edges; every boundary of it is checked without windows in the unit tests.
    ::testing::Values(VersionCase{"v4300", {0x43, 0x00, 0x01}, false}, VersionCase{"v4301", {0x43, 0x01, 0x00}, true},
                      VersionCase{"v30", {0x30, 0xFF, 0x00}, false}, VersionCase{"v31", {0x31, 0x00, 0x00}, true},
                      VersionCase{"v6F", {0x6F, 0x00, 0x00}, true}, VersionCase{"v70", {0x70, 0x00, 0x00}, false}),
    [](const ::testing::TestParamInfo<VersionCase>& info) { return std::string(info.param.what); });

TEST_F(ReaderPanelWindow, ARefusedVersionQueryGivesNoPrompt) {
  key->SetCosVersion({0x43, 0x01, 0x00});  // would want a touch, but never gets to say so
  auto scripted = std::make_shared<ScriptedAnswers>(key, [](const Bytes& command) -> std::optional<Bytes> {
    if (command.size() >= 2 && command[1] == 0xE3) return Bytes{0x6D, 0x00};
    return std::nullopt;
  });
  card = scripted;
  PlugKey(kVirtualCcidInterface);
  Start();

  BoxAnswerer answerer(BoxAnswer::Cancel);
  Click("btn_apply");
  EXPECT_TRUE(answerer.Shown().empty());
  const auto received = scripted->Received();
  ASSERT_FALSE(received.empty());
  EXPECT_EQ(received.back(), kModeCcid);
}

}  // namespace
