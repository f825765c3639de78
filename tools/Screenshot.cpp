// Saves the README's pictures (DemoWindowPicture.h) into a folder, normally docs/. Built by
// tools/CMakeLists.txt (target tokvane_screenshot), run by scripts/screenshot.sh.
#include <QApplication>
#include <QDir>
#include <cstdio>

#include "core/Translate.h"
#include "tools/DemoWindowPicture.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s OUTPUT_FOLDER\n", argv[0]);
    return 2;
  }
  tokvane::InitTranslations();
  QApplication app(argc, argv);
  QApplication::setQuitOnLastWindowClosed(false);
  const QDir folder(QString::fromLocal8Bit(argv[1]));
  for (const DemoPictureFile& file : kDemoPictureFiles) {
    QString failure;
    const QImage image = DrawDemoPicture(file.picture, &failure);
    const QString path = folder.filePath(QString::fromLatin1(file.fileName));
    if (image.isNull() || !image.save(path)) {
      std::fprintf(stderr, "%s: %s not drawn: %s\n", argv[0], qPrintable(path),
                   image.isNull() ? qPrintable(failure) : "it could not be saved");
      return 1;
    }
    std::printf("wrote %s\n", qPrintable(path));
  }
  return 0;
}
