#include "ui/SkinFiles.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <QSet>
#include <QUiLoader>
#include <QWidget>
#include <cstdlib>

#include "ui/Notify.h"
#include "ui/SkinStyle.h"

#ifndef TOKVANE_DATA_DIR
#define TOKVANE_DATA_DIR "/usr/local/share/tokvane"
#endif

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

// Qt's own widget classes go to Qt; every other class name is the application's to create.
class SkinLoader final : public QUiLoader {
 public:
  explicit SkinLoader(IDialogBuilderCallback* callback) : callback_(callback) {}

  QWidget* createWidget(const QString& className, QWidget* parent, const QString& name) override {
    if (KnownClasses().contains(className)) return QUiLoader::createWidget(className, parent, name);
    if (callback_ == nullptr) return nullptr;
    QWidget* control = callback_->CreateControl(className, parent);
    if (control != nullptr) control->setObjectName(name);
    return control;
  }

 private:
  const QSet<QString>& KnownClasses() {
    static const QSet<QString> classes = [this] {
      const QStringList list = availableWidgets();
      return QSet<QString>(list.begin(), list.end());
    }();
    return classes;
  }

  IDialogBuilderCallback* callback_;
};

}  // namespace

QString ResolveSkinDirectory(const QString& folderName) {
  if (!DirectoryOverride().isEmpty()) return WithTrailingSlash(DirectoryOverride());
  const QString besideExecutable = QDir(QCoreApplication::applicationDirPath()).filePath(folderName);
  if (QFileInfo(besideExecutable).isDir()) return WithTrailingSlash(besideExecutable);
  const QString installed = QDir(QStringLiteral(TOKVANE_DATA_DIR)).filePath(folderName);
  if (QFileInfo(installed).isDir()) return WithTrailingSlash(installed);
  return WithTrailingSlash(besideExecutable);
}

void SetSkinDirectoryOverride(const QString& directory) { DirectoryOverride() = directory; }

QWidget* BuildSkinFile(const QString& filePath, IDialogBuilderCallback* callback, QWidget* parent,
                       QString& error) {
  QFile file(filePath);
  if (!file.open(QIODevice::ReadOnly)) {
    error = QStringLiteral("Cannot open the skin file %1: %2").arg(filePath, file.errorString());
    return nullptr;
  }
  // The skins use Qt's own widgets and ours, never a Designer plugin. A loader loads every plugin
  // of the library paths' "designer" folders as it is made, pulling Qt Quick and its network stack
  // into the process: it is made while there are no library paths to look in.
  const QStringList libraryPaths = QCoreApplication::libraryPaths();
  QCoreApplication::setLibraryPaths({});
  SkinLoader loader(callback);
  QCoreApplication::setLibraryPaths(libraryPaths);
  // Pictures named in the skin are found beside it.
  loader.setWorkingDirectory(QFileInfo(filePath).absoluteDir());
  // The skin's look is drawn in code; made the application's style before the first control, so
  // no control is polished twice.
  SkinStyle::Install();
  QWidget* root = loader.load(&file, parent);
  if (root != nullptr) {
    SkinStyle::AdoptSkinRoot(root);
  } else {
    const QString reason = loader.errorString();
    error = QStringLiteral("The skin file %1 is not valid: %2")
                .arg(filePath, reason.isEmpty() ? QStringLiteral("no control in it") : reason);
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
