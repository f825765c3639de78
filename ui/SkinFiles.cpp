#include "ui/SkinFiles.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QImageReader>
#include <QPixmapCache>
#include <QMessageBox>
#include <QWidget>
#include <cstdlib>

#include "BuildConfig.h"
#include "ui/Notify.h"
#include "ui/SkinBuilder.h"
#include "ui/SkinStyle.h"
#include "ui/SkinTexts.h"

namespace skin {
namespace {

QString& DirectoryOverride() {
  static QString directory;
  return directory;
}

SkinFailureHandler& FailureHandler() {
  static SkinFailureHandler handler;
  return handler;
}

QString WithTrailingSlash(QString path) {
  if (!path.endsWith(QLatin1Char('/'))) path += QLatin1Char('/');
  return path;
}

}  // namespace

QString ResolveSkinDirectory(const QString& folderName) {
  if (!DirectoryOverride().isEmpty()) return WithTrailingSlash(DirectoryOverride());
  const QString besideExecutable = QDir(QCoreApplication::applicationDirPath()).filePath(folderName);
  if (QFileInfo(besideExecutable).isDir()) return WithTrailingSlash(besideExecutable);
  const QString installed = QDir(QString::fromUtf8(tokvane::build::kDataDir)).filePath(folderName);
  if (QFileInfo(installed).isDir()) return WithTrailingSlash(installed);
  return WithTrailingSlash(besideExecutable);
}

void SetSkinDirectoryOverride(const QString& directory) { DirectoryOverride() = directory; }

QPixmap LoadSkinPicture(const QString& path) {
  // The key's picture is the title bar's icon, the window's icon and the connected key's picture:
  // it is read once.
  const QString cacheKey = QStringLiteral("tokvane-skin:") + path;
  QPixmap picture;
  if (QPixmapCache::find(cacheKey, &picture)) return picture;
  const QByteArray format = QFileInfo(path).suffix().toLower().toLatin1();
  if (!format.isEmpty()) {
    QImageReader named(path, format);
    named.setAutoDetectImageFormat(false);
    if (const QImage image = named.read(); !image.isNull()) picture = QPixmap::fromImage(image);
  }
  if (picture.isNull()) picture.load(path);
  if (!picture.isNull()) QPixmapCache::insert(cacheKey, picture);
  return picture;
}

QWidget* BuildSkinFile(const QString& filePath, IDialogBuilderCallback* callback, QWidget* parent,
                       QString& error) {
  QFile file(filePath);
  if (!file.open(QIODevice::ReadOnly)) {
    error = TrQ("Cannot open the skin file %1: %2").arg(filePath, file.errorString());
    return nullptr;
  }
  // The skin's look is drawn in code; made the application's style before the first control, so
  // no control is polished twice.
  SkinStyle::Install();
  // The classes the file declares as its own are the application's controls. Pictures named in
  // the skin are found beside it.
  const CustomControlFactory createCustom = [callback](const QString& className, QWidget* controlParent) {
    return callback != nullptr ? callback->CreateControl(className, controlParent) : nullptr;
  };
  QString reason;
  QWidget* root = BuildSkinTree(file, QFileInfo(filePath).absoluteDir(), createCustom, parent, reason,
                                &SkinStyle::PrepareSkinRoot);
  if (root != nullptr) {
    SkinStyle::AdoptSkinRoot(root);
  } else {
    error = TrQ("The skin file %1 is not valid: %2").arg(filePath, reason);
  }
  return root;
}

void SetSkinFailureHandler(SkinFailureHandler handler) { FailureHandler() = std::move(handler); }

void ReportSkinFailure(const QString& message) {
  if (FailureHandler()) {
    FailureHandler()(message);
    return;
  }
  QMessageBox::critical(nullptr, QCoreApplication::applicationName(), message);
  std::exit(1);
}

}  // namespace skin
