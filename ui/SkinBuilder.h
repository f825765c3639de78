#pragma once
// Turns a skin file (Qt Designer .ui XML) into a control tree. The skins use a small part of the
// format: Qt's common widgets and the application's own, box and grid layouts, spacers, plain
// properties (text, numbers, sizes, enums and flags, pictures from the skin folder), dynamic
// properties, buddies, combo box entries, button groups and the tab order. Reading just that is
// far cheaper at start-up than Qt's general loader, and keeps Qt's UI tools out of the process.
#include <QString>
#include <functional>

class QDir;
class QIODevice;
class QWidget;

namespace skin {

// Creates a control of a class the builder does not know (the application's own); nullptr
// leaves the control and everything inside it out.
using CustomControlFactory = std::function<QWidget*(const QString& className, QWidget* parent)>;
// Told of the root control as soon as it is made, before anything inside it.
using RootMadeHandler = std::function<void(QWidget* root)>;

// The whole file is read before any control is made, so a damaged file creates nothing.
// Pictures are looked up in `pictureFolder`. On failure: nullptr and `error` says why.
QWidget* BuildSkinTree(QIODevice& file, const QDir& pictureFolder, const CustomControlFactory& createCustom,
                       QWidget* parent, QString& error, const RootMadeHandler& rootMade = {});

}  // namespace skin
