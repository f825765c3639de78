#include "ui/SkinStyle.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QChildEvent>
#include <QComboBox>
#include <QEvent>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPainter>
#include <QPainterPath>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QStyleOption>
#include <QTextDocument>
#include <QTextEdit>
#include <algorithm>
#include <vector>

#include "ui/RoundedBox.h"

namespace {

// Marks a control already given its fonts and colours, so a later polish keeps what the program
// set since (a name shown in red, the reader status colour).
constexpr const char* kDressedProperty = "_tokvaneDressed";

using namespace skin::colour;

std::vector<QPointer<QWidget>>& SkinRoots() {
  static std::vector<QPointer<QWidget>> roots;
  return roots;
}

bool InSkin(const QWidget* widget) {
  if (widget == nullptr) return false;
  for (const QPointer<QWidget>& root : SkinRoots()) {
    if (root != nullptr && (root == widget || root->isAncestorOf(widget))) return true;
  }
  return false;
}

QString Role(const QWidget* widget) { return widget->property("role").toString(); }

bool HasRole(const QWidget* widget, const char* role) {
  return widget != nullptr && widget->property("role").toString() == QLatin1String(role);
}

bool IsSkinRoot(const QWidget* widget) {
  return std::any_of(SkinRoots().begin(), SkinRoots().end(),
                     [widget](const QPointer<QWidget>& root) { return root == widget; });
}

bool HasFocus(const QStyleOption* option) { return (option->state & QStyle::State_HasFocus) != 0; }
bool IsEnabled(const QStyleOption* option) { return (option->state & QStyle::State_Enabled) != 0; }
bool IsHovered(const QStyleOption* option) {
  return IsEnabled(option) && (option->state & QStyle::State_MouseOver) != 0;
}

void DrawBox(QPainter* painter, const QRect& area, qreal radius, const QColor& fill, const QColor& border,
             qreal borderWidth, Qt::PenStyle penStyle = Qt::SolidLine) {
  skin::PaintRoundedBox(*painter, area, {radius, fill, border, borderWidth, penStyle});
}

// ---- Push buttons ----------------------------------------------------------------------------

enum class ButtonKind { Plain, Small, Primary, Danger, Link, Tab, Caption, CaptionClose };

ButtonKind KindOf(const QWidget* button) {
  const QString role = Role(button);
  if (role == QLatin1String("caption")) return ButtonKind::Caption;
  if (role == QLatin1String("close")) return ButtonKind::CaptionClose;
  if (role == QLatin1String("primary")) return ButtonKind::Primary;
  if (role == QLatin1String("danger")) return ButtonKind::Danger;
  if (role == QLatin1String("link")) return ButtonKind::Link;
  if (role == QLatin1String("tab")) return ButtonKind::Tab;
  if (role == QLatin1String("small")) return ButtonKind::Small;
  return ButtonKind::Plain;
}

// The box around a button's text: padding, border and the least height of the text line.
struct ButtonBox {
  int padX;
  int padY;
  int border;
  int bottom;  // an extra bottom border (the tab's underline)
  int minTextHeight;
};

ButtonBox BoxOf(ButtonKind kind) {
  switch (kind) {
    case ButtonKind::Small:
      return {8, 1, 1, 0, 18};
    case ButtonKind::Link:
      return {6, 2, 0, 0, 20};
    case ButtonKind::Tab:
      return {16, 8, 0, 3, 20};
    case ButtonKind::Caption:
    case ButtonKind::CaptionClose:
      return {0, 0, 0, 0, 0};
    default:
      return {12, 5, 1, 0, 20};
  }
}

struct ButtonLook {
  QColor fill;  // invalid: none
  QColor border;
  qreal borderWidth = 0;
  Qt::PenStyle borderStyle = Qt::SolidLine;
  int radius = 0;
  QColor text;
  bool underline = false;
  QColor underlineBar;  // the tab's bottom bar
};

ButtonLook LookOf(ButtonKind kind, const QStyleOption* option) {
  const bool enabled = IsEnabled(option);
  const bool hover = IsHovered(option);
  const bool pressed = enabled && (option->state & QStyle::State_Sunken) != 0;
  const bool focus = enabled && HasFocus(option);
  const bool checked = (option->state & QStyle::State_On) != 0;
  ButtonLook look;
  switch (kind) {
    case ButtonKind::Caption:
    case ButtonKind::CaptionClose:
      look.text = kPressed;
      if (hover || focus) {
        look.fill = kind == ButtonKind::CaptionClose ? kCloseHover : kCaptionHover;
        if (kind == ButtonKind::CaptionClose) look.text = kWhite;
      }
      return look;
    case ButtonKind::Link:
      look.text = kBlue;
      look.underline = hover;
      if (focus) {
        look.border = kBlue;
        look.borderWidth = 1;
        look.borderStyle = Qt::DotLine;
      }
      return look;
    case ButtonKind::Tab:
      look.text = kMuted;
      if (hover) {
        look.text = kInk;
        look.fill = kSurface;
      }
      if (checked) {
        look.text = kBlueDark;
        look.underlineBar = kBlue;
      }
      if (focus) look.fill = kRowSelected;
      return look;
    case ButtonKind::Primary:
      look.radius = 6;
      look.text = kWhite;
      look.fill = kBlue;
      look.border = kBlueDark;
      look.borderWidth = 1;
      if (hover) look.fill = kBlueDark;
      if (pressed) look.fill = kBlueDeep;
      if (focus) {
        look.border = kFocusPale;
        look.borderWidth = 2;
      }
      if (!enabled) {
        look.fill = kDisabledPrimary;
        look.border = look.fill;
        look.text = kHover;
      }
      return look;
    default:
      break;
  }
  // Plain, small and danger buttons.
  look.radius = kind == ButtonKind::Small ? 4 : 6;
  look.fill = kWhite;
  look.border = kLine;
  look.borderWidth = 1;
  look.text = kInk;
  if (hover) {
    look.fill = kHover;
    look.border = kFaint;
  }
  // A toggle that is on stays pressed in (the secret field's Show).
  if (pressed || checked) look.fill = kPressed;
  if (focus) {
    look.border = kFocusSoft;
    look.borderWidth = 2;
  }
  if (!enabled) {
    look.text = kFaint;
    look.fill = kSurface;
    look.border = kPressed;
  }
  if (kind == ButtonKind::Danger) {
    look.text = kDanger;
    look.border = hover ? kDangerHoverLine : kDangerLine;
    if (hover) look.fill = kDangerHover;
  }
  return look;
}

void DrawButton(const QProxyStyle* style, const QStyleOptionButton* option, QPainter* painter,
                const QWidget* widget) {
  const ButtonKind kind = KindOf(widget);
  const ButtonLook look = LookOf(kind, option);
  const ButtonBox box = BoxOf(kind);
  DrawBox(painter, option->rect, look.radius, look.fill, look.border, look.borderWidth, look.borderStyle);
  if (look.underlineBar.isValid()) {
    painter->fillRect(QRect(option->rect.left(), option->rect.bottom() - box.bottom + 1, option->rect.width(),
                            box.bottom),
                      look.underlineBar);
  }
  QStyleOptionButton label(*option);
  label.rect = option->rect.adjusted(box.padX + box.border, box.padY + box.border, -(box.padX + box.border),
                                     -(box.padY + box.border + box.bottom));
  if (kind == ButtonKind::Caption || kind == ButtonKind::CaptionClose) label.rect = option->rect;
  label.palette.setColor(QPalette::ButtonText, look.text);
  painter->save();
  if (look.underline) {
    QFont font = painter->font();
    font.setUnderline(true);
    painter->setFont(font);
  }
  style->QProxyStyle::drawControl(QStyle::CE_PushButtonLabel, &label, painter, widget);
  painter->restore();
}

// ---- Frames and backgrounds ------------------------------------------------------------------

bool IsOutputLog(const QWidget* widget) {
  return qobject_cast<const QTextEdit*>(widget) != nullptr && HasRole(widget, "log");
}

// A list of rows keeps them edge to edge; other lists pad their entries.
bool IsCredentialList(const QWidget* widget) { return HasRole(widget, "rows"); }

// Border plus padding of the framed controls, as the frame's contents inset.
int FrameInset(const QWidget* widget) {
  if (qobject_cast<const QListWidget*>(widget) != nullptr) return 3;
  if (IsOutputLog(widget)) return 5;
  if (qobject_cast<const QLabel*>(widget) != nullptr) {
    if (HasRole(widget, "hint")) return 7;
    if (HasRole(widget, "picture")) return 1;
    return -1;
  }
  if (qobject_cast<const QFrame*>(widget) != nullptr && Role(widget) == QLatin1String("card")) return 1;
  return -1;
}

bool DrawFrame(const QStyleOption* option, QPainter* painter, const QWidget* widget) {
  if (qobject_cast<const QListWidget*>(widget) != nullptr) {
    const bool focus = HasFocus(option) && !IsCredentialList(widget);
    DrawBox(painter, option->rect, 6, kWhite, focus ? kFocus : kCardLine, focus ? 2 : 1);
    return true;
  }
  if (IsOutputLog(widget)) {
    const bool focus = HasFocus(option);
    DrawBox(painter, option->rect, 6, kLogBase, focus ? kFocus : kCardLine, focus ? 2 : 1);
    return true;
  }
  if (qobject_cast<const QLabel*>(widget) != nullptr) {
    if (HasRole(widget, "hint")) {
      DrawBox(painter, option->rect, 6, kHintFill, kHintLine, 1);
      return true;
    }
    if (HasRole(widget, "picture")) {
      DrawBox(painter, option->rect, 8, kSurface, kLine, 1, Qt::DashLine);
      return true;
    }
    return false;
  }
  if (Role(widget) == QLatin1String("card")) {
    DrawBox(painter, option->rect, 8, kWhite, kCardLine, 1);
    return true;
  }
  return false;
}

// Plain containers with a background of their own (they get Qt::WA_StyledBackground).
bool HasBackground(const QWidget* widget) {
  static const QStringList roles = {QStringLiteral("window"), QStringLiteral("dialog"), QStringLiteral("captionbar"),
                                    QStringLiteral("tabbar"), QStringLiteral("band")};
  return IsSkinRoot(widget) || roles.contains(Role(widget));
}

void DrawBackground(const QStyleOption* option, QPainter* painter, const QWidget* widget) {
  const QRect area = option->rect;
  const QString role = Role(widget);
  if (role == QLatin1String("window") || role == QLatin1String("dialog")) {
    DrawBox(painter, area, 0, kWindow, role == QLatin1String("window") ? kLine : kFaint, 1);
  } else if (role == QLatin1String("captionbar")) {
    painter->fillRect(area, kInk);
  } else if (role == QLatin1String("tabbar")) {
    painter->fillRect(area, kWhite);
    painter->fillRect(QRect(area.left(), area.bottom(), area.width(), 1), kCardLine);
  } else if (role == QLatin1String("band")) {
    painter->fillRect(area, kBand);
  }
}

// ---- Fonts and colours given once per control ------------------------------------------------

// A line of text (20 px) with the field's padding (4 px) and border (1 px) above and below.
constexpr int kFieldMinimumHeight = 30;
// The text of a line edit starts this far inside its frame (SE_LineEditContents), and QLineEdit
// keeps a margin of its own on each side of the text.
constexpr int kLineEditTextInset = 9;
constexpr int kLineEditInnerMargin = 2;

void SetTextColors(QWidget* widget, const QColor& color) {
  QPalette palette = widget->palette();
  for (QPalette::ColorRole role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText}) {
    palette.setColor(role, color);
  }
  widget->setPalette(palette);
}

