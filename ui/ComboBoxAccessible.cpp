#include "ui/ComboBoxAccessible.h"

#include <QAbstractItemView>
#include <QAccessibleWidget>
#include <QComboBox>

namespace {

class NamedComboBoxAccessible final : public QAccessibleWidget {
 public:
  explicit NamedComboBoxAccessible(QComboBox* combo) : QAccessibleWidget(combo, QAccessible::ComboBox) {}

  QString text(QAccessible::Text kind) const override {
    if (kind == QAccessible::Value) return Combo()->currentText();
    if (kind == QAccessible::Name && Combo()->accessibleName().isEmpty()) return Combo()->currentText();
    return QAccessibleWidget::text(kind);
  }

  QAccessible::State state() const override {
    QAccessible::State state = QAccessibleWidget::state();
    state.expandable = true;
    state.hasPopup = true;
    state.expanded = Combo()->view()->isVisible();
    state.collapsed = !state.expanded;
    return state;
  }

  // The popup list, as the stock interface shows it: assistive technology reads the choices there.
  int childCount() const override { return 1; }
  QAccessibleInterface* child(int index) const override {
    return index == 0 ? QAccessible::queryAccessibleInterface(Combo()->view()) : nullptr;
  }
  int indexOfChild(const QAccessibleInterface* child) const override {
    return child != nullptr && child->object() == Combo()->view() ? 0 : -1;
  }
  QAccessibleInterface* childAt(int, int) const override { return nullptr; }

  QStringList actionNames() const override {
    return {QAccessibleActionInterface::showMenuAction(), QAccessibleActionInterface::pressAction()};
  }
  void doAction(const QString& action) override {
    if (action == QAccessibleActionInterface::showMenuAction() || action == QAccessibleActionInterface::pressAction()) {
      Combo()->showPopup();
    } else {
      QAccessibleWidget::doAction(action);
    }
  }
  QStringList keyBindingsForAction(const QString& action) const override {
    return action == QAccessibleActionInterface::showMenuAction() ? QStringList{QStringLiteral("Alt+Down")}
                                                                   : QStringList();
  }

 private:
  QComboBox* Combo() const { return static_cast<QComboBox*>(widget()); }
};

QAccessibleInterface* CreateNamedComboBoxAccessible(const QString& className, QObject* object) {
  auto* combo = qobject_cast<QComboBox*>(object);
  // Editable combo boxes keep the stock interface: their line edit is the value.
  if (className != QLatin1String("QComboBox") || combo == nullptr || combo->isEditable()) return nullptr;
  return new NamedComboBoxAccessible(combo);
}

}  // namespace

void InstallComboBoxAccessibleNames() {
  static const bool installed = [] {
    QAccessible::installFactory(CreateNamedComboBoxAccessible);
    return true;
  }();
  (void)installed;
}
