#pragma once
// Turns a skin file (Qt Designer .ui XML) into a control tree with Qt's own loader. No Designer
// plugin is loaded: Qt's widgets and layouts are made by the loader, and the application's own
// classes (those the file declares under <customwidgets>) by a factory. The file is checked
// before anything is made: a class, layout or property the loader would leave out or set blindly
// is an error naming the element, so a skin edited in Qt Designer never looks different in the
// program without a word.
#include <QString>
#include <functional>

class QDir;
class QIODevice;
class QWidget;

namespace skin {

// Makes a control of one of the application's own classes; nullptr when it has none of that class
// (the skin then fails).
using CustomControlFactory = std::function<QWidget*(const QString& className, QWidget* parent)>;
// Told of the root control as soon as it is made, before anything inside it.
using RootMadeHandler = std::function<void(QWidget* root)>;

// Pictures are looked up in `pictureFolder`. On failure: nullptr, nothing made, and `error` says why.
QWidget* BuildSkinTree(QIODevice& file, const QDir& pictureFolder, const CustomControlFactory& createCustom,
                       QWidget* parent, QString& error, const RootMadeHandler& rootMade = {});

}  // namespace skin