void SetFont(QWidget* widget, qreal pointSize, int weight = -1) {
  QFont font = widget->font();
  if (pointSize > 0) font.setPointSizeF(pointSize);
  if (weight > 0) font.setWeight(static_cast<QFont::Weight>(weight));
  widget->setFont(font);
}

void RecomputeFrame(QWidget* widget) {
  if (auto* frame = qobject_cast<QFrame*>(widget)) frame->setFrameStyle(frame->frameStyle());
}

// What a skin's root gives every control inside it: the body font and the ink colour.
void GiveRootLook(QWidget* root) {
  SetFont(root, 10);
  SetTextColors(root, kInk);
}

void Dress(QWidget* widget, QObject* rowWatcher) {
  if (widget->property(kDressedProperty).toBool()) return;
  widget->setProperty(kDressedProperty, true);

  if (IsSkinRoot(widget)) GiveRootLook(widget);
  if (HasBackground(widget)) widget->setAttribute(Qt::WA_StyledBackground);

  if (auto* label = qobject_cast<QLabel*>(widget)) {
    const QString role = Role(label);
    if (role == QLatin1String("title")) {
      SetTextColors(label, kSurface);
      SetFont(label, 11, QFont::DemiBold);
    } else if (role == QLatin1String("subtitle")) {
      SetTextColors(label, kFaint);
    } else if (role == QLatin1String("heading")) {
      SetTextColors(label, kInkStrong);
      SetFont(label, 11, QFont::DemiBold);
    } else if (role == QLatin1String("muted")) {
      SetTextColors(label, kMuted);
    } else if (role == QLatin1String("message")) {
      SetFont(label, 10.5);
    } else if (role == QLatin1String("notice")) {
      SetTextColors(label, kNotice);
    } else if (role == QLatin1String("hint")) {
      SetTextColors(label, kHintText);
    } else if (role == QLatin1String("code")) {
      QFont font = label->font();
      font.setFamily(QStringLiteral("monospace"));
      font.setPointSizeF(11);
      label->setFont(font);
    }
    if (FrameInset(label) >= 0) RecomputeFrame(label);
    return;
  }
  if (auto* button = qobject_cast<QPushButton*>(widget)) {
    button->setAttribute(Qt::WA_Hover);
    const ButtonKind kind = KindOf(button);
    // A crowded layout may not squeeze a button below the height of its text and box.
    if (const ButtonBox box = BoxOf(kind); box.minTextHeight > 0) {
      button->setMinimumHeight(box.minTextHeight + 2 * (box.padY + box.border) + box.bottom);
    }
    switch (kind) {
      case ButtonKind::Caption:
      case ButtonKind::CaptionClose:
        button->setFixedSize(44, 40);
        SetFont(button, 12);
        break;
      case ButtonKind::Primary:
      case ButtonKind::Tab:
        SetFont(button, -1, QFont::DemiBold);
        break;
      case ButtonKind::Small:
        SetFont(button, 9);
        break;
      default:
        break;
    }
    return;
  }
  if (qobject_cast<QRadioButton*>(widget) != nullptr || qobject_cast<QScrollBar*>(widget) != nullptr) {
    widget->setAttribute(Qt::WA_Hover);
    return;
  }
  if (qobject_cast<QLineEdit*>(widget) != nullptr || qobject_cast<QComboBox*>(widget) != nullptr) {
    widget->setMinimumHeight(kFieldMinimumHeight);
    // A field keeps room for its whole placeholder, in whatever language it is written, so the
    // window's least size grows with the text instead of cutting the hint.
    if (auto* edit = qobject_cast<QLineEdit*>(widget); edit != nullptr && !edit->placeholderText().isEmpty()) {
      const QMargins margins = edit->textMargins();
      const int room = edit->fontMetrics().horizontalAdvance(edit->placeholderText()) + 2 * kLineEditTextInset +
                       2 * kLineEditInnerMargin + margins.left() + margins.right();
      edit->setMinimumWidth(std::max(edit->minimumWidth(), room));
    }
    QPalette palette = widget->palette();
    palette.setColor(QPalette::Base, kWhite);
    palette.setColor(QPalette::Highlight, kSelection);
    palette.setColor(QPalette::HighlightedText, kInkStrong);
    widget->setPalette(palette);
    widget->setAttribute(Qt::WA_Hover);
    return;
  }
  if (auto* list = qobject_cast<QListWidget*>(widget)) {
    QPalette palette = list->palette();
    palette.setColor(QPalette::Base, kWhite);
    palette.setColor(QPalette::HighlightedText, kSelectedText);
    list->setPalette(palette);
    list->setAttribute(Qt::WA_Hover);
    list->viewport()->setAttribute(Qt::WA_Hover);
    // Rows come later (a listing of credentials) and take the skin's look as they are placed.
    if (rowWatcher != nullptr) list->viewport()->installEventFilter(rowWatcher);
    RecomputeFrame(list);
    return;
  }
  if (auto* log = qobject_cast<QTextEdit*>(widget); log != nullptr && IsOutputLog(widget)) {
    const QFont inherited = log->font();
    QFont font = inherited;
    font.setFamilies({QStringLiteral("DejaVu Sans Mono"), QStringLiteral("Liberation Mono"),
                      QStringLiteral("monospace")});
    font.setPointSizeF(9);
    log->setFont(font);
    // Every entry is written in the log's font (its own format says so); the empty log itself
    // needs no monospace face, and loading one for it costs start-up time and memory.
    log->document()->setDefaultFont(inherited);
    QPalette palette = widget->palette();
    palette.setColor(QPalette::Base, kLogBase);
    widget->setPalette(palette);
    RecomputeFrame(widget);
    return;
  }
  if (FrameInset(widget) >= 0) RecomputeFrame(widget);
}

