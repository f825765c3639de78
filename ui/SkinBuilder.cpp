#include "ui/SkinBuilder.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QHash>
#include <QIODevice>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMetaProperty>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QStackedWidget>
#include <QTextEdit>
#include <QToolButton>
#include <tinyxml2.h>

#include <cstring>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "ui/SkinFiles.h"

namespace skin {
namespace {

// One element of the file: its attributes, its text and the elements inside it. Names and
// attributes point into the parsed document, which outlives the tree; most are only compared,
// so they become strings when asked for.
struct Node {
  QLatin1String name;
  std::vector<std::pair<const char*, const char*>> attributes;
  QString text;
  std::vector<Node> children;

  const char* FindAttribute(const char* key) const {
    for (const auto& [attribute, value] : attributes) {
      if (std::strcmp(attribute, key) == 0) return value;
    }
    return nullptr;
  }
  bool HasAttribute(const char* key) const { return FindAttribute(key) != nullptr; }
  QString Attribute(const char* key) const {
    const char* value = FindAttribute(key);
    return value != nullptr ? QString::fromUtf8(value) : QString();
  }
  bool AttributeIs(const char* key, const char* expected) const {
    const char* value = FindAttribute(key);
    return value != nullptr && std::strcmp(value, expected) == 0;
  }
  const Node* Child(const char* tag) const {
    for (const Node& child : children) {
      if (child.name == QLatin1String(tag)) return &child;
    }
    return nullptr;
  }
  int ChildNumber(const char* tag) const {
    const Node* child = Child(tag);
    return child != nullptr ? child->text.trimmed().toInt() : 0;
  }
};

bool IsBlank(const char* text) {
  for (; *text != '\0'; ++text) {
    if (*text != ' ' && *text != '\t' && *text != '\n' && *text != '\r') return false;
  }
  return true;
}

// The element's name, attributes and text (its non-blank text pieces joined), then its elements.
void CopyElement(const tinyxml2::XMLElement& element, Node& node) {
  node.name = QLatin1String(element.Name());
  for (const tinyxml2::XMLAttribute* attribute = element.FirstAttribute(); attribute != nullptr;
       attribute = attribute->Next()) {
    node.attributes.emplace_back(attribute->Name(), attribute->Value());
  }
  for (const tinyxml2::XMLNode* child = element.FirstChild(); child != nullptr; child = child->NextSibling()) {
    if (const tinyxml2::XMLElement* inner = child->ToElement()) {
      CopyElement(*inner, node.children.emplace_back());
    } else if (const tinyxml2::XMLText* text = child->ToText(); text != nullptr && !IsBlank(text->Value())) {
      node.text += QString::fromUtf8(text->Value());
    }
  }
}

// The whole file is read and checked before any control is made: a damaged skin makes none.
// tinyxml2 rather than Qt's stream reader: it reads the window's skins in a tenth of the time.
bool ReadDocument(QIODevice& file, tinyxml2::XMLDocument& xml, Node& document, QString& error) {
  const QByteArray bytes = file.readAll();
  if (xml.Parse(bytes.constData(), static_cast<std::size_t>(bytes.size())) != tinyxml2::XML_SUCCESS) {
    error = QStringLiteral("%1 (line %2)").arg(QString::fromUtf8(xml.ErrorStr())).arg(xml.ErrorLineNum());
    return false;
  }
  const tinyxml2::XMLElement* top = xml.RootElement();
  if (top == nullptr || std::strcmp(top->Name(), "ui") != 0) {
    error = QStringLiteral("not a skin file");
    return false;
  }
  CopyElement(*top, document);
  return true;
}

// Index of a property of a class, remembered: the skins set the same few properties (text,
// accessibleName, toolTip, ...) on many controls, and each lookup compares the name with every
// property of the class and its bases. Skins are built on the window's thread only.
int PropertyIndex(const QMetaObject* meta, const char* name) {
  static std::map<std::pair<const QMetaObject*, std::string>, int> known;
  auto key = std::make_pair(meta, std::string(name));
  if (const auto found = known.find(key); found != known.end()) return found->second;
  const int index = meta->indexOfProperty(name);
  known.emplace(std::move(key), index);
  return index;
}

using Maker = QWidget* (*)(QWidget*);

template <class T>
QWidget* Make(QWidget* parent) {
  return new T(parent);
}

// Qt's widgets the skins may name; every other class is the application's.
const QHash<QString, Maker>& QtWidgets() {
  static const QHash<QString, Maker> makers = {
      {QStringLiteral("QWidget"), &Make<QWidget>},
      {QStringLiteral("QFrame"), &Make<QFrame>},
      {QStringLiteral("QLabel"), &Make<QLabel>},
      {QStringLiteral("QPushButton"), &Make<QPushButton>},
      {QStringLiteral("QToolButton"), &Make<QToolButton>},
      {QStringLiteral("QRadioButton"), &Make<QRadioButton>},
      {QStringLiteral("QCheckBox"), &Make<QCheckBox>},
      {QStringLiteral("QLineEdit"), &Make<QLineEdit>},
      {QStringLiteral("QComboBox"), &Make<QComboBox>},
      {QStringLiteral("QListWidget"), &Make<QListWidget>},
      {QStringLiteral("QTextEdit"), &Make<QTextEdit>},
      {QStringLiteral("QPlainTextEdit"), &Make<QPlainTextEdit>},
      {QStringLiteral("QStackedWidget"), &Make<QStackedWidget>},
      {QStringLiteral("QGroupBox"), &Make<QGroupBox>},
      {QStringLiteral("QSpinBox"), &Make<QSpinBox>},
      {QStringLiteral("QProgressBar"), &Make<QProgressBar>},
  };
  return makers;
}

QList<int> Numbers(const QString& list) {
  QList<int> numbers;
  for (const QString& part : list.split(QLatin1Char(','), Qt::SkipEmptyParts)) numbers << part.trimmed().toInt();
  return numbers;
}

class Builder {
 public:
  Builder(const QDir& pictureFolder, const CustomControlFactory& createCustom, const RootMadeHandler& rootMade)
      : pictureFolder_(pictureFolder), createCustom_(createCustom), rootMade_(rootMade) {}

