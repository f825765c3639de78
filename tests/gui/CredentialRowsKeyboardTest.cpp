// The credential rows driven by keyboard alone, in a window that holds a control before and after
// the list: the focus chain follows the rows' reading order whatever happened to the rows, arrows
// and Enter work on a row's buttons, and a new code is announced to assistive technology.
#include <QAccessible>
#include <QApplication>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QVBoxLayout>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "GuiTestSupport.h"
#include "app/oath/CredentialRows.h"
#include "oath/OtpCredentialList.h"

namespace {

using namespace credential_rows;
using guitest::AccessibleEventRecorder;
using guitest::AccessibleEvents;

class CredentialRowsKeyboard : public ::testing::Test {
 protected:
  void SetUp() override {
    window_ = std::make_unique<QWidget>();
    auto* layout = new QVBoxLayout(window_.get());
    before_ = new QPushButton(QStringLiteral("before"));
    before_->setObjectName(QStringLiteral("before"));
    list_ = new QListWidget;
    list_->setObjectName(QStringLiteral("listview"));
    after_ = new QLineEdit;
    after_->setObjectName(QStringLiteral("after"));
    layout->addWidget(before_);
    layout->addWidget(list_);
    layout->addWidget(after_);
    ShowRowsToAssistiveTechnology(list_);
    window_->resize(640, 480);
    window_->show();
    window_->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window_.get()));
  }
  void TearDown() override {
    ClearCredentials(list_, records_);
    window_.reset();
  }

  OtpCredential* Add(const std::string& name) {
    OtpCredential* record = records_.AddListed(name);
    AddCredentialRow(list_, nullptr, record);
    return record;
  }

  // What has the focus: "mail/copy_otp_code" for a row button, else the control's name.
  static std::string Focused() {
    QWidget* focus = QApplication::focusWidget();
    if (focus == nullptr) return "(none)";
    if (auto* button = qobject_cast<OtpFreshCButtonUI*>(focus)) {
      return button->m_pCredential->Name + "/" + button->objectName().toStdString();
    }
    return focus->objectName().toStdString();
  }

  static std::string Press(int key) {
    QTest::keyClick(QApplication::focusWidget(), static_cast<Qt::Key>(key));
    return Focused();
  }

  QWidget* Button(const std::string& row, const char* which) const {
    for (QPushButton* button : list_->findChildren<QPushButton*>(QString::fromLatin1(which))) {
      if (static_cast<OtpFreshCButtonUI*>(button)->m_pCredential->Name == row) return button;
    }
    return nullptr;
  }

  OtpCredentialList records_;  // outlives the rows, which point into it
  std::unique_ptr<QWidget> window_;
  QPushButton* before_ = nullptr;
  QListWidget* list_ = nullptr;
  QLineEdit* after_ = nullptr;
};

TEST_F(CredentialRowsKeyboard, TabAndShiftTabReadTheRowButtonsInTheirShownOrderAfterRowsCameWentAndMoved) {
  Add("bank");
  OtpCredential* mail = Add("mail");
  Add("work");
  RemoveCredential(list_, records_, mail);
  Add("shop");
  // The last row moves to the top, as a sort or drag would move it.
  ASSERT_TRUE(list_->model()->moveRow(QModelIndex(), 2, QModelIndex(), 0));

  std::vector<std::string> expected = {"listview"};
  for (const char* row : {"shop", "bank", "work"}) {
    for (const char* button : {kCalculate, kCopy, kDelete, kSetDefault}) expected.push_back(std::string(row) + "/" + button);
  }
  expected.push_back("after");

  before_->setFocus(Qt::OtherFocusReason);
  ASSERT_EQ(Focused(), "before");
  std::vector<std::string> forward;
  for (std::size_t i = 0; i < expected.size(); ++i) forward.push_back(Press(Qt::Key_Tab));
  EXPECT_EQ(forward, expected);

  std::vector<std::string> backward;
  for (std::size_t i = 0; i < expected.size(); ++i) backward.push_back(Press(Qt::Key_Backtab));
  std::vector<std::string> reversed(expected.rbegin() + 1, expected.rend());
  reversed.push_back("before");
  EXPECT_EQ(backward, reversed);
}

TEST_F(CredentialRowsKeyboard, UpAndDownKeepTheButtonAcrossRowsAndEnterPressesIt) {
  for (const char* name : {"bank", "mail", "work"}) Add(name);
  Button("bank", kCopy)->setFocus(Qt::TabFocusReason);
  ASSERT_EQ(Focused(), "bank/" + std::string(kCopy));
  EXPECT_EQ(list_->currentRow(), 0) << "the focused button's row is the current one";

  const struct {
    int key;
    std::string focus;
    int currentRow;
  } steps[] = {
      {Qt::Key_Down, "mail/" + std::string(kCopy), 1},
      {Qt::Key_Down, "work/" + std::string(kCopy), 2},
      {Qt::Key_Down, "work/" + std::string(kCopy), 2},  // the last row: stays
      {Qt::Key_Up, "mail/" + std::string(kCopy), 1},
      {Qt::Key_Right, "mail/" + std::string(kDelete), 1},
  };
  for (const auto& step : steps) {
    EXPECT_EQ(Press(step.key), step.focus);
    EXPECT_EQ(list_->currentRow(), step.currentRow) << step.focus;
  }

  QSignalSpy clicked(static_cast<QPushButton*>(Button("mail", kDelete)), &QPushButton::clicked);
  Press(Qt::Key_Return);
  Press(Qt::Key_Enter);
  EXPECT_EQ(clicked.count(), 2);
}

TEST_F(CredentialRowsKeyboard, ANewCodeIsAnnouncedOnItsRowWithTheCredentialAndTheCode) {
  Add("bank");
  OtpCredential* mail = Add("mail");
  QAccessibleInterface* rows = QAccessible::queryAccessibleInterface(list_);
  ASSERT_NE(rows, nullptr);
  QAccessibleInterface* row = rows->child(1);
  ASSERT_NE(row, nullptr);

  AccessibleEvents announced, repeated;
  {
    AccessibleEventRecorder recorder(row->object());
    ASSERT_TRUE(QAccessible::isActive());
    mail->CardCode = "755224";
    UpdateCredentialRow(list_, *mail);
    announced = recorder.events;
    recorder.events.clear();
    UpdateCredentialRow(list_, *mail);  // the same code once more: nothing new to hear
    repeated = recorder.events;
  }
  EXPECT_FALSE(QAccessible::isActive());

  const QString said = QStringLiteral("mail, code 755224");
  const AccessibleEvents expected = {{QAccessible::NameChanged, said}, {QAccessible::Alert, said}};
  EXPECT_EQ(announced, expected);
  EXPECT_TRUE(repeated.empty());
}

}  // namespace
