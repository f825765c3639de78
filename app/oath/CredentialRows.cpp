#include "app/oath/CredentialRows.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QByteArray>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QPointer>
#include <QVBoxLayout>
#include <vector>

#include "core/Conversions.h"
#include "oath/OtpCredential.h"
#include "oath/OtpCredentialList.h"
#include "ui/Controls.h"
#include "ui/WindowImplBase.h"
#include "ui/SkinTexts.h"

namespace {

using namespace credential_rows;

// The raw name a row stands for, kept on the row so that it is compared as bytes.
constexpr const char* kRowNameProperty = "credentialName";
constexpr const char* kRowObjectName = "credential_row";
// Set on a row while its credential is the key's default.
constexpr const char* kRowIsDefaultProperty = "credentialIsDefault";
// Set on the list whose rows assistive technology is shown.
constexpr const char* kAccessibleListProperty = "credentialRowsAccessible";
// Set on a list once its item moves keep the focus chain in order.
constexpr const char* kFocusOrderedProperty = "credentialRowsFocusOrdered";
// A row's buttons, left to right.
constexpr const char* kRowButtons[] = {kCalculate, kCopy, kDelete, kSetDefault};

QByteArray RawName(std::string_view name) { return QByteArray(name.data(), static_cast<qsizetype>(name.size())); }

// The name as the operator reads it. A name that is not text in the locale's encoding still
// shows, with replacement characters, rather than as an empty row. Control characters (C0, DEL
// and C1) show as their code point, "\u009B", never as invisible commands.
QString DisplayName(const std::string& name) {
  const std::wstring wide = AnsiToWide(name);
  const QString text = wide.empty() && !name.empty()
                           ? QString::fromLocal8Bit(name.data(), static_cast<qsizetype>(name.size()))
                           : QString::fromStdWString(wide);
  QString shown;
  shown.reserve(text.size());
  for (const QChar c : text) {
    const char16_t u = c.unicode();
    if (u < 0x20 || (u >= 0x7F && u <= 0x9F)) {
      shown += QStringLiteral("\\u%1").arg(QString::number(u, 16).toUpper().rightJustified(4, QLatin1Char('0')));
    } else {
      shown += c;
    }
  }
  return shown;
}

// A tooltip shows text that may look like markup ("<b>") as those characters: Qt takes a
// tooltip for rich text when it looks like it, so the text goes in escaped.
QString PlainTextToolTip(const QString& text) {
  return QStringLiteral("<p style='white-space:pre'>%1</p>").arg(text.toHtmlEscaped());
}

// The view owns (and destroys as it likes) the holder it shows for an item; the row lives inside
// the holder, so that taking it out leaves the row's lifetime to us.
QWidget* RowWidget(QListWidget* list, int index) {
  QListWidgetItem* item = list->item(index);
  QWidget* holder = item != nullptr ? list->itemWidget(item) : nullptr;
  return holder != nullptr ? holder->findChild<QWidget*>(QString::fromLatin1(kRowObjectName)) : nullptr;
}

// The row's name label, or nullptr for an item that is no credential row.
QLabel* NameLabel(QWidget* row) {
  if (row == nullptr) return nullptr;
  return qobject_cast<QLabel*>(WindowImplBase::FindSubControlByName(row, QString::fromLatin1(kUserName)));
}

bool RowCarries(QWidget* row, std::string_view name) {
  return NameLabel(row) != nullptr && row->property(kRowNameProperty).toByteArray() == RawName(name);
}

// What a screen reader says of a row: the credential, its last code, and whether it is the
// default. Qt announces the change to assistive technology, so a new code is heard, not only seen.
void UpdateRowAccessibleName(QWidget* row) {
  const QLabel* name = NameLabel(row);
  if (name == nullptr) return;
  QString text = name->text();
  const auto* code = row->findChild<QLabel*>(QString::fromLatin1(kCode));
  if (code != nullptr && !code->text().isEmpty()) text += TrQ(", code %1").arg(code->text());
  if (row->property(kRowIsDefaultProperty).toBool()) text += TrQ(", default");
  if (row->accessibleName() != text) row->setAccessibleName(text);
}

QListWidget* ListOf(QWidget* row) {
  for (QWidget* up = row != nullptr ? row->parentWidget() : nullptr; up != nullptr; up = up->parentWidget()) {
    if (auto* list = qobject_cast<QListWidget*>(up)) return list;
  }
  return nullptr;
}

// The row a control sits in; nullptr outside a row.
QWidget* RowOf(QWidget* control) {
  for (QWidget* up = control; up != nullptr; up = up->parentWidget()) {
    if (up->objectName() == QLatin1String(kRowObjectName) && up->property(kRowNameProperty).isValid()) return up;
  }
  return nullptr;
}

// The index of `row` in `list`; -1 when it is not one of its rows.
int IndexOfRow(QListWidget* list, const QWidget* row) {
  if (list == nullptr || row == nullptr) return -1;
  for (int index = 0; index < list->count(); ++index) {
    if (RowWidget(list, index) == row) return index;
  }
  return -1;
}

// The button of `row` named `name`; nullptr when there is none.
QWidget* RowButton(QWidget* row, const QString& name) {
  return row != nullptr ? row->findChild<OtpFreshCButtonUI*>(name) : nullptr;
}

// The view shows each row as a widget set into an empty item, and tells assistive technology only
// of the empty items. This list tells of the rows instead, each with its labels and buttons.
class AccessibleCredentialList : public QAccessibleWidget {
 public:
  explicit AccessibleCredentialList(QListWidget* list) : QAccessibleWidget(list, QAccessible::List) {}

