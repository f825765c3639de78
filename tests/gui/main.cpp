// The GUI tests run the real windows, on Qt's offscreen platform unless a display is chosen.
#include <QApplication>
#include <gtest/gtest.h>

#include "ui/SkinFiles.h"

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  // The tests open and close windows at will; only an explicit quit ends a loop.
  QApplication::setQuitOnLastWindowClosed(false);
  skin::SetSkinDirectoryOverride(QStringLiteral(TOKVANE_SKIN_SOURCE_DIR));
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
