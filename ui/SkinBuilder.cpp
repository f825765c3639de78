#include "ui/SkinBuilder.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QDir>
#include <QHash>
#include <QIODevice>
#include <QLabel>
#include <QLayout>
#include <QMetaObject>
#include <QPointer>
#include <QSet>
#include <QUiLoader>
#include <QXmlStreamReader>
#include <memory>
#include <vector>

namespace skin {
namespace {

// Properties the loader handles itself rather than through the meta-object.
const QSet<QString>& LayoutBuilderProperties() {
  static const QSet<QString> names = {
      QStringLiteral("leftMargin"),        QStringLiteral("topMargin"),      QStringLiteral("rightMargin"),
      QStringLiteral("bottomMargin"),      QStringLiteral("horizontalSpacing"), QStringLiteral("verticalSpacing")};
  return names;
}
const QSet<QString>& SpacerProperties() {
  static const QSet<QString> names = {QStringLiteral("orientation"), QStringLiteral("sizeType"),
                                      QStringLiteral("sizeHint")};
  return names;
}

// Qt 6.4's QUiLoader loads every Designer plugin under the library paths as it is made (on
// Debian 12 the Qt Quick widget plugin, which brings Qt Quick and QML along); made while there are
// none, it loads none. The paths are given back as soon as it is made.
struct LibraryPathsHidden {
  LibraryPathsHidden() : saved(QCoreApplication::libraryPaths()) { QCoreApplication::setLibraryPaths({}); }
  QStringList saved;
};

// The loader with no Designer plugin, the application's classes made by the factory.
class SkinLoader final : private LibraryPathsHidden, public QUiLoader {
 public:
  SkinLoader(const QSet<QString>& ownClasses, const CustomControlFactory& createCustom, const RootMadeHandler& rootMade)
      : ownClasses_(ownClasses), createCustom_(createCustom), rootMade_(rootMade) {
    QCoreApplication::setLibraryPaths(saved);
    clearPluginPaths();
    setTranslationEnabled(false);
  }

  QWidget* createWidget(const QString& className, QWidget* parent, const QString& name) override {
    QWidget* widget = nullptr;
    if (ownClasses_.contains(className)) {
      if (createCustom_) widget = createCustom_(className, parent);
    } else {
      widget = QUiLoader::createWidget(className, parent, name);
    }
    if (widget == nullptr) {
      if (unmade_.isEmpty()) unmade_ = QStringLiteral("no control of class %1 could be made for widget '%2'").arg(className, name);
      return nullptr;
    }
    widget->setObjectName(name);
    if (root_ == nullptr) {
      root_ = widget;
      if (rootMade_) rootMade_(widget);
    }
    return widget;
  }

  // The first control that could not be made ("" when all were).
  const QString& Unmade() const { return unmade_; }

 private:
  const QSet<QString>& ownClasses_;
  const CustomControlFactory& createCustom_;
  const RootMadeHandler& rootMade_;
  QWidget* root_ = nullptr;
  QString unmade_;
};

// The meta-object of a class the loader makes, found once by making a control of it.
const QMetaObject* MetaObjectOf(QUiLoader& loader, const QString& className, bool layout) {
  static QHash<QString, const QMetaObject*> known;
  if (const auto found = known.constFind(className); found != known.cend()) return *found;
  const QMetaObject* meta = nullptr;
  if (layout) {
    const std::unique_ptr<QLayout> sample(loader.QUiLoader::createLayout(className));
    if (sample != nullptr) meta = sample->metaObject();
  } else {
    const std::unique_ptr<QWidget> sample(loader.QUiLoader::createWidget(className));
    if (sample != nullptr) meta = sample->metaObject();
  }
  known.insert(className, meta);
  return meta;
}

// One <widget>, <layout> or <spacer> being read, for the properties inside it.
struct Element {
  QString tag;
  QString name;
  const QMetaObject* meta = nullptr;
};

// Checks every class, layout and property of the file against what the loader and the
// application make. The element named in the error is the first one at fault.
class SkinChecker {
 public:
  SkinChecker(QUiLoader& loader, QString& error) : loader_(loader), error_(error) {}