void DressTree(QWidget* top, QObject* rowWatcher) {
  Dress(top, rowWatcher);
  const QList<QWidget*> below = top->findChildren<QWidget*>();
  for (QWidget* widget : below) Dress(widget, rowWatcher);
}

// Watches the viewports of skin lists for rows placed in them.
class RowWatcher final : public QObject {
 public:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::ChildAdded) {
      QObject* child = static_cast<QChildEvent*>(event)->child();
      if (child->isWidgetType()) DressTree(static_cast<QWidget*>(child), this);
    }
    return QObject::eventFilter(watched, event);
  }
};

RowWatcher* Watcher() {
  static RowWatcher* watcher = new RowWatcher;
  return watcher;
}

// ---- Group box and scroll bar geometry -------------------------------------------------------

constexpr int kGroupMarginTop = 14;
constexpr int kGroupPaddingTop = 6;
constexpr int kGroupTitleLeft = 10;
constexpr int kGroupTitlePadding = 4;

// The group box's title is bold; the options in the box are not.
QFont GroupTitleFont(const QWidget* widget, const QFont& fallback) {
  QFont font = widget != nullptr ? widget->font() : fallback;
  font.setWeight(QFont::DemiBold);
  return font;
}

bool IsSkinVerticalScrollBar(const QStyleOption* option, const QWidget* widget) {
  const auto* slider = qstyleoption_cast<const QStyleOptionSlider*>(option);
  return slider != nullptr && slider->orientation == Qt::Vertical && qobject_cast<const QScrollBar*>(widget) &&
         InSkin(widget);
}

}  // namespace

