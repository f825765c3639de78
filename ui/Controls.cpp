#include "ui/Controls.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPalette>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QTextEdit>
#include <QVariant>
#include <QWidget>

#include "ui/SkinFiles.h"

namespace controls {
namespace {
constexpr const char* kUserDataProperty = "userdata";
}

QString Name(const QWidget* control) { return control != nullptr ? control->objectName() : QString(); }

QString UserData(const QWidget* control) {
  return control != nullptr ? control->property(kUserDataProperty).toString() : QString();
}

void SetUserData(QWidget* control, const QString& data) {
  if (control != nullptr) control->setProperty(kUserDataProperty, data);
}

QString Text(const QWidget* control) {
  if (auto* label = qobject_cast<const QLabel*>(control)) return label->text();
  if (auto* button = qobject_cast<const QAbstractButton*>(control)) return button->text();
  if (auto* edit = qobject_cast<const QLineEdit*>(control)) return edit->text();
  if (auto* rich = qobject_cast<const QTextEdit*>(control)) return rich->toPlainText();
  if (auto* plain = qobject_cast<const QPlainTextEdit*>(control)) return plain->toPlainText();
  if (auto* combo = qobject_cast<const QComboBox*>(control)) return combo->currentText();
  return QString();
}

void SetText(QWidget* control, const QString& text) {
  if (auto* label = qobject_cast<QLabel*>(control)) {
    // Text set while the program runs is data (names from a key, reader names), never markup.
    label->setTextFormat(Qt::PlainText);
    label->setText(text);
  } else if (auto* button = qobject_cast<QAbstractButton*>(control)) {
    button->setText(text);
  } else if (auto* edit = qobject_cast<QLineEdit*>(control)) {
    edit->setText(text);
  } else if (auto* rich = qobject_cast<QTextEdit*>(control)) {
    rich->setPlainText(text);
  } else if (auto* plain = qobject_cast<QPlainTextEdit*>(control)) {
    plain->setPlainText(text);
  } else if (auto* combo = qobject_cast<QComboBox*>(control); combo != nullptr && combo->isEditable()) {
    combo->setEditText(text);
  }
}

void SetVisible(QWidget* control, bool visible) {
  if (control != nullptr) control->setVisible(visible);
}

void SetEnabled(QWidget* control, bool enabled) {
  if (control != nullptr) control->setEnabled(enabled);
}

bool IsSelected(const QWidget* control) {
  auto* button = qobject_cast<const QAbstractButton*>(control);
  return button != nullptr && button->isCheckable() && button->isChecked();
}

void SetSelected(QWidget* control, bool selected) {
  auto* button = qobject_cast<QAbstractButton*>(control);
  if (button != nullptr && button->isCheckable()) button->setChecked(selected);
}

QColor SkinColor(std::uint32_t argb) {
  return QColor::fromRgb(static_cast<int>((argb >> 16) & 0xFF), static_cast<int>((argb >> 8) & 0xFF),
                         static_cast<int>(argb & 0xFF));
}

void SetTextColor(QWidget* control, QColor color) {
  if (control == nullptr) return;
  // The skin style gives a control its colour once, as it is first shown; what is set here stays.
  QPalette palette = control->palette();
  for (QPalette::ColorRole role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText}) {
    palette.setColor(role, color);
  }
  control->setPalette(palette);
}

bool SetImage(QWidget* control, const QString& skinDirectory, const QString& fileName) {
  auto* label = qobject_cast<QLabel*>(control);
  if (label == nullptr) return false;
  if (fileName.isEmpty()) {
    label->setPixmap(QPixmap());
    return true;
  }
  const QPixmap picture = skin::LoadSkinPicture(QDir(skinDirectory).filePath(fileName));
  if (picture.isNull()) return false;
  // The skin fixes the picture's area with the label's minimum size; without one it shows as drawn.
  const QSize area = label->minimumSize().isEmpty() ? picture.size() : label->minimumSize();
  label->setPixmap(picture.scaled(area, Qt::KeepAspectRatio, Qt::SmoothTransformation));
  return true;
}

}  // namespace controls