  bool Check(const QByteArray& bytes, QSet<QString>& ownClasses) {
    if (!ReadOwnClasses(bytes, ownClasses)) return false;
    const QStringList qtWidgets = loader_.availableWidgets();
    const QStringList qtLayouts = loader_.availableLayouts();
    QXmlStreamReader xml(bytes);
    std::vector<Element> open;  // the elements enclosing the reader's position, innermost last
    bool anyWidget = false;
    while (!xml.atEnd()) {
      const QXmlStreamReader::TokenType token = xml.readNext();
      if (token == QXmlStreamReader::EndElement) {
        open.pop_back();
        continue;
      }
      if (token != QXmlStreamReader::StartElement) continue;
      const QString tag = xml.name().toString();
      const QString className = xml.attributes().value(QLatin1String("class")).toString();
      const QString name = xml.attributes().value(QLatin1String("name")).toString();
      Element element{tag, name, nullptr};
      if (tag == QLatin1String("widget")) {
        anyWidget = true;
        const QString made = ownClasses.contains(className) ? bases_.value(className) : className;
        if (!qtWidgets.contains(made)) return Fail(xml, QStringLiteral("widget '%1' has the unknown class '%2'").arg(name, className));
        element.meta = MetaObjectOf(loader_, made, false);
      } else if (tag == QLatin1String("layout")) {
        if (!qtLayouts.contains(className)) return Fail(xml, QStringLiteral("layout '%1' has the unknown class '%2'").arg(name, className));
        element.meta = MetaObjectOf(loader_, className, true);
      } else if (tag == QLatin1String("property") && !open.empty() &&
                 xml.attributes().value(QLatin1String("stdset")) != QLatin1String("0") && !KnownProperty(open.back(), name)) {
        return Fail(xml, QStringLiteral("%1 '%2' has no property '%3'").arg(open.back().tag, open.back().name, name));
      }
      open.push_back(std::move(element));
    }
    if (xml.hasError()) return Fail(xml, xml.errorString());
    if (!anyWidget) {
      error_ = QStringLiteral("no control in it");
      return false;
    }
    return true;
  }

 private:
  // The file's own classes and the Qt class each extends; also checks the file is a skin at all.
  bool ReadOwnClasses(const QByteArray& bytes, QSet<QString>& ownClasses) {
    QXmlStreamReader xml(bytes);
    if (!xml.readNextStartElement() || xml.name() != QLatin1String("ui")) {
      return xml.hasError() ? Fail(xml, xml.errorString()) : Fail(xml, QStringLiteral("not a skin file"));
    }
    QString className;
    while (!xml.atEnd()) {
      if (xml.readNext() != QXmlStreamReader::StartElement) continue;
      if (xml.name() == QLatin1String("class")) {
        className = xml.readElementText().trimmed();
      } else if (xml.name() == QLatin1String("extends") && !className.isEmpty()) {
        bases_.insert(className, xml.readElementText().trimmed());
        ownClasses.insert(className);
      }
    }
    return xml.hasError() ? Fail(xml, xml.errorString()) : true;
  }

  bool KnownProperty(const Element& owner, const QString& name) const {
    if (owner.tag == QLatin1String("spacer")) return SpacerProperties().contains(name);
    if (owner.meta == nullptr) return true;  // a property of something else (a combo box entry)
    if (owner.meta->indexOfProperty(name.toLatin1().constData()) >= 0) return true;
    if (owner.tag == QLatin1String("layout")) return LayoutBuilderProperties().contains(name);
    return name == QLatin1String("buddy") && owner.meta->inherits(&QLabel::staticMetaObject);
  }

  bool Fail(const QXmlStreamReader& xml, const QString& what) {
    error_ = QStringLiteral("line %1: %2").arg(xml.lineNumber()).arg(what);
    return false;
  }

  QUiLoader& loader_;
  QString& error_;
  QHash<QString, QString> bases_;
};

}  // namespace

QWidget* BuildSkinTree(QIODevice& file, const QDir& pictureFolder, const CustomControlFactory& createCustom,
                       QWidget* parent, QString& error, const RootMadeHandler& rootMade) {
  QByteArray bytes = file.readAll();
  QSet<QString> ownClasses;
  SkinLoader loader(ownClasses, createCustom, rootMade);
  if (!SkinChecker(loader, error).Check(bytes, ownClasses)) return nullptr;
  loader.setWorkingDirectory(pictureFolder);
  QBuffer content(&bytes);
  content.open(QIODevice::ReadOnly);
  QPointer<QWidget> root = loader.load(&content, parent);
  if (!loader.Unmade().isEmpty() || root == nullptr) {
    delete root;
    error = loader.Unmade().isEmpty() ? loader.errorString() : loader.Unmade();
    return nullptr;
  }
  return root;
}

}  // namespace skin