SkinStyle::SkinStyle() = default;

void SkinStyle::Install() {
  if (qobject_cast<SkinStyle*>(QApplication::style()) != nullptr) return;
  QApplication::setStyle(new SkinStyle);
}

void SkinStyle::AdoptSkinRoot(QWidget* root) {
  if (root == nullptr) return;
  auto& roots = SkinRoots();
  roots.erase(std::remove(roots.begin(), roots.end(), nullptr), roots.end());
  if (!IsSkinRoot(root)) roots.emplace_back(root);
  DressTree(root, Watcher());
}

void SkinStyle::PrepareSkinRoot(QWidget* root) {
  if (root != nullptr) GiveRootLook(root);
}

void SkinStyle::polish(QWidget* widget) {
  QProxyStyle::polish(widget);
  if (InSkin(widget)) Dress(widget, Watcher());
}

void SkinStyle::drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                              const QWidget* widget) const {
  if (!InSkin(widget)) {
    QProxyStyle::drawPrimitive(element, option, painter, widget);
    return;
  }
  switch (element) {
    case PE_Widget:
      DrawBackground(option, painter, widget);
      return;
    case PE_FrameFocusRect:
      // Focus shows in the control's own border or colour.
      return;
    case PE_PanelLineEdit:
      if (qobject_cast<const QLineEdit*>(widget) != nullptr) {
        const bool focus = HasFocus(option);
        DrawBox(painter, option->rect, 6, option->palette.color(QPalette::Base), focus ? kFocus : kLine,
                focus ? 2 : 1);
        return;
      }
      break;
    case PE_FrameLineEdit:
      if (qobject_cast<const QLineEdit*>(widget) != nullptr) return;
      break;
    case PE_PanelItemViewItem:
      if (qobject_cast<const QListWidget*>(widget) != nullptr) {
        const bool credentials = IsCredentialList(widget);
        const QRect area = credentials ? option->rect.adjusted(2, 1, -2, -1) : option->rect;
        QColor fill;
        if ((option->state & State_Selected) != 0) {
          fill = credentials ? kRowSelected : kItemSelected;
        } else if (IsHovered(option)) {
          fill = kHover;
        }
        if (fill.isValid()) DrawBox(painter, area, 4, fill, QColor(), 0);
        return;
      }
      break;
    case PE_IndicatorRadioButton: {
      const QRect area = option->rect;
      const bool checked = (option->state & State_On) != 0;
      const QColor ring = checked || IsHovered(option) ? kBlue : kFaint;
      DrawBox(painter, area, area.width() / 2.0, kWhite, ring, checked ? 4 : 1);
      return;
    }
    default:
      break;
  }
  QProxyStyle::drawPrimitive(element, option, painter, widget);
}

