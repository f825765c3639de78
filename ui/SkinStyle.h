#pragma once
// The look of every skinned window, drawn in code: the skin's colours, borders and fonts. A style
// sheet would give the same look, but Qt matches its rules against every control as the window is
// first shown and draws each control through them, which was most of the program's start-up; this
// style decides from a control's kind and its "role" property alone, which the skin files set:
//   window, dialog      a skin's outer root (light ground, a border)
//   captionbar          the dark caption strip; its buttons are "caption" and "close"
//   title, subtitle     the caption's texts        heading, muted   a card's title, quiet text
//   message             a message box's text       notice, hint     a status text, a warning box
//   card                a white rounded panel      band             a folded-away strip
//   tabbar, tab         the tab strip and its tabs picture          a framed picture
//   primary, danger, link, small   buttons         log, rows, code  the output log, a list of
//                                                                   rows edge to edge, a code
//
// Controls outside a skin (Qt's own message boxes and file dialogs) keep the platform's look.
#include <QProxyStyle>
#include <QRgb>

// The skin's palette: every colour the look uses, once.
namespace skin::colour {
inline constexpr QRgb kInk = 0x1e293b;              // body text; the caption bar
inline constexpr QRgb kInkStrong = 0x0f172a;        // headings, selected field text
inline constexpr QRgb kMuted = 0x64748b;            // quiet text, idle tabs, the combo arrow
inline constexpr QRgb kFaint = 0x94a3b8;            // disabled text, idle rings, a dialog's border
inline constexpr QRgb kLine = 0xcbd5e1;             // field and button borders, the window's border
inline constexpr QRgb kCardLine = 0xdde3ec;         // card, list and group borders
inline constexpr QRgb kWhite = 0xffffff;            // card and field ground
inline constexpr QRgb kSurface = 0xf8fafc;          // caption text, hovered tabs, disabled buttons
inline constexpr QRgb kHover = 0xf1f5f9;            // hovered buttons and items
inline constexpr QRgb kPressed = 0xe2e8f0;          // pressed buttons, caption buttons' text
inline constexpr QRgb kWindow = 0xf3f5f9;           // a window's ground
inline constexpr QRgb kBand = 0xe8edf5;             // a folded-away strip
inline constexpr QRgb kLogBase = 0xfbfcfe;          // the output log's ground
inline constexpr QRgb kBlue = 0x2563eb;             // primary buttons, links, checked rings
inline constexpr QRgb kBlueDark = 0x1d4ed8;         // their hover and border, the current tab
inline constexpr QRgb kBlueDeep = 0x1e40af;         // a pressed primary button
inline constexpr QRgb kFocus = 0x3b82f6;            // a focused field's border
inline constexpr QRgb kFocusSoft = 0x60a5fa;        // a focused button's border
inline constexpr QRgb kFocusPale = 0x93c5fd;        // a focused primary button's border
inline constexpr QRgb kDisabledPrimary = 0xbfcfee;  // a disabled primary button
inline constexpr QRgb kSelection = 0xbfdbfe;        // selected text in a field
inline constexpr QRgb kSelectedText = 0x1e3a8a;     // a selected list entry's text
inline constexpr QRgb kItemSelected = 0xdbeafe;     // a selected list entry
inline constexpr QRgb kRowSelected = 0xeff6ff;      // a selected row, a focused tab
inline constexpr QRgb kCaptionHover = 0x334155;     // a hovered caption button, group titles
inline constexpr QRgb kCloseHover = 0xdc2626;       // the hovered close button
inline constexpr QRgb kDanger = 0xb91c1c;           // a danger button's text
inline constexpr QRgb kDangerLine = 0xfecaca;
inline constexpr QRgb kDangerHoverLine = 0xf87171;
inline constexpr QRgb kDangerHover = 0xfef2f2;
inline constexpr QRgb kNotice = 0x0000ff;           // a status text
inline constexpr QRgb kHintText = 0x9a3412;         // a warning box: text, ground, border
inline constexpr QRgb kHintFill = 0xfff7ed;
inline constexpr QRgb kHintLine = 0xfed7aa;
}  // namespace skin::colour

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