  QWidget* Build(const Node& document, QWidget* parent) {
    const Node* top = document.Child("widget");
    if (top == nullptr) return nullptr;
    QWidget* root = Widget(*top, parent);
    if (root == nullptr) return nullptr;
    Finish(document, root);
    return root;
  }

 private:
  QWidget* Widget(const Node& node, QWidget* parent) {
    const QString className = node.Attribute("class");
    QWidget* widget = nullptr;
    if (const auto maker = QtWidgets().constFind(className); maker != QtWidgets().cend()) {
      widget = (*maker)(parent);
    } else if (createCustom_) {
      widget = createCustom_(className, parent);
    }
    if (widget == nullptr) return nullptr;
    widget->setObjectName(node.Attribute("name"));
    if (root_ == nullptr) {
      root_ = widget;
      if (rootMade_) rootMade_(widget);
    }

    for (const Node& child : node.children) {
      if (child.name == QLatin1String("property")) {
        Property(widget, child);
      } else if (child.name == QLatin1String("attribute") && child.AttributeIs("name", "buttonGroup")) {
        if (auto* button = qobject_cast<QAbstractButton*>(widget); button != nullptr && !child.children.empty()) {
          groupMembers_.emplace_back(button, child.children.front().text);
        }
      }
    }
    auto* stack = qobject_cast<QStackedWidget*>(widget);
    auto* combo = qobject_cast<QComboBox*>(widget);
    for (const Node& child : node.children) {
      if (child.name == QLatin1String("widget")) {
        QWidget* inner = Widget(child, widget);
        if (inner != nullptr && stack != nullptr) stack->addWidget(inner);
      } else if (child.name == QLatin1String("layout")) {
        Layout(child, widget, widget);
      } else if (child.name == QLatin1String("item") && combo != nullptr) {
        const Node* text = child.Child("property");
        combo->addItem(text != nullptr && !text->children.empty() ? text->children.front().text : QString());
      }
    }
    if (stack != nullptr) {
      for (const Node& child : node.children) {
        if (child.name == QLatin1String("property") && child.AttributeIs("name", "currentIndex") &&
            !child.children.empty()) {
          stack->setCurrentIndex(child.children.front().text.trimmed().toInt());
        }
      }
    }
    return widget;
  }