void SkinStyle::drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                            const QWidget* widget) const {
  if (!InSkin(widget)) {
    QProxyStyle::drawControl(element, option, painter, widget);
    return;
  }
  switch (element) {
    case CE_PushButton:
      if (const auto* button = qstyleoption_cast<const QStyleOptionButton*>(option);
          button != nullptr && qobject_cast<const QPushButton*>(widget) != nullptr) {
        DrawButton(this, button, painter, widget);
        return;
      }
      break;
    case CE_ShapedFrame:
      if (DrawFrame(option, painter, widget)) return;
      if (qobject_cast<const QLabel*>(widget) != nullptr || Role(widget) == QLatin1String("card")) return;
      break;
    case CE_RadioButtonLabel: {
      QStyleOption label(*option);
      label.palette = option->palette;
      if (!IsEnabled(option)) {
        label.palette.setColor(QPalette::WindowText, kFaint);
      } else if (HasFocus(option)) {
        label.palette.setColor(QPalette::WindowText, kBlueDark);
      }
      if (const auto* button = qstyleoption_cast<const QStyleOptionButton*>(option)) {
        QStyleOptionButton copy(*button);
        copy.palette = label.palette;
        QProxyStyle::drawControl(element, &copy, painter, widget);
        return;
      }
      break;
    }
    default:
      break;
  }
  QProxyStyle::drawControl(element, option, painter, widget);
}

