#include "ui/SkinBuilder.h"

#include <QBoxLayout>
#include <QBuffer>
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QHash>
#include <QIODevice>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QListWidget>
#include <QMetaObject>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QSet>
#include <QStackedWidget>
#include <QTextEdit>
#include <QToolButton>
#include <QUiLoader>
#include <tinyxml2.h>

#include <cstring>
#include <memory>
#include <vector>

#include "ui/SkinTexts.h"

namespace skin {
namespace {

// Properties the loader handles itself rather than through the meta-object.
const QSet<QString>& LayoutBuilderProperties() {
  static const QSet<QString> names = {QStringLiteral("leftMargin"),   QStringLiteral("topMargin"),
                                      QStringLiteral("rightMargin"),  QStringLiteral("bottomMargin"),
                                      QStringLiteral("horizontalSpacing"), QStringLiteral("verticalSpacing")};
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
      if (unmade_.isEmpty()) {
        unmade_ = QStringLiteral("no control of class %1 could be made for widget '%2'").arg(className, name);
      }
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

// The meta-object of a class the loader makes: Qt's common widgets and layouts by table, any other
// found once by making one (that costs fonts and a text layout for some classes, so the skins
// keep to the table's classes).
const QMetaObject* MetaObjectOf(QUiLoader& loader, const QString& className, bool layout) {
  static QHash<QString, const QMetaObject*> known = {
      {QStringLiteral("QWidget"), &QWidget::staticMetaObject},
      {QStringLiteral("QFrame"), &QFrame::staticMetaObject},
      {QStringLiteral("QLabel"), &QLabel::staticMetaObject},
      {QStringLiteral("QPushButton"), &QPushButton::staticMetaObject},
      {QStringLiteral("QToolButton"), &QToolButton::staticMetaObject},
      {QStringLiteral("QRadioButton"), &QRadioButton::staticMetaObject},
      {QStringLiteral("QCheckBox"), &QCheckBox::staticMetaObject},
      {QStringLiteral("QLineEdit"), &QLineEdit::staticMetaObject},
      {QStringLiteral("QComboBox"), &QComboBox::staticMetaObject},
      {QStringLiteral("QListWidget"), &QListWidget::staticMetaObject},
      {QStringLiteral("QTextEdit"), &QTextEdit::staticMetaObject},
      {QStringLiteral("QPlainTextEdit"), &QPlainTextEdit::staticMetaObject},
      {QStringLiteral("QStackedWidget"), &QStackedWidget::staticMetaObject},
      {QStringLiteral("QGroupBox"), &QGroupBox::staticMetaObject},
      {QStringLiteral("QVBoxLayout"), &QVBoxLayout::staticMetaObject},
      {QStringLiteral("QHBoxLayout"), &QHBoxLayout::staticMetaObject},
      {QStringLiteral("QGridLayout"), &QGridLayout::staticMetaObject},
  };
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

// What the file names, in its order: each widget, layout and spacer with the standard properties
// set directly on it, and the classes the file declares as its own with the Qt class each extends.
struct NamedElement {
  QString tag;  // widget, layout or spacer
  QString className;
  QString name;
  int line = 0;
  std::vector<std::pair<QString, int>> properties;
};

struct SkinOutline {
  std::vector<NamedElement> elements;
  QHash<QString, QString> ownClasses;  // class -> the Qt class it extends
};

bool IsTag(const tinyxml2::XMLElement& element, const char* tag) { return std::strcmp(element.Name(), tag) == 0; }

QString AttributeOf(const tinyxml2::XMLElement& element, const char* name) {
  return QString::fromUtf8(element.Attribute(name) != nullptr ? element.Attribute(name) : "");
}

QString TextOf(const tinyxml2::XMLElement* element) {
  return element != nullptr && element->GetText() != nullptr ? QString::fromUtf8(element->GetText()).trimmed()
                                                             : QString();
}

// The elements inside `parent`; `owner` is the index of the widget, layout or spacer that
// `parent` is, -1 for any other element.
void CollectOutline(const tinyxml2::XMLElement& parent, int owner, SkinOutline& outline) {
  for (const tinyxml2::XMLElement* child = parent.FirstChildElement(); child != nullptr;
       child = child->NextSiblingElement()) {
    if (IsTag(*child, "widget") || IsTag(*child, "layout") || IsTag(*child, "spacer")) {
      const int index = static_cast<int>(outline.elements.size());
      outline.elements.push_back({QString::fromUtf8(child->Name()), AttributeOf(*child, "class"),
                                  AttributeOf(*child, "name"), child->GetLineNum(), {}});
      CollectOutline(*child, index, outline);
    } else if (IsTag(*child, "property")) {
      if (owner >= 0 && !child->Attribute("stdset", "0")) {
        outline.elements[owner].properties.emplace_back(AttributeOf(*child, "name"), child->GetLineNum());
      }
    } else if (IsTag(*child, "customwidget")) {
      outline.ownClasses.insert(TextOf(child->FirstChildElement("class")), TextOf(child->FirstChildElement("extends")));
    } else {
      CollectOutline(*child, -1, outline);
    }
  }
}

// One reading of the whole file (tinyxml2: a tenth of the time of Qt's stream reader). False, with
// the line, when it is no well-formed skin file.
bool ReadOutline(const QByteArray& bytes, SkinOutline& outline, QString& error) {
  tinyxml2::XMLDocument xml;
  if (xml.Parse(bytes.constData(), static_cast<std::size_t>(bytes.size())) != tinyxml2::XML_SUCCESS) {
    error = QStringLiteral("line %1: %2").arg(xml.ErrorLineNum()).arg(QString::fromUtf8(xml.ErrorStr()));
    return false;
  }
  const tinyxml2::XMLElement* top = xml.RootElement();
  if (top == nullptr || !IsTag(*top, "ui")) {
    error = QStringLiteral("not a skin file");
    return false;
  }
  CollectOutline(*top, -1, outline);
  return true;
}

bool KnownProperty(const NamedElement& owner, const QMetaObject* meta, const QString& name) {
  if (owner.tag == QLatin1String("spacer")) return SpacerProperties().contains(name);
  if (meta->indexOfProperty(name.toLatin1().constData()) >= 0) return true;
  if (owner.tag == QLatin1String("layout")) return LayoutBuilderProperties().contains(name);
  return name == QLatin1String("buddy") && meta->inherits(&QLabel::staticMetaObject);
}

// Every class, layout and standard property of the file against what the loader makes and the
// meta-object of that class; the element named in the error is the first one at fault.
bool CheckOutline(QUiLoader& loader, const SkinOutline& outline, QString& error) {
  const QStringList qtWidgets = loader.availableWidgets();
  const QStringList qtLayouts = loader.availableLayouts();
  bool anyWidget = false;
  for (const NamedElement& element : outline.elements) {
    const QMetaObject* meta = nullptr;
    if (element.tag == QLatin1String("widget")) {
      anyWidget = true;
      const QString made = outline.ownClasses.value(element.className, element.className);
      if (qtWidgets.contains(made)) meta = MetaObjectOf(loader, made, false);
    } else if (element.tag == QLatin1String("layout")) {
      if (qtLayouts.contains(element.className)) meta = MetaObjectOf(loader, element.className, true);
    }
    if (meta == nullptr && element.tag != QLatin1String("spacer")) {
      error = QStringLiteral("line %1: %2 '%3' has the unknown class '%4'")
                  .arg(element.line)
                  .arg(element.tag, element.name, element.className);
      return false;
    }
    for (const auto& [property, line] : element.properties) {
      if (!KnownProperty(element, meta, property)) {
        error = QStringLiteral("line %1: %2 '%3' has no property '%4'")
                    .arg(line)
                    .arg(element.tag, element.name, property);
        return false;
      }
    }
  }
  if (!anyWidget) error = QStringLiteral("no control in it");
  return anyWidget;
}

}  // namespace

QWidget* BuildSkinTree(QIODevice& file, const QDir& pictureFolder, const CustomControlFactory& createCustom,
                       QWidget* parent, QString& error, const RootMadeHandler& rootMade) {
  QByteArray bytes = file.readAll();
  SkinOutline outline;
  if (!ReadOutline(bytes, outline, error)) return nullptr;
  QSet<QString> ownClasses;
  for (auto it = outline.ownClasses.cbegin(); it != outline.ownClasses.cend(); ++it) ownClasses.insert(it.key());
  SkinLoader loader(ownClasses, createCustom, rootMade);
  if (!CheckOutline(loader, outline, error)) return nullptr;
  loader.setWorkingDirectory(pictureFolder);
  QBuffer content(&bytes);
  content.open(QIODevice::ReadOnly);
  QPointer<QWidget> root = loader.load(&content, parent);
  if (!loader.Unmade().isEmpty() || root == nullptr) {
    delete root;
    error = loader.Unmade().isEmpty() ? loader.errorString() : loader.Unmade();
    return nullptr;
  }
  TranslateSkinTexts(root);
  return root;
}

}  // namespace skin