  // `owner` gets the layout when it is the widget's own; nested layouts have none.
  QLayout* Layout(const Node& node, QWidget* owner, QWidget* host) {
    const QString className = node.Attribute("class");
    QLayout* layout = nullptr;
    QGridLayout* grid = nullptr;
    QBoxLayout* box = nullptr;
    if (className == QLatin1String("QGridLayout")) {
      layout = grid = owner != nullptr ? new QGridLayout(owner) : new QGridLayout;
    } else if (className == QLatin1String("QHBoxLayout")) {
      layout = box = owner != nullptr ? new QHBoxLayout(owner) : new QHBoxLayout;
    } else {
      layout = box = owner != nullptr ? new QVBoxLayout(owner) : new QVBoxLayout;
    }
    layout->setObjectName(node.Attribute("name"));

    QMargins margins = layout->contentsMargins();
    for (const Node& child : node.children) {
      if (child.name != QLatin1String("property") || child.children.empty()) continue;
      const QString name = child.Attribute("name");
      const int value = child.children.front().text.trimmed().toInt();
      if (name == QLatin1String("spacing")) {
        layout->setSpacing(value);
      } else if (name == QLatin1String("leftMargin")) {
        margins.setLeft(value);
      } else if (name == QLatin1String("topMargin")) {
        margins.setTop(value);
      } else if (name == QLatin1String("rightMargin")) {
        margins.setRight(value);
      } else if (name == QLatin1String("bottomMargin")) {
        margins.setBottom(value);
      } else if (name == QLatin1String("horizontalSpacing") && grid != nullptr) {
        grid->setHorizontalSpacing(value);
      } else if (name == QLatin1String("verticalSpacing") && grid != nullptr) {
        grid->setVerticalSpacing(value);
      } else {
        Property(layout, child);
      }
    }
    layout->setContentsMargins(margins);

    for (const Node& item : node.children) {
      if (item.name != QLatin1String("item") || item.children.empty()) continue;
      const Node& content = item.children.front();
      const int row = item.Attribute("row").toInt();
      const int column = item.Attribute("column").toInt();
      const int rowSpan = item.HasAttribute("rowspan") ? item.Attribute("rowspan").toInt() : 1;
      const int columnSpan =
          item.HasAttribute("colspan") ? item.Attribute("colspan").toInt() : 1;
      if (content.name == QLatin1String("widget")) {
        QWidget* widget = Widget(content, host);
        if (widget == nullptr) continue;
        if (grid != nullptr) {
          grid->addWidget(widget, row, column, rowSpan, columnSpan);
        } else {
          box->addWidget(widget);
        }
      } else if (content.name == QLatin1String("spacer")) {
        QSpacerItem* spacer = Spacer(content);
        if (grid != nullptr) {
          grid->addItem(spacer, row, column, rowSpan, columnSpan);
        } else {
          box->addItem(spacer);
        }
      } else if (content.name == QLatin1String("layout")) {
        QLayout* inner = Layout(content, nullptr, host);
        if (grid != nullptr) {
          grid->addLayout(inner, row, column, rowSpan, columnSpan);
        } else {
          box->addLayout(inner);
        }
      }
    }

    if (box != nullptr) {
      const QList<int> stretch = Numbers(node.Attribute("stretch"));
      for (int i = 0; i < stretch.size() && i < box->count(); ++i) box->setStretch(i, stretch[i]);
    } else {
      const QList<int> columns = Numbers(node.Attribute("columnstretch"));
      for (int i = 0; i < columns.size(); ++i) grid->setColumnStretch(i, columns[i]);
      const QList<int> rows = Numbers(node.Attribute("rowstretch"));
      for (int i = 0; i < rows.size(); ++i) grid->setRowStretch(i, rows[i]);
    }
    return layout;
  }

  static QSpacerItem* Spacer(const Node& node) {
    Qt::Orientation orientation = Qt::Horizontal;
    QSizePolicy::Policy policy = QSizePolicy::Expanding;
    QSize hint(0, 0);
    for (const Node& property : node.children) {
      if (property.children.empty()) continue;
      const QString name = property.Attribute("name");
      const Node& value = property.children.front();
      if (name == QLatin1String("orientation")) {
        orientation = value.text.endsWith(QLatin1String("Vertical")) ? Qt::Vertical : Qt::Horizontal;
      } else if (name == QLatin1String("sizeType")) {
        const QMetaEnum policies = QMetaEnum::fromType<QSizePolicy::Policy>();
        bool ok = false;
        const int found = policies.keyToValue(value.text.trimmed().toLatin1().constData(), &ok);
        if (ok) policy = static_cast<QSizePolicy::Policy>(found);
      } else if (name == QLatin1String("sizeHint")) {
        hint = QSize(value.ChildNumber("width"), value.ChildNumber("height"));
      }
    }
    return orientation == Qt::Horizontal
               ? new QSpacerItem(hint.width(), hint.height(), policy, QSizePolicy::Minimum)
               : new QSpacerItem(hint.width(), hint.height(), QSizePolicy::Minimum, policy);
  }