void SkinStyle::drawComplexControl(ComplexControl control, const QStyleOptionComplex* option, QPainter* painter,
                                   const QWidget* widget) const {
  if (!InSkin(widget)) {
    QProxyStyle::drawComplexControl(control, option, painter, widget);
    return;
  }
  switch (control) {
    case CC_ComboBox: {
      const bool focus = HasFocus(option);
      DrawBox(painter, option->rect, 6, kWhite, focus ? kFocus : kLine, focus ? 2 : 1);
      const QRect arrow = subControlRect(CC_ComboBox, option, SC_ComboBoxArrow, widget);
      painter->save();
      painter->setRenderHint(QPainter::Antialiasing);
      painter->setPen(QPen(QColor(IsEnabled(option) ? kMuted : kLine), 1.5));
      const QPointF centre = QRectF(arrow).center();
      painter->drawPolyline(QPolygonF({centre + QPointF(-4, -2), centre + QPointF(0, 2), centre + QPointF(4, -2)}));
      painter->restore();
      return;
    }
    case CC_GroupBox:
      if (const auto* box = qstyleoption_cast<const QStyleOptionGroupBox*>(option)) {
        const QRect frame = subControlRect(CC_GroupBox, option, SC_GroupBoxFrame, widget);
        const QRect title = subControlRect(CC_GroupBox, option, SC_GroupBoxLabel, widget);
        painter->save();
        // The border breaks where the title sits on it.
        QRegion clip(option->rect);
        if (!box->text.isEmpty()) clip -= QRegion(title);
        painter->setClipRegion(clip);
        DrawBox(painter, frame, 6, QColor(), kCardLine, 1);
        painter->restore();
        if (!box->text.isEmpty()) {
          painter->save();
          painter->setPen(kCaptionHover);
          painter->setFont(GroupTitleFont(widget, painter->font()));
          painter->drawText(title.adjusted(kGroupTitlePadding, 0, -kGroupTitlePadding, 0),
                            Qt::AlignLeft | Qt::AlignVCenter | Qt::TextShowMnemonic, box->text);
          painter->restore();
        }
        return;
      }
      break;
    case CC_ScrollBar:
      if (IsSkinVerticalScrollBar(option, widget)) {
        const QRect handle = subControlRect(CC_ScrollBar, option, SC_ScrollBarSlider, widget);
        const bool hover = IsHovered(option) && (option->activeSubControls & SC_ScrollBarSlider) != 0;
        if (handle.isValid()) DrawBox(painter, handle, 4, hover ? kFaint : kLine, QColor(), 0);
        return;
      }
      break;
    default:
      break;
  }
  QProxyStyle::drawComplexControl(control, option, painter, widget);
}

