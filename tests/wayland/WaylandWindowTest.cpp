// The demo window natively on Wayland, under a headless weston (run-under-weston.sh): it shows,
// its controls are found and work through the key worker, the caption buttons reach the
// compositor, and the title bar leaves moving the window to the compositor.
#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QListWidget>
#include <QTest>
#include <gtest/gtest.h>

#include "tools/DemoWindowPicture.h"
#include "ui/SkinFiles.h"

namespace {

constexpr int kCompositorLimitMs = 10000;

class WaylandWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(QGuiApplication::platformName(), QStringLiteral("wayland"));
    QString failure;
    ASSERT_TRUE(demo.Open(DemoPicture::Codes, &failure)) << failure.toStdString();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&Window(), kCompositorLimitMs));
  }
  CMainWnd& Window() { return demo.Window(); }
  void Click(const char* name) {
    auto* button = Window().FindControlAs<QAbstractButton>(QString::fromLatin1(name));
    ASSERT_NE(button, nullptr) << name;
    ASSERT_TRUE(button->isVisible()) << name;
    button->click();
  }

  DemoWindow demo;
};

TEST_F(WaylandWindow, ShowsTheKeyAndItsCredentials) {
  auto* rows = Window().FindControlAs<QListWidget>(QStringLiteral("listview"));
  ASSERT_NE(rows, nullptr);
  ASSERT_EQ(rows->count(), 2);
  for (int i = 0; i < rows->count(); ++i) {
    QWidget* row = rows->itemWidget(rows->item(i));
    ASSERT_NE(row, nullptr);
    auto* code = row->findChild<QLabel*>(QStringLiteral("otp_data_from_card"));
    ASSERT_NE(code, nullptr);
    EXPECT_TRUE(code->text().contains(QRegularExpression(QStringLiteral("^\\d{6,8}$")))) << code->text().toStdString();
  }
  EXPECT_TRUE(Window().HasDevice());
}

TEST_F(WaylandWindow, CaptionButtonsAreCarriedOutByTheCompositor) {
  Click("maxbtn");
  EXPECT_TRUE(QTest::qWaitFor([this] { return Window().isMaximized(); }, kCompositorLimitMs));
  Click("restorebtn");
  EXPECT_TRUE(QTest::qWaitFor([this] { return !Window().isMaximized(); }, kCompositorLimitMs));
  Click("minbtn");
  EXPECT_TRUE(QTest::qWaitFor([this] { return Window().isMinimized(); }, kCompositorLimitMs));
  Window().showNormal();
  // Closing ends the program: the window stops taking work and the application loop is told to end.
  Click("closebtn");
  EXPECT_TRUE(Window().IsClosing());
}

TEST_F(WaylandWindow, TheTitleBarLeavesMovingToTheCompositor) {
  QWidget* title = Window().FindControl(QStringLiteral("title_bar"));
  ASSERT_NE(title, nullptr);
  const QPoint placed = Window().pos();
  QTest::mousePress(title, Qt::LeftButton, {}, QPoint(200, 10));
  QTest::mouseMove(title, QPoint(260, 60));
  QTest::mouseRelease(title, Qt::LeftButton, {}, QPoint(260, 60));
  EXPECT_EQ(Window().pos(), placed) << "a Wayland client cannot place itself";
  // A double click on the title asks the compositor to maximize, and again to restore.
  QTest::mouseDClick(title, Qt::LeftButton, {}, QPoint(200, 10));
  EXPECT_TRUE(QTest::qWaitFor([this] { return Window().isMaximized(); }, kCompositorLimitMs));
  QTest::mouseDClick(title, Qt::LeftButton, {}, QPoint(200, 10));
  EXPECT_TRUE(QTest::qWaitFor([this] { return !Window().isMaximized(); }, kCompositorLimitMs));
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setQuitOnLastWindowClosed(false);
  skin::SetSkinDirectoryOverride(QStringLiteral(TOKVANE_SKIN_SOURCE_DIR));
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