  void Property(QObject* target, const Node& property) {
    if (property.children.empty()) return;
    const char* rawName = property.FindAttribute("name");
    if (rawName == nullptr) return;
    const QByteArray name = QByteArray::fromRawData(rawName, static_cast<qsizetype>(std::strlen(rawName)));
    const Node& value = property.children.front();
    const bool standard = !property.AttributeIs("stdset", "0");
    if (standard && name == "buddy") {
      if (auto* label = qobject_cast<QLabel*>(target)) buddies_.emplace_back(label, value.text.trimmed());
      return;
    }
    if (standard && name == "currentIndex" && qobject_cast<QStackedWidget*>(target) != nullptr) return;
    if (standard && name == "geometry") {
      // Only the root's size counts; layouts place everything inside it.
      if (target == root_) {
        root_->setGeometry(value.ChildNumber("x"), value.ChildNumber("y"), value.ChildNumber("width"),
                           value.ChildNumber("height"));
      }
      return;
    }
    const QMetaObject* meta = target->metaObject();
    const int index = standard ? PropertyIndex(meta, name.constData()) : -1;
    const QString& text = value.text;
    if (value.name == QLatin1String("enum") || value.name == QLatin1String("set")) {
      if (index < 0) return;
      const QMetaProperty metaProperty = meta->property(index);
      if (!metaProperty.isEnumType()) return;
      const QMetaEnum enumeration = metaProperty.enumerator();
      // A set is keys joined by '|'; a key this Qt does not know is left out, not the whole set.
      int number = 0;
      bool any = false;
      for (const QString& key : text.split(QLatin1Char('|'), Qt::SkipEmptyParts)) {
        bool ok = false;
        const int part = enumeration.keyToValue(key.trimmed().toLatin1().constData(), &ok);
        if (!ok) continue;
        number = enumeration.isFlag() ? number | part : part;
        any = true;
      }
      if (!any) return;
      // Enums and flags are stored as int: hand the property a value of its own type.
      const QMetaType type = metaProperty.metaType();
      metaProperty.write(target, type.sizeOf() == sizeof(int) ? QVariant(type, &number) : QVariant(number));
      return;
    }
    QVariant variant;
    if (value.name == QLatin1String("string") || value.name == QLatin1String("cstring")) {
      variant = text;
    } else if (value.name == QLatin1String("bool")) {
      variant = text.trimmed() == QLatin1String("true");
    } else if (value.name == QLatin1String("number")) {
      variant = text.trimmed().toInt();
    } else if (value.name == QLatin1String("double")) {
      variant = text.trimmed().toDouble();
    } else if (value.name == QLatin1String("size")) {
      variant = QSize(value.ChildNumber("width"), value.ChildNumber("height"));
    } else if (value.name == QLatin1String("rect")) {
      variant = QRect(value.ChildNumber("x"), value.ChildNumber("y"), value.ChildNumber("width"),
                      value.ChildNumber("height"));
    } else if (value.name == QLatin1String("pixmap")) {
      variant = LoadSkinPicture(pictureFolder_.filePath(text.trimmed()));
    } else {
      return;
    }
    if (index >= 0) {
      meta->property(index).write(target, variant);
    } else {
      target->setProperty(name.constData(), variant);
    }
  }

  void Finish(const Node& document, QWidget* root) {
    for (const auto& [label, buddyName] : buddies_) {
      if (QWidget* buddy = root->findChild<QWidget*>(buddyName)) label->setBuddy(buddy);
    }
    if (const Node* groups = document.Child("buttongroups")) {
      for (const Node& group : groups->children) {
        auto* buttons = new QButtonGroup(root);
        buttons->setObjectName(group.Attribute("name"));
        for (const auto& [button, groupName] : groupMembers_) {
          if (groupName == buttons->objectName()) buttons->addButton(button);
        }
      }
    }
    if (const Node* stops = document.Child("tabstops")) {
      QWidget* previous = nullptr;
      for (const Node& stop : stops->children) {
        QWidget* next = root->findChild<QWidget*>(stop.text.trimmed());
        if (next == nullptr) continue;
        if (previous != nullptr) QWidget::setTabOrder(previous, next);
        previous = next;
      }
    }
  }

  const QDir& pictureFolder_;
  const CustomControlFactory& createCustom_;
  const RootMadeHandler& rootMade_;
  QWidget* root_ = nullptr;
  std::vector<std::pair<QLabel*, QString>> buddies_;
  std::vector<std::pair<QAbstractButton*, QString>> groupMembers_;
};

}  // namespace

QWidget* BuildSkinTree(QIODevice& file, const QDir& pictureFolder, const CustomControlFactory& createCustom,
                       QWidget* parent, QString& error, const RootMadeHandler& rootMade) {
  tinyxml2::XMLDocument xml(true, tinyxml2::PRESERVE_WHITESPACE);
  Node document;
  if (!ReadDocument(file, xml, document, error)) return nullptr;
  Builder builder(pictureFolder, createCustom, rootMade);
  QWidget* root = builder.Build(document, parent);
  if (root == nullptr) error = QStringLiteral("no control in it");
  return root;
}

}  // namespace skin