int SkinStyle::pixelMetric(PixelMetric metric, const QStyleOption* option, const QWidget* widget) const {
  if (InSkin(widget)) {
    switch (metric) {
      case PM_ExclusiveIndicatorWidth:
      case PM_ExclusiveIndicatorHeight:
        return 14;
      case PM_RadioButtonLabelSpacing:
        return 7;
      case PM_ScrollBarExtent:
        if (IsSkinVerticalScrollBar(option, widget)) return 10;
        break;
      case PM_ScrollBarSliderMin:
        if (IsSkinVerticalScrollBar(option, widget)) return 24;
        break;
      case PM_ButtonShiftHorizontal:
      case PM_ButtonShiftVertical:
        return 0;
      default:
        break;
    }
  }
  return QProxyStyle::pixelMetric(metric, option, widget);
}

QSize SkinStyle::sizeFromContents(ContentsType type, const QStyleOption* option, const QSize& size,
                                  const QWidget* widget) const {
  if (InSkin(widget)) {
    switch (type) {
      case CT_PushButton:
        if (qobject_cast<const QPushButton*>(widget) != nullptr) {
          const ButtonBox box = BoxOf(KindOf(widget));
          return {size.width() + 2 * (box.padX + box.border),
                  std::max(size.height(), box.minTextHeight) + 2 * (box.padY + box.border) + box.bottom};
        }
        break;
      case CT_LineEdit:
        return {size.width() + 18, std::max(size.height() + 10, kFieldMinimumHeight)};
      case CT_ComboBox:
        return {size.width() + 9 + 21 + 4, std::max(size.height() + 10, kFieldMinimumHeight)};
      case CT_ItemViewItem:
        if (qobject_cast<const QListWidget*>(widget) != nullptr && !IsCredentialList(widget)) {
          return QProxyStyle::sizeFromContents(type, option, size, widget) + QSize(12, 10);
        }
        break;
      default:
        break;
    }
  }
  return QProxyStyle::sizeFromContents(type, option, size, widget);
}