  int childCount() const override { return List()->count(); }
  QAccessibleInterface* child(int index) const override {
    QWidget* row = RowWidget(List(), index);
    return row != nullptr ? QAccessible::queryAccessibleInterface(row) : nullptr;
  }
  int indexOfChild(const QAccessibleInterface* child) const override {
    if (child == nullptr || !child->object() || !child->object()->isWidgetType()) return -1;
    return IndexOfRow(List(), static_cast<QWidget*>(child->object()));
  }

 private:
  QListWidget* List() const { return static_cast<QListWidget*>(widget()); }
};

// A row: one list item whose children are its name, its code and its three buttons.
class AccessibleCredentialRow : public QAccessibleWidget {
 public:
  explicit AccessibleCredentialRow(QWidget* row) : QAccessibleWidget(row, QAccessible::ListItem) {}

  QAccessibleInterface* parent() const override {
    QListWidget* list = ListOf(widget());
    return list != nullptr ? QAccessible::queryAccessibleInterface(list) : QAccessibleWidget::parent();
  }
};

QAccessibleInterface* CredentialRowsAccessibility(const QString&, QObject* object) {
  if (object == nullptr || !object->isWidgetType()) return nullptr;
  auto* widget = static_cast<QWidget*>(object);
  if (auto* list = qobject_cast<QListWidget*>(widget); list != nullptr && list->property(kAccessibleListProperty).toBool()) {
    return new AccessibleCredentialList(list);
  }
  if (widget->objectName() == QLatin1String(kRowObjectName) && widget->property(kRowNameProperty).isValid()) {
    return new AccessibleCredentialRow(widget);
  }
  return nullptr;
}

// The index of the first row carrying `name`; -1 when none does.
int FindRow(QListWidget* list, std::string_view name) {
  if (list == nullptr) return -1;
  for (int index = 0; index < list->count(); ++index) {
    if (RowCarries(RowWidget(list, index), name)) return index;
  }
  return -1;
}

void RemoveRow(QListWidget* list, int index) {
  QWidget* row = RowWidget(list, index);
  if (row != nullptr) WindowImplBase::RemoveControl(row);
  delete list->takeItem(index);
}

OtpFreshCButtonUI* MakeButton(OtpCredential* record, const char* name, const char* caption, const QString& what,
                              const char* selectedRowKeys = nullptr) {
  auto* button = new OtpFreshCButtonUI(record, QString::fromLatin1(name), TrQ(caption));
  button->setProperty("role", QStringLiteral("small"));
  button->setAccessibleName(what);
  button->setToolTip(PlainTextToolTip(
      selectedRowKeys == nullptr
          ? what
          : TrQ("%1 (%2 on the selected row)").arg(what, QString::fromLatin1(selectedRowKeys))));
  return button;
}

}  // namespace

OtpFreshCButtonUI::OtpFreshCButtonUI(OtpCredential* credential, const QString& name, const QString& caption)
    : QPushButton(caption), m_pCredential(credential) {
  setObjectName(name);
}

