// A damaged installation: a skin folder missing a file, skin files missing the controls the code
// looks for, skin and configuration files that are malformed, empty or 10 MB of junk. Whatever is
// wrong is either reported as a skin failure naming the file, or the program starts and works
// without the missing piece: the demo key connects, the actions run, device changes are handled,
// and the key's credentials stay as they were.
#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "GuiTestSupport.h"
#include "app/DemoMode.h"
#include "app/DeviceChangeMonitor.h"
#include "app/MainWnd.h"
#include "device/PcscInterface.h"
#include "keysim/VirtualKey.h"
#include "ui/SkinFiles.h"

using namespace guitest;

namespace {

constexpr qint64 kTenMegabytes = 10 * 1024 * 1024;

// The controls each skin file must offer, by the names the code looks them up with.
struct SkinFileControls {
  const char* file;
  std::vector<const char*> names;
};

const std::vector<SkinFileControls>& NamedControls() {
  static const std::vector<SkinFileControls> controls = {
      {"main.xml",
       {"closebtn", "maxbtn", "restorebtn", "minbtn", "RichEdit_InitDeomo", "clare_output_in_initUI",
        "hide_reader_ui_btn", "show_reader_ui_btn", "communicate_panel_ui", "communicate_panel_ui_hide",
        "hide_output_in_initUI", "show_output_in_initUI", "show_output_in_initUI_layout",
        "hide_output_in_initUI_layout", "body_main_tablayout", "get_opt_panel_tab", "personalization_tab",
        "personal_setting_tab"}},
      {"InitDemoToCardUI.xml",
       {"Card_Connect", "Card_Disconnect", "Card_Reset", "list_for_reader", "btn_apply", "ccid_select",
        "otp_select", "u2f_select", "otp_u2f_select", "otp_ccid_select", "u2f_ccid_select",
        "u2f_ccid_otp_select", "none_select", "inserted_info", "device_img"}},
      {"GetOtp.xml",
       {"listview", "list_names", "get_applet_version", "reset_names", "caculate_all", "hotp_length",
        "btn_personalization", "btn_random_generate", "imf_edit", "personinalize_edit_password",
        "personinalize_edit_name", "secret_format", "btn_import_qr"}},
      {"msg.xml", {"MessageTitle", "MessageText", "confirm_btn", "cancel_btn", "closebtn"}},
  };
  return controls;
}

// Buttons an operator would press in a session; destructive ones ask first and are declined
// (every box is answered by the system close, which works whatever buttons a box lacks).
const char* const kSessionButtons[] = {
    "Card_Connect", "list_names", "get_applet_version", "btn_random_generate", "reset_names",
    "Card_Reset",   "list_names", "Card_Disconnect",    "Card_Connect",        "clare_output_in_initUI",
    "get_opt_panel_tab", "personalization_tab", "personal_setting_tab", "get_opt_panel_tab",
    "hide_output_in_initUI", "show_output_in_initUI", "show_reader_ui_btn", "hide_reader_ui_btn",
};

class FaultSkin : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(skinDir_.isValid());
    const QDir source(QStringLiteral(TOKVANE_SKIN_SOURCE_DIR));
    for (const QString& name : source.entryList(QDir::Files)) {
      ASSERT_TRUE(QFile::copy(source.filePath(name), Path(name))) << name.toStdString();
    }
    skin::SetSkinDirectoryOverride(skinDir_.path());
    skin::SetSkinFailureHandler([this](const QString& message) { failures_ << message; });
  }

  void TearDown() override {
    window_.reset();
    demo_.reset();
    skin::SetSkinFailureHandler(nullptr);
    skin::SetSkinDirectoryOverride(QStringLiteral(TOKVANE_SKIN_SOURCE_DIR));
  }

  QString Path(const QString& name) const { return QDir(skinDir_.path()).filePath(name); }

  void Write(const QString& name, const QByteArray& content) {
    QFile file(Path(name));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ASSERT_EQ(file.write(content), content.size());
  }

  QByteArray Read(const QString& name) {
    QFile file(QStringLiteral(TOKVANE_SKIN_SOURCE_DIR "/") + name);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly));
    return file.readAll();
  }

  // The skin file with the control of that name renamed, so nothing finds it any more.
  void RemoveControl(const QString& file, const QString& name) {
    QByteArray content = Read(file);
    const QByteArray attribute = "name=\"" + name.toUtf8() + "\"";
    const qsizetype at = content.indexOf(attribute);
    ASSERT_GE(at, 0) << name.toStdString() << " is not in " << file.toStdString();
    content.replace(at, attribute.size(), "name=\"" + name.toUtf8() + "_missing\"");
    Write(file, content);
  }

  void Restore(const QString& file) { Write(file, Read(file)); }

  // Starts the main window on the demo key, as the program does; false when the skin failed.
  bool Start() {
    demo_ = std::make_unique<DemoMode>();
    before_ = demo_->Key().Credentials();
    window_ = std::make_unique<CMainWnd>(demo_->Backends());
    window_->SetVidPidConfigFiles({TOKVANE_SKIN_SOURCE_DIR "/../packaging/Pid_Vid_Config.xml"});
    return ShowMainWindow(*window_, BoxAnswer::SystemClose);
  }

  // Presses what is there, pulls the key out and plugs it in again, then writes to the log.
  void RunSession() {
    BoxAnswerer answerer(BoxAnswer::SystemClose);
    for (const char* name : kSessionButtons) {
      auto* button = window_->FindControlAs<QAbstractButton>(QString::fromLatin1(name));
      if (button != nullptr && button->isVisible() && button->isEnabled()) button->click();
      Settle(*window_);
    }
    DeviceChangeEvent change;
    demo_->Unplug();
    QCoreApplication::sendEvent(window_.get(), &change);
    demo_->PlugIn();
    QCoreApplication::sendEvent(window_.get(), &change);
    Settle(*window_);
  }

  void ExpectCredentialsIntact() {
    const auto after = demo_->Key().Credentials();
    ASSERT_EQ(after.size(), before_.size());
    for (std::size_t i = 0; i < after.size(); ++i) {
      EXPECT_EQ(after[i].name, before_[i].name);
      EXPECT_EQ(after[i].digits, before_[i].digits);
    }
  }

  QTemporaryDir skinDir_;
  QStringList failures_;
  std::unique_ptr<DemoMode> demo_;
  std::unique_ptr<CMainWnd> window_;
  std::vector<VirtualCredentialState> before_;
};

