#include "ui/SkinTexts.h"

#include <QComboBox>
#include <QVariant>
#include <QWidget>

namespace skin {
namespace {

// The string properties that carry operator-facing text; the skin's own markers ("role" and the
// like) are not among them and stay as written.
constexpr const char* kTextProperties[] = {"text",        "toolTip", "accessibleName", "accessibleDescription",
                                           "windowTitle", "title",   "placeholderText"};

QString Translated(const QString& source) {
  if (source.isEmpty()) return source;
  const QByteArray bytes = source.toUtf8();
  return TrQ(bytes.constData());
}

void TranslateWidget(QWidget* widget) {
  for (const char* name : kTextProperties) {
    const QVariant value = widget->property(name);
    if (value.typeId() != QMetaType::QString) continue;
    const QString source = value.toString();
    const QString translated = Translated(source);
    if (translated != source) widget->setProperty(name, translated);
  }
  if (auto* box = qobject_cast<QComboBox*>(widget)) {
    for (int i = 0; i < box->count(); ++i) {
      const QString source = box->itemText(i);
      if (const QString translated = Translated(source); translated != source) box->setItemText(i, translated);
    }
  }
}

}  // namespace

void TranslateSkinTexts(QWidget* root) {
  if (root == nullptr) return;
  TranslateWidget(root);
  for (QWidget* child : root->findChildren<QWidget*>()) TranslateWidget(child);
}

}  // namespace skin