OtpFreshCButtonUI::~OtpFreshCButtonUI() = default;

void OtpFreshCButtonUI::keyPressEvent(QKeyEvent* event) {
  const int key = event->key();
  const bool plain = (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
  if (plain && (key == Qt::Key_Return || key == Qt::Key_Enter)) {
    // Outside a dialog a push button ignores Enter; a row's button takes it as a press.
    if (!event->isAutoRepeat() && isEnabled()) click();
    event->accept();
    return;
  }
  if (plain && (key == Qt::Key_Up || key == Qt::Key_Down)) {
    QWidget* row = RowOf(this);
    QListWidget* list = ListOf(row);
    const int index = IndexOfRow(list, row);
    if (index >= 0) {
      const int next = index + (key == Qt::Key_Up ? -1 : 1);
      if (QWidget* target = next >= 0 && next < list->count() ? RowButton(RowWidget(list, next), objectName()) : nullptr) {
        target->setFocus(key == Qt::Key_Up ? Qt::BacktabFocusReason : Qt::TabFocusReason);
      }
      // At the first or last row the focus stays where it is.
      event->accept();
      return;
    }
  }
  QPushButton::keyPressEvent(event);
}

void OtpFreshCButtonUI::focusInEvent(QFocusEvent* event) {
  QPushButton::focusInEvent(event);
  QWidget* row = RowOf(this);
  QListWidget* list = ListOf(row);
  const int index = IndexOfRow(list, row);
  if (index < 0) return;
  // The focused row is the one seen and the one the panel's shortcuts act on.
  if (list->currentRow() != index) list->setCurrentRow(index);
  list->scrollToItem(list->item(index));
}

void AddCredentialRow(QListWidget* list, WindowImplBase* manager, OtpCredential* record) {
  if (list == nullptr || record == nullptr) return;
  auto* row = new QFrame;
  row->setObjectName(QString::fromLatin1(kRowObjectName));
  row->setProperty(kRowNameProperty, RawName(record->Name));
  row->setFixedHeight(kRowHeight);
  row->setStyleSheet(QStringLiteral("QFrame#%1 { border: 1px solid %2; }")
                         .arg(QString::fromLatin1(kRowObjectName), controls::SkinColor(kBorderColor).name()));

  auto* layout = new QHBoxLayout(row);
  layout->setContentsMargins(6, 1, 6, 1);
  layout->setSpacing(8);

  // A name is whatever bytes the key holds: shown as the characters they are, never as markup.
  auto* nameLabel = new QLabel;
  nameLabel->setTextFormat(Qt::PlainText);
  nameLabel->setText(DisplayName(record->Name));
  nameLabel->setObjectName(QString::fromLatin1(kUserName));
  controls::SetTextColor(nameLabel, controls::SkinColor(kNameColor));
  auto* codeLabel = new QLabel;
  codeLabel->setTextFormat(Qt::PlainText);
  codeLabel->setObjectName(QString::fromLatin1(kCode));
  codeLabel->setProperty("role", QStringLiteral("code"));
  codeLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);

  auto* buttons = new QWidget;
  auto* buttonLayout = new QHBoxLayout(buttons);
  buttonLayout->setContentsMargins(0, 0, 0, 0);
  buttonLayout->setSpacing(4);
  const QString shownName = nameLabel->text();
  buttonLayout->addWidget(MakeButton(record, kCalculate, N_("get otp"), TrQ("Get the next code of %1").arg(shownName),
                                       kGetCodeKeys));
  buttonLayout->addWidget(MakeButton(record, kCopy, N_("copy"), TrQ("Copy the code of %1").arg(shownName),
                                       kCopyCodeKeys));
  buttonLayout->addWidget(MakeButton(record, kDelete, N_("delete user"), TrQ("Delete %1").arg(shownName)));
  buttonLayout->addWidget(
      MakeButton(record, kSetDefault, N_("set active"), TrQ("Make %1 the default").arg(shownName)));

  layout->addWidget(nameLabel, 2);
  layout->addWidget(codeLabel, 1);
  layout->addWidget(buttons, 0);

  UpdateRowAccessibleName(row);

  auto* holder = new QWidget;
  auto* holderLayout = new QVBoxLayout(holder);
  holderLayout->setContentsMargins(0, 0, 0, 0);
  holderLayout->addWidget(row);

  auto* item = new QListWidgetItem(list);
  item->setSizeHint(QSize(row->sizeHint().width(), kRowHeight + 2));
  list->setItemWidget(item, holder);
  if (manager != nullptr) manager->AttachControls(row);

  if (!list->property(kFocusOrderedProperty).toBool()) {
    list->setProperty(kFocusOrderedProperty, true);
    // Items moved or sorted keep their row widgets, which then read in a new order.
    QAbstractItemModel* model = list->model();
    QObject::connect(model, &QAbstractItemModel::rowsMoved, list, [list] { OrderRowFocusChain(list); });
    QObject::connect(model, &QAbstractItemModel::layoutChanged, list, [list] { OrderRowFocusChain(list); });
  }
  OrderRowFocusChain(list);
}

