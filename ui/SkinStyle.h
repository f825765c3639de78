#pragma once
// The look of every skinned window, drawn in code: the skin's colours, borders, roles ("card",
// "heading", "muted", "primary", "danger", "link", "tab") and fonts. A style sheet would give the
// same look, but Qt matches its rules against every control as the window is first shown and
// draws each control through them, which was most of the program's start-up; this style decides
// from a control's kind, name and role property alone.
//
// Controls outside a skin (Qt's own message boxes and file dialogs) keep the platform's look.
#include <QProxyStyle>

class SkinStyle final : public QProxyStyle {
  Q_OBJECT

 public:
  SkinStyle();

  // Makes the skin style the application's style once; later calls do nothing.
  static void Install();
  // Declares `root` the root of a built skin: it and every control below it, now and later
  // (list rows), take the skin's look.
  static void AdoptSkinRoot(QWidget* root);
  // Gives a skin's root, made but still empty, the font and text colours its controls inherit,
  // so they take them as they are made instead of every control being told again afterwards.
  static void PrepareSkinRoot(QWidget* root);

  void polish(QWidget* widget) override;
  using QProxyStyle::polish;

  void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                     const QWidget* widget) const override;
  void drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                   const QWidget* widget) const override;
  void drawComplexControl(ComplexControl control, const QStyleOptionComplex* option, QPainter* painter,
                          const QWidget* widget) const override;
  int pixelMetric(PixelMetric metric, const QStyleOption* option, const QWidget* widget) const override;
  QSize sizeFromContents(ContentsType type, const QStyleOption* option, const QSize& size,
                         const QWidget* widget) const override;
  QRect subElementRect(SubElement element, const QStyleOption* option, const QWidget* widget) const override;
  QRect subControlRect(ComplexControl control, const QStyleOptionComplex* option, SubControl sub,
                       const QWidget* widget) const override;
};