// One damage done to one file of the skin folder.
struct SkinDamage {
  std::string name;
  QString file;
  enum Kind { Removed, Replaced, Edited } kind;
  QByteArray content;  // Replaced: the whole file; Edited: the text put in place of `from`
  QByteArray from;
  const char* named = nullptr;  // Edited: what the report names besides the file
};

std::vector<SkinDamage> Damages() {
  std::vector<SkinDamage> damages;
  const auto stem = [](const char* file) { return std::string(file).substr(0, std::string(file).find('.')); };
  for (const char* file : {"main.xml", "InitDemoToCardUI.xml", "GetOtp.xml", "msg.xml", "R5.png"}) {
    damages.push_back({stem(file) + "_Missing", QString::fromLatin1(file), SkinDamage::Removed, {}, {}});
  }
  const QByteArray junk(kTenMegabytes, 'x');
  const std::pair<const char*, QByteArray> contents[] = {
      {"Malformed", "<ui version=\"4.0\"><widget class=\"QWidget\" name=\"root\">"},
      {"Empty", ""},
      {"TenMegabytesOfJunk", junk},
      {"TenMegabyteCommentInAWidget",
       "<?xml version=\"1.0\"?><ui version=\"4.0\"><widget class=\"QWidget\" name=\"r\"><!--" + junk + "--></widget>"},
  };
  for (const char* file : {"main.xml", "InitDemoToCardUI.xml", "GetOtp.xml"}) {
    for (const auto& [what, content] : contents) {
      damages.push_back({stem(file) + "_" + what, QString::fromLatin1(file), SkinDamage::Replaced, content, {}});
    }
  }
  damages.push_back({"msg_Malformed", "msg.xml", SkinDamage::Replaced, contents[0].second, {}});
  // Qt Designer lets a skin name anything; what the program cannot make or set is reported with
  // the file and the element, never left out or guessed.
  damages.push_back({"main_UnknownClass", "main.xml", SkinDamage::Edited,
                     "<widget class=\"QFancyEdit\" name=\"RichEdit_InitDeomo\">",
                     "<widget class=\"QTextEdit\" name=\"RichEdit_InitDeomo\">", "QFancyEdit"});
  damages.push_back({"GetOtp_UnknownLayout", "GetOtp.xml", SkinDamage::Edited, "class=\"QFlowLayout\"",
                     "class=\"QGridLayout\"", "QFlowLayout"});
  damages.push_back({"InitDemoToCardUI_UnknownProperty", "InitDemoToCardUI.xml", SkinDamage::Edited,
                     "<property name=\"wordWarp\">", "<property name=\"wordWrap\">", "wordWarp"});
  damages.push_back({"msg_UnknownProperty", "msg.xml", SkinDamage::Edited, "<property name=\"accessibleNam\">",
                     "<property name=\"accessibleName\">", "accessibleNam"});
  return damages;
}