void UpdateCredentialRow(QListWidget* list, const OtpCredential& record) {
  const int index = FindRow(list, record.Name);
  if (index < 0) return;
  QWidget* row = RowWidget(list, index);
  auto* code = qobject_cast<QLabel*>(WindowImplBase::FindSubControlByName(row, QString::fromLatin1(kCode)));
  const QString shown = QString::fromStdWString(AnsiToWide(record.CardCode));
  const bool newCode = code != nullptr && code->text() != shown && !shown.isEmpty();
  controls::SetText(code, shown);
  UpdateRowAccessibleName(row);
  if (newCode) {
    // The row's new name ("mail, code 755224") is announced even while the focus is elsewhere,
    // typically on the button that asked for the code.
    QAccessibleEvent announcement(row, QAccessible::Alert);
    QAccessible::updateAccessibility(&announcement);
  }
}

void HighlightDefaultRow(QListWidget* list, std::string_view name) {
  if (list == nullptr) return;
  for (int index = 0; index < list->count(); ++index) {
    QWidget* row = RowWidget(list, index);
    QLabel* label = NameLabel(row);
    if (label == nullptr) continue;
    const bool isDefault = RowCarries(row, name);
    controls::SetTextColor(label, controls::SkinColor(isDefault ? kDefaultNameColor : kNameColor));
    row->setProperty(kRowIsDefaultProperty, isDefault);
    UpdateRowAccessibleName(row);
  }
}

void RemoveCredential(QListWidget* list, OtpCredentialList& records, OtpCredential* record) {
  if (record == nullptr) return;
  const int index = FindRow(list, record->Name);
  if (index < 0) return;
  RemoveRow(list, index);
  records.Remove(record);
  OrderRowFocusChain(list);
}

void ClearCredentials(QListWidget* list, OtpCredentialList& records) {
  if (list != nullptr) {
    while (list->count() > 0) RemoveRow(list, list->count() - 1);
  }
  records.Clear();
}

void OrderRowFocusChain(QListWidget* list) {
  if (list == nullptr) return;
  // Each button is moved right after the one before it, so the chain reads list, row 0 left to
  // right, row 1, ... and continues with whatever followed the list.
  QWidget* previous = list->focusPolicy() != Qt::NoFocus ? list : nullptr;
  for (int index = 0; index < list->count(); ++index) {
    QWidget* row = RowWidget(list, index);
    if (row == nullptr) continue;
    for (const char* name : kRowButtons) {
      QWidget* button = RowButton(row, QString::fromLatin1(name));
      if (button == nullptr) continue;
      if (previous != nullptr) QWidget::setTabOrder(previous, button);
      previous = button;
    }
  }
}

void ShowRowsToAssistiveTechnology(QListWidget* list) {
  if (list == nullptr) return;
  static const bool installed = [] {
    QAccessible::installFactory(CredentialRowsAccessibility);
    return true;
  }();
  (void)installed;
  list->setProperty(kAccessibleListProperty, true);
  // The window may have asked for the view's interface before the panel was set up; that one
  // would tell of the empty items, so it makes way for the list of rows.
  QAccessibleInterface* cached = QAccessible::queryAccessibleInterface(list);
  if (cached != nullptr && dynamic_cast<AccessibleCredentialList*>(cached) == nullptr) {
    QAccessible::deleteAccessibleInterface(QAccessible::uniqueId(cached));
  }
}