QRect SkinStyle::subElementRect(SubElement element, const QStyleOption* option, const QWidget* widget) const {
  if (InSkin(widget)) {
    switch (element) {
      case SE_ShapedFrameContents:
        if (const int inset = FrameInset(widget); inset >= 0) {
          return option->rect.adjusted(inset, inset, -inset, -inset);
        }
        if (qobject_cast<const QLabel*>(widget) != nullptr) return option->rect;
        break;
      case SE_LineEditContents:
        if (qobject_cast<const QLineEdit*>(widget) != nullptr) {
          return option->rect.adjusted(kLineEditTextInset, 5, -kLineEditTextInset, -5);
        }
        break;
      case SE_ItemViewItemText:
        if (qobject_cast<const QListWidget*>(widget) != nullptr && !IsCredentialList(widget)) {
          return QProxyStyle::subElementRect(element, option, widget).adjusted(6, 0, -6, 0);
        }
        break;
      default:
        break;
    }
  }
  return QProxyStyle::subElementRect(element, option, widget);
}

QRect SkinStyle::subControlRect(ComplexControl control, const QStyleOptionComplex* option, SubControl sub,
                                const QWidget* widget) const {
  if (InSkin(widget)) {
    const QRect area = option->rect;
    switch (control) {
      case CC_ComboBox:
        switch (sub) {
          case SC_ComboBoxFrame:
            return area;
          case SC_ComboBoxArrow:
            return {area.right() - 21, area.top() + 1, 20, area.height() - 2};
          case SC_ComboBoxEditField:
            return area.adjusted(9, 1, -22, -1);
          default:
            break;
        }
        break;
      case CC_GroupBox:
        if (const auto* box = qstyleoption_cast<const QStyleOptionGroupBox*>(option)) {
          switch (sub) {
            case SC_GroupBoxFrame:
              return area.adjusted(0, kGroupMarginTop, 0, 0);
            case SC_GroupBoxLabel: {
              const QFontMetrics metrics(GroupTitleFont(widget, QApplication::font()));
              const int width = metrics.horizontalAdvance(box->text) + 2 * kGroupTitlePadding;
              return {area.left() + kGroupTitleLeft, area.top(), width, metrics.height()};
            }
            case SC_GroupBoxContents:
              return area.adjusted(1, kGroupMarginTop + 1 + kGroupPaddingTop, -1, -1);
            case SC_GroupBoxCheckBox:
              return {};
            default:
              break;
          }
        }
        break;
      case CC_ScrollBar:
        if (IsSkinVerticalScrollBar(option, widget)) {
          const auto* bar = qstyleoption_cast<const QStyleOptionSlider*>(option);
          const QRect groove = area.adjusted(2, 2, -2, -2);
          const int range = bar->maximum - bar->minimum;
          int length = groove.height();
          if (range > 0) {
            length = static_cast<int>(static_cast<qint64>(groove.height()) * bar->pageStep /
                                      std::max(1, range + bar->pageStep));
          }
          length = std::clamp(length, std::min(24, groove.height()), groove.height());
          const int position =
              sliderPositionFromValue(bar->minimum, bar->maximum, bar->sliderPosition, groove.height() - length,
                                      bar->upsideDown);
          const QRect handle(groove.left(), groove.top() + position, groove.width(), length);
          switch (sub) {
            case SC_ScrollBarGroove:
              return groove;
            case SC_ScrollBarSlider:
              return handle;
            case SC_ScrollBarSubPage:
              return {groove.left(), groove.top(), groove.width(), handle.top() - groove.top()};
            case SC_ScrollBarAddPage:
              return {groove.left(), handle.bottom() + 1, groove.width(), groove.bottom() - handle.bottom()};
            case SC_ScrollBarAddLine:
            case SC_ScrollBarSubLine:
            case SC_ScrollBarFirst:
            case SC_ScrollBarLast:
              return {};
            default:
              break;
          }
        }
        break;
      default:
        break;
    }
  }
  return QProxyStyle::subControlRect(control, option, sub, widget);
}