class FaultSkinDamage : public FaultSkin, public ::testing::WithParamInterface<SkinDamage> {};

// Whatever is wrong is reported as a skin failure naming the file (the main window cannot be built
// without its own), or the program starts and works without the missing piece.
TEST_P(FaultSkinDamage, IsReportedNamingTheFileOrTheProgramWorksWithoutIt) {
  const SkinDamage& d = GetParam();
  if (d.kind == SkinDamage::Removed) {
    ASSERT_TRUE(QFile::remove(Path(d.file)));
  } else if (d.kind == SkinDamage::Replaced) {
    Write(d.file, d.content);
  } else {
    QByteArray content = Read(d.file);
    const qsizetype at = content.indexOf(d.from);
    ASSERT_GE(at, 0);
    Write(d.file, content.replace(at, d.from.size(), d.content));
  }
  const auto start = std::chrono::steady_clock::now();
  const bool started = Start();
  if (started) {
    RunSession();
    ExpectCredentialsIntact();
  }
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
  if (d.file == QLatin1String("msg.xml")) {
    // The box is built only when one is shown: the first one reports the file.
    ASSERT_TRUE(started);
    EXPECT_EQ(ShowMessageBox(nullptr, L"Tip", L"text"), 0u);
  }
  if (d.file == QLatin1String("R5.png")) {
    EXPECT_TRUE(failures_.isEmpty()) << "a missing picture is no skin failure";
    return;
  }
  if (d.kind == SkinDamage::Replaced && failures_.isEmpty()) {
    EXPECT_TRUE(started) << "no failure reported, so the window must be there";
    return;
  }
  ASSERT_FALSE(failures_.isEmpty());
  EXPECT_TRUE(failures_.front().contains(d.file)) << failures_.front().toStdString();
  if (d.named != nullptr) {
    EXPECT_TRUE(failures_.front().contains(QString::fromLatin1(d.named))) << failures_.front().toStdString();
  }
  EXPECT_EQ(started, d.file != QLatin1String("main.xml"));
}

INSTANTIATE_TEST_SUITE_P(SkinFiles, FaultSkinDamage, ::testing::ValuesIn(Damages()),
                         [](const auto& info) { return info.param.name; });

class FaultSkinControl : public FaultSkin, public ::testing::WithParamInterface<const char*> {};

TEST_P(FaultSkinControl, EachNamedControlMayBeMissingWithoutHarm) {
  const QString file = QString::fromLatin1(GetParam());
  for (const auto& entry : NamedControls()) {
    if (file != QLatin1String(entry.file)) continue;
    for (const char* name : entry.names) {
      SCOPED_TRACE(std::string(entry.file) + " without " + name);
      failures_.clear();
      RemoveControl(file, QString::fromLatin1(name));
      ASSERT_TRUE(Start());
      RunSession();
      if (file == QLatin1String("msg.xml")) {
        // Whatever buttons the box lacks, the system close still answers it.
        BoxAnswerer answerer(BoxAnswer::SystemClose);
        EXPECT_EQ(ShowMessageBox(nullptr, L"Tip", L"text"), 0u);
        EXPECT_EQ(answerer.Shown().size(), 1u);
      }
      EXPECT_TRUE(failures_.isEmpty()) << failures_.join(QLatin1Char('\n')).toStdString();
      EXPECT_EQ(window_->AppendLog(L"still here\n", log_color::kBlue), LogControl(*window_) != nullptr);
      ExpectCredentialsIntact();
      window_.reset();
      demo_.reset();
      Restore(file);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(SkinFiles, FaultSkinControl,
                         ::testing::Values("main.xml", "InitDemoToCardUI.xml", "GetOtp.xml", "msg.xml"),
                         [](const auto& info) {
                           std::string name = info.param;
                           return name.substr(0, name.find('.'));
                         });

}  // namespace
