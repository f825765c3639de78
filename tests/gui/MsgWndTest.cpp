// The message box: its answers, its texts, and how it treats its owner.
#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include "GuiTestSupport.h"
#include "app/MsgWnd.h"
#include "ui/SkinFiles.h"

using namespace guitest;

namespace {

TEST(MessageBox, OnlyConfirmAnswersOne) {
  struct Case {
    BoxAnswer answer;
    unsigned expected;
    const char* what;
  } cases[] = {
      {BoxAnswer::Confirm, 1, "confirm"},
      {BoxAnswer::Cancel, 0, "cancel"},
      {BoxAnswer::CloseButton, 0, "close button"},
      {BoxAnswer::SystemClose, 0, "system close (Alt+F4)"},
  };
  for (const Case& c : cases) {
    BoxAnswerer answerer(c.answer);
    EXPECT_EQ(ShowMessageBox(nullptr, L"Tip", L"Touch the key"), c.expected) << c.what;
    EXPECT_EQ(answerer.Shown().size(), 1u) << c.what;
  }
}

TEST(MessageBox, EmptyTitleKeepsTheSkinsTitle) {
  QString error;
  QWidget holder;
  QWidget* skinRoot = skin::BuildSkinFile(skin::ResolveSkinDirectory("skin") + "msg.xml", nullptr, &holder, error);
  ASSERT_NE(skinRoot, nullptr) << error.toStdString();
  const QString skinTitle = skinRoot->findChild<QLabel*>(QStringLiteral("MessageTitle"))->text();
  ASSERT_FALSE(skinTitle.isEmpty());

  BoxAnswerer answerer;
  ShowMessageBox(nullptr, L"", L"Some text");
  EXPECT_EQ(answerer.Shown(), (std::vector<ShownBox>{{skinTitle, "Some text"}}));
}

TEST(MessageBox, EscapeDoesNotCloseIt) {
  BoxAnswerer answerer(BoxAnswer::Confirm);
  bool stillOpen = false;
  answerer.SetWhileOpen([&stillOpen](CMsgWnd& box) {
    QTest::keyClick(&box, Qt::Key_Escape);
    if (QWidget* focused = box.focusWidget()) QTest::keyClick(focused, Qt::Key_Escape);
    stillOpen = box.isVisible() && box.IsInModalLoop();
  });
  EXPECT_EQ(ShowMessageBox(nullptr, L"Tip", L"Touch the key"), 1u);
  EXPECT_TRUE(stillOpen);
}

TEST(MessageBox, WithoutAnOwnerOtherWindowsStayUsable) {
  QWidget mainWindow;
  mainWindow.show();
  BoxAnswerer answerer(BoxAnswer::Cancel, &mainWindow);
  ShowMessageBox(nullptr, L"Warning", L"Can find the vid and pid config file");
  EXPECT_EQ(answerer.Shown(), (std::vector<ShownBox>{{"Warning", "Can find the vid and pid config file", true}}));
}

// With an owner, the owner is disabled while a box is open, until the outermost one closes.
TEST(MessageBox, ABoxInsideABoxLeavesTheOwnerDisabledUntilTheOuterOneCloses) {
  QWidget owner;
  owner.show();
  BoxAnswerer answerer(BoxAnswer::Confirm, &owner);
  bool ownerEnabledAfterInner = true;
  int depth = 0;
  answerer.SetWhileOpen([&](CMsgWnd&) {
    if (depth++ > 0) return;
    ShowMessageBox(&owner, L"Inner", L"inner");
    ownerEnabledAfterInner = owner.isEnabled();
  });
  ShowMessageBox(&owner, L"Outer", L"outer");
  ASSERT_EQ(answerer.Shown().size(), 2u);
  EXPECT_FALSE(answerer.Shown()[0].ownerEnabled);
  EXPECT_FALSE(ownerEnabledAfterInner);
  EXPECT_TRUE(owner.isEnabled());
}

TEST(MessageBox, QuittingWhileABoxIsOpenEndsTheBoxAndTheApplicationLoop) {
  BoxAnswerer answerer(BoxAnswer::Leave);
  answerer.SetWhileOpen([](CMsgWnd&) { QCoreApplication::exit(0); });
  unsigned result = 99;
  QTimer::singleShot(0, [&result] { result = ShowMessageBox(nullptr, L"Tip", L"Touch the key"); });
  // A box that ignored the quit would keep the loop running until the limit (code 7).
  EXPECT_EQ(RunApplicationLoop(5000), 0);
  EXPECT_EQ(result, 0u);
}

TEST(SkinFailureDeathTest, WithoutAHandlerTheProcessEndsWithExitCodeOne) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        QTemporaryDir empty;
        skin::SetSkinDirectoryOverride(empty.path());
        // The error box is shown for real; close it as an operator would.
        QTimer::singleShot(0, [] {
          if (QWidget* box = QApplication::activeModalWidget()) box->close();
        });
        ShowMessageBox(nullptr, L"Tip", L"text");
        std::exit(0);
      },
      ::testing::ExitedWithCode(1), "");
}

}  // namespace
