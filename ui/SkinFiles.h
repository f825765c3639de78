#pragma once
// Where skin files are read from, how a skin file becomes a control tree, and what happens when
// a skin cannot be loaded.
#include <QPixmap>
#include <QString>
#include <functional>

class QWidget;
class IDialogBuilderCallback;

namespace skin {

// The folder holding the skin files, ending in '/': an explicit override when one is set, else
// `folderName` beside the executable, else `folderName` in the installed data directory.
QString ResolveSkinDirectory(const QString& folderName);
// Tests and tools point every window at another folder; an empty text removes the override.
void SetSkinDirectoryOverride(const QString& directory);

// A skin's picture, read as the format its file name ends in. Left to guess, Qt would load every
// image plugin on the system to ask each whether it reads the file; a picture whose name does
// not say what it holds is still read that way. Null when it cannot be read.
QPixmap LoadSkinPicture(const QString& path);

// Builds the control tree of one skin file (Qt Designer .ui XML). The classes the file declares
// as its own are made by `callback` (may be null: then the file may declare none). On failure:
// nullptr and `error` names the file and why.
QWidget* BuildSkinFile(const QString& filePath, IDialogBuilderCallback* callback, QWidget* parent,
                       QString& error);

// A skin that cannot be loaded is fatal: by default an error box is shown and the process ends
// with exit code 1. A handler installed here runs instead (tests); it may return, and then the
// caller gives up building that window.
using SkinFailureHandler = std::function<void(const QString& message)>;
void SetSkinFailureHandler(SkinFailureHandler handler);
void ReportSkinFailure(const QString& message);

}  // namespace skin
