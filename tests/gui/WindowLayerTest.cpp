// The window layer itself: notifications of every kind reach every receiver, controls added
// later notify too, and a control removed by a notification outlives that notification.
#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTextEdit>
#include <gtest/gtest.h>

#include "GuiTestSupport.h"
#include "app/MainWnd.h"
#include "device/HidApi.h"
#include "device/PcscApi.h"
#include "keysim/VirtualHidApi.h"
#include "keysim/VirtualPcscApi.h"

using namespace guitest;

namespace {

struct Recorder : INotifyUI {
  void Notify(TNotifyUI& msg) override {
    seen.push_back({msg.sType, msg.pSender != nullptr ? msg.pSender->objectName() : QString()});
    if (onNotify) onNotify(msg);
  }
  std::vector<std::pair<QString, QString>> seen;
  std::function<void(TNotifyUI&)> onNotify;

  bool Saw(const QString& type, const QString& sender) const {
    return std::find(seen.begin(), seen.end(), std::make_pair(type, sender)) != seen.end();
  }
};

class WindowLayer : public ::testing::Test {
 protected:
  void SetUp() override {
    // The host's readers and keys play no part.
    window = std::make_unique<CMainWnd>(
        MakeDeviceBackends(std::make_shared<VirtualPcscApi>(), std::make_shared<VirtualHidApi>()), nullptr);
    window->SetVidPidConfigFiles({});
    ASSERT_TRUE(ShowMainWindow(*window));
    window->AddNotifier(&first);
    window->AddNotifier(&second);
  }
  void TearDown() override { window.reset(); }

  std::unique_ptr<CMainWnd> window;
  Recorder first;
  Recorder second;
};

TEST_F(WindowLayer, SignalsOfEachKindBecomeNotificationsForEveryReceiver) {
  auto* name = window->FindControlAs<QLineEdit>("personinalize_edit_name");
  auto* digits = window->FindControlAs<QComboBox>("hotp_length");
  auto* option = window->FindControlAs<QRadioButton>("otp_select");
  auto* readers = window->FindControlAs<QListWidget>("list_for_reader");
  // A button whose action touches no device, so the host's readers play no part.
  auto* connect = window->FindControlAs<QAbstractButton>("clare_output_in_initUI");
  ASSERT_TRUE(name && digits && option && readers && connect);

  name->setText(QStringLiteral("12345"));
  digits->setCurrentIndex(1);
  option->click();
  connect->click();
  readers->addItem(QStringLiteral("Virtual PCD 00 00"));
  readers->addItem(QStringLiteral("VORTAN HID DEVICE KB 0"));
  QCoreApplication::processEvents();
  const QRect row = readers->visualItemRect(readers->item(1));
  QTest::mouseClick(readers->viewport(), Qt::LeftButton, {}, row.center());
  readers->setFocus();
  QTest::keyClick(readers, Qt::Key_Return);

  for (const Recorder* receiver : {&first, &second}) {
    EXPECT_TRUE(receiver->Saw("textchanged", "personinalize_edit_name"));
    EXPECT_TRUE(receiver->Saw("selectchanged", "hotp_length"));
    EXPECT_TRUE(receiver->Saw("click", "otp_select"));
    EXPECT_TRUE(receiver->Saw("selectchanged", "otp_select"));
    EXPECT_TRUE(receiver->Saw("click", "clare_output_in_initUI"));
    EXPECT_TRUE(receiver->Saw("itemclick", "list_for_reader"));
    EXPECT_TRUE(receiver->Saw("selectchanged", "list_for_reader"));
    EXPECT_TRUE(receiver->Saw("itemactivate", "list_for_reader"));
  }
  EXPECT_EQ(first.seen, second.seen);
}

TEST_F(WindowLayer, TheReadOnlyLogDoesNotNotify) {
  window->AppendLog(L"text\n", 0xFF0000);
  EXPECT_TRUE(first.seen.empty());
}

TEST_F(WindowLayer, ControlsAddedLaterNotifyOnceAttached) {
  auto* list = window->FindControlAs<QListWidget>("listview");
  ASSERT_NE(list, nullptr);
  auto* row = new QWidget;
  auto* button = new QPushButton(QStringLiteral("get otp"), row);
  button->setObjectName(QStringLiteral("refresh_otp_data"));
  auto* item = new QListWidgetItem(list);
  list->setItemWidget(item, row);
  window->AttachControls(row);
  window->AttachControls(row);  // attaching again must not double the notifications
  button->click();
  EXPECT_EQ(std::count(first.seen.begin(), first.seen.end(), std::make_pair(QString("click"), QString("refresh_otp_data"))),
            1);
  EXPECT_EQ(window->FindControl(QStringLiteral("refresh_otp_data")), button);
}

TEST_F(WindowLayer, AControlRemovedDuringItsNotificationLivesUntilItReturns) {
  auto* row = new QWidget(window->FindControl(QStringLiteral("oath_root")));
  auto* button = new QPushButton(QStringLiteral("delete user"), row);
  button->setObjectName(QStringLiteral("delete_otp_user"));
  window->AttachControls(row);
  QPointer<QWidget> watchRow(row);
  QString nameSeenAfterRemoval;
  first.onNotify = [&](TNotifyUI& msg) {
    if (msg.sType == "click") WindowImplBase::RemoveControl(row);
  };
  second.onNotify = [&](TNotifyUI& msg) {
    if (msg.sType == "click") nameSeenAfterRemoval = msg.pSender->objectName();  // still a live control
  };
  button->click();
  EXPECT_EQ(nameSeenAfterRemoval, QStringLiteral("delete_otp_user"));
  EXPECT_FALSE(watchRow.isNull());
  EXPECT_EQ(window->FindControl(QStringLiteral("delete_otp_user")), nullptr);  // gone from the window at once
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_TRUE(watchRow.isNull());
}

TEST_F(WindowLayer, AReceiverRemovedDuringANotificationGetsNoMore) {
  first.onNotify = [this](TNotifyUI&) { window->RemoveNotifier(&second); };
  window->FindControlAs<QAbstractButton>("clare_output_in_initUI")->click();
  EXPECT_FALSE(first.seen.empty());
  EXPECT_TRUE(second.seen.empty());
}

TEST_F(WindowLayer, FindSubControlLooksOnlyBelowItsParent) {
  QWidget* readerRoot = window->FindControl(QStringLiteral("reader_root"));
  QWidget* oathRoot = window->FindControl(QStringLiteral("oath_root"));
  ASSERT_TRUE(readerRoot && oathRoot);
  EXPECT_NE(WindowImplBase::FindSubControlByName(readerRoot, "btn_apply"), nullptr);
  EXPECT_EQ(WindowImplBase::FindSubControlByName(oathRoot, "btn_apply"), nullptr);
  EXPECT_EQ(WindowImplBase::FindSubControlByName(nullptr, "btn_apply"), nullptr);
  EXPECT_EQ(window->FindControl(QString()), nullptr);
}

}  // namespace
