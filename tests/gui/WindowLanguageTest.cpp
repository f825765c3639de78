// The window speaks the language it is built in: a main window built after the process switched
// language shows the catalogue's texts on its skin's controls (text, accessible name and the
// panels loaded into it), and the English source in the C locale.
#include <QAbstractButton>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "GuiTestSupport.h"
#include "app/MainWnd.h"
#include "core/Translate.h"
#include "device/DeviceBackends.h"
#include "keysim/VirtualHidApi.h"
#include "keysim/VirtualPcscApi.h"

namespace {

class WindowLanguage : public ::testing::Test {
 protected:
  void SetUp() override { tokvane::SetCatalogueDirectoryOverride(TOKVANE_LOCALE_DIR); }
  void TearDown() override {
    tokvane::SwitchLanguage("C", "");
    tokvane::SetCatalogueDirectoryOverride("");
  }

  // A main window over empty virtual readers, built and shown in the current language.
  std::unique_ptr<CMainWnd> BuildWindow() {
    auto window = std::make_unique<CMainWnd>(
        MakeDeviceBackends(std::make_shared<VirtualPcscApi>(), std::make_shared<VirtualHidApi>()));
    window->SetVidPidConfigFiles({tempDir.filePath("absent/Pid_Vid_Config.xml").toStdString()});
    guitest::BoxAnswerer answerer(guitest::BoxAnswer::Confirm);
    EXPECT_TRUE(window->Create(nullptr, QStringLiteral("Quillon Tokvane"), 990, 690));
    window->show();
    return window;
  }

  QTemporaryDir tempDir;
};

TEST_F(WindowLanguage, AWindowBuiltAfterASwitchShowsTheCataloguesTexts) {
  struct Row {
    const char* locale;
    const char* language;
    bool translated;
  };
  // A control of the main skin, one of the reader panel and one of the credentials panel.
  struct Shown {
    const char* control;
    const char* text;
    const char* accessibleName;
  };
  const Shown shown[] = {{"Card_Connect", "Connect", "Connect to the selected reader"},
                         {"list_names", "&List credentials", "List the credentials on the key"}};
  for (const Row& row : {Row{"de_DE.UTF-8", "de", true}, Row{"zh_CN.UTF-8", "", true}, Row{"C", "de", false}}) {
    SCOPED_TRACE(row.locale);
    ASSERT_TRUE(tokvane::SwitchLanguage(row.locale, row.language))
        << row.locale << " is missing: scripts/make-test-locales.sh generates it";
    const auto window = BuildWindow();
    for (const Shown& control : shown) {
      auto* button = window->FindControlAs<QAbstractButton>(QString::fromLatin1(control.control));
      ASSERT_NE(button, nullptr) << control.control;
      EXPECT_EQ(button->text(), QString::fromUtf8(tokvane::Tr(control.text))) << control.control;
      EXPECT_EQ(button->accessibleName(), QString::fromUtf8(tokvane::Tr(control.accessibleName)));
      EXPECT_EQ(button->text() != QString::fromUtf8(control.text), row.translated) << control.control;
      EXPECT_EQ(button->property("role").toString(), QStringLiteral("primary")) << "the skin's markers stay";
    }
  }
}

}  // namespace
