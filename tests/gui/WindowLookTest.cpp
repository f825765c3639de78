// How the window looks to an operator and to a screen reader: at the default and the minimum
// size, on every tab, no input is narrower than its placeholder, no text is cut and nothing lies
// outside the window; every control is named for what it does; and the README's pictures are
// what the program draws.
#include <QAbstractButton>
#include <QAbstractScrollArea>
#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStackedWidget>
#include <QStyleOptionFrame>
#include <QTest>
#include <optional>
#include <gtest/gtest.h>

#include "core/Translate.h"
#include "tools/DemoWindowPicture.h"

namespace {

// Where `widget` lies in `window`, and the part of that its ancestors let show. A control in a
// scrolled area may lie beyond the area's edge: it is reached by scrolling.
struct Placement {
  QRect rect;
  QRect shown;
  bool scrolled = false;
};

Placement PlacementIn(const QWidget& window, const QWidget& widget) {
  Placement placement;
  placement.rect = QRect(widget.mapTo(&window, QPoint(0, 0)), widget.size());
  placement.shown = placement.rect;
  for (const QWidget* parent = widget.parentWidget(); parent != nullptr && parent != &window;
       parent = parent->parentWidget()) {
    if (qobject_cast<const QAbstractScrollArea*>(parent->parentWidget()) != nullptr) placement.scrolled = true;
    placement.shown &= QRect(parent->mapTo(&window, QPoint(0, 0)), parent->size());
  }
  placement.shown &= window.rect();
  return placement;
}

QString Describe(const QWidget& widget) {
  return widget.objectName().isEmpty() ? QString::fromLatin1(widget.metaObject()->className())
                                       : widget.objectName();
}

// Room for text inside a line edit, as the style lays it out.
int TextRoom(const QLineEdit& edit) {
  QStyleOptionFrame option;
  option.initFrom(&edit);
  option.rect = edit.rect();
  option.lineWidth = edit.style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &option, &edit);
  const QRect contents = edit.style()->subElementRect(QStyle::SE_LineEditContents, &option, &edit);
  const QMargins margins = edit.textMargins();
  constexpr int kLineEditInnerMargin = 2;  // QLineEdit's own margin on each side of its text
  return contents.width() - margins.left() - margins.right() - 2 * kLineEditInnerMargin;
}

// What an operator would find squeezed, cut or missing in the window as shown now.
QStringList LayoutFaults(const QWidget& window) {
  QStringList faults;
  for (QWidget* widget : window.findChildren<QWidget*>()) {
    if (!widget->isVisibleTo(&window) || widget->isWindow()) continue;
    const QString name = Describe(*widget);
    const Placement placement = PlacementIn(window, *widget);
    const bool control = qobject_cast<QAbstractButton*>(widget) != nullptr ||
                         qobject_cast<QLineEdit*>(widget) != nullptr ||
                         qobject_cast<QComboBox*>(widget) != nullptr || qobject_cast<QLabel*>(widget) != nullptr;
    if (control && !placement.scrolled && placement.shown != placement.rect) {
      faults << QStringLiteral("%1 lies partly outside the window or its panel").arg(name);
    }
    if (auto* edit = qobject_cast<QLineEdit*>(widget); edit != nullptr && !edit->placeholderText().isEmpty()) {
      const int needed = edit->fontMetrics().horizontalAdvance(edit->placeholderText());
      if (const int room = TextRoom(*edit); room < needed) {
        faults << QStringLiteral("%1 has %2 px for its placeholder \"%3\", which needs %4 px")
                      .arg(name)
                      .arg(room)
                      .arg(edit->placeholderText())
                      .arg(needed);
      }
    }
    // The skin draws push buttons, radio buttons and check boxes; any other button kind would
    // show in the platform's plain style among them.
    if (qobject_cast<QAbstractButton*>(widget) != nullptr && qobject_cast<QPushButton*>(widget) == nullptr &&
        qobject_cast<QRadioButton*>(widget) == nullptr && qobject_cast<QCheckBox*>(widget) == nullptr) {
      faults << QStringLiteral("%1 is a %2, which the skin does not draw").arg(name, widget->metaObject()->className());
    }
    const bool sized = qobject_cast<QAbstractButton*>(widget) != nullptr ||
                       qobject_cast<QComboBox*>(widget) != nullptr;
    if (sized && widget->width() < widget->sizeHint().width()) {
      faults << QStringLiteral("%1 is %2 px wide, its text needs %3 px").arg(name).arg(widget->width()).arg(
                    widget->sizeHint().width());
    }
    if (auto* label = qobject_cast<QLabel*>(widget); label != nullptr && !label->text().isEmpty()) {
      const bool cut = label->wordWrap() ? label->height() < label->heightForWidth(label->width())
                                         : label->width() < label->minimumSizeHint().width();
      if (cut) faults << QStringLiteral("%1 cuts its text \"%2\"").arg(name, label->text().left(40));
    }
  }
  return faults;
}

// The faults on every page of the window's tabs.
QStringList LayoutFaultsOnEveryTab(QWidget& window) {
  QStringList faults;
  auto* pages = window.findChild<QStackedWidget*>(QStringLiteral("body_main_tablayout"));
  if (pages == nullptr) return {QStringLiteral("the window has no tab pages")};
  const int shown = pages->currentIndex();
  for (int page = 0; page < pages->count(); ++page) {
    pages->setCurrentIndex(page);
    QApplication::processEvents();
    for (const QString& fault : LayoutFaults(window)) faults << pages->widget(page)->objectName() + ": " + fault;
  }
  pages->setCurrentIndex(shown);
  return faults;
}

// Where Tab goes from `widget`: the next control in the focus chain that takes focus by Tab.
QWidget* NextTabStop(QWidget& widget) {
  for (QWidget* next = widget.nextInFocusChain(); next != &widget; next = next->nextInFocusChain()) {
    if ((next->focusPolicy() & Qt::TabFocus) != 0 && next->isVisible() && next->isEnabled()) return next;
  }
  return nullptr;
}

// A language the window is shown in: its locale and LANGUAGE list.
struct Language {
  const char* locale;
  const char* languageList;
};

class WindowLook : public ::testing::TestWithParam<Language> {
 protected:
  void SetUp() override {
    tokvane::SetCatalogueDirectoryOverride(TOKVANE_LOCALE_DIR);
    ASSERT_TRUE(tokvane::SwitchLanguage(GetParam().locale, GetParam().languageList))
        << GetParam().locale << " is missing: scripts/make-test-locales.sh generates it";
    demo.emplace();
    QString failure;
    ASSERT_TRUE(demo->Open(DemoPicture::Codes, &failure)) << failure.toStdString();
  }
  void TearDown() override {
    demo.reset();
    tokvane::SwitchLanguage("C", "");
    tokvane::SetCatalogueDirectoryOverride("");
  }
  CMainWnd& Window() { return demo->Window(); }
  void ResizeTo(QSize size) {
    Window().resize(size);
    QApplication::processEvents();
    ASSERT_EQ(Window().size(), size);
  }

  std::optional<DemoWindow> demo;
};

INSTANTIATE_TEST_SUITE_P(Languages, WindowLook,
                         ::testing::Values(Language{"C", ""}, Language{"de_DE.UTF-8", "de"},
                                           Language{"zh_CN.UTF-8", ""}),
                         [](const ::testing::TestParamInfo<Language>& info) {
                           return std::string(info.param.locale).substr(0, std::string(info.param.locale).find('.'));
                         });

TEST_P(WindowLook, EveryControlHasRoomAtTheDefaultAndTheMinimumSize) {
  const QSize minimum = Window().minimumSize();
  ASSERT_FALSE(minimum.isEmpty());
  // A compositor maximizes the window to the screen less its panels, and ends a client that
  // insists on more (a netbook's 1024 x 600 screen, say).
  EXPECT_LE(minimum.width(), 1024);
  EXPECT_LE(minimum.height(), 560) << "the least window is " << minimum.width() << "x" << minimum.height();
  for (const QSize size : {QSize(990, 690), minimum}) {
    ResizeTo(size);
    const QStringList faults = LayoutFaultsOnEveryTab(Window());
    EXPECT_TRUE(faults.isEmpty()) << size.width() << "x" << size.height() << ":\n"
                                  << faults.join(QLatin1Char('\n')).toStdString();
  }
}

// The form reads in order: name, secret with its format and the toggle beside it, digits, moving
// factor, then the buttons; Tab follows the same order. The secret is the widest input.
TEST_P(WindowLook, TheCredentialFormReadsInOrderAndTheSecretIsWidest) {
  const char* const order[] = {"personinalize_edit_name", "personinalize_edit_password", "secret_format",
                               "show_secret",             "hotp_length",                 "imf_edit",
                               "btn_import_qr",           "btn_random_generate",         "btn_personalization"};
  QWidget* secret = Window().FindControl(QString::fromLatin1(order[1]));
  ASSERT_NE(secret, nullptr);
  QWidget* previous = nullptr;
  for (const char* name : order) {
    QWidget* control = Window().FindControl(QString::fromLatin1(name));
    ASSERT_NE(control, nullptr) << name;
    if (previous != nullptr) {
      const QPoint before = previous->mapTo(&Window(), QPoint(0, 0));
      const QPoint at = control->mapTo(&Window(), QPoint(0, 0));
      const bool sameLine = std::abs(at.y() - before.y()) < previous->height() / 2;
      EXPECT_TRUE(at.y() > before.y() || (sameLine && at.x() > before.x()))
          << name << " does not follow " << previous->objectName().toStdString();
      EXPECT_EQ(NextTabStop(*previous), control) << "Tab from " << previous->objectName().toStdString();
    }
    previous = control;
    if (!control->inherits("QPushButton")) {
      EXPECT_LE(control->width(), secret->width()) << name;
    }
  }
  EXPECT_GE(secret->width(), 280);
}

// Over the accessibility tree every input, button and toggle says what it does; a combo box is
// named for what it chooses, not for its current value.
TEST_P(WindowLook, EveryControlIsNamedForWhatItDoes) {
  // The skin's texts are the catalogue's, English in the C locale, on the main skin and on the
  // panels loaded into it; the skin's markers stay.
  const bool english = std::string(GetParam().locale) == "C";
  for (const auto& [control, text] : {std::pair{"Card_Connect", "Connect"}, {"list_names", "&List credentials"}}) {
    auto* button = Window().FindControlAs<QAbstractButton>(QString::fromLatin1(control));
    ASSERT_NE(button, nullptr) << control;
    EXPECT_EQ(button->text(), QString::fromUtf8(tokvane::Tr(text))) << control;
    EXPECT_EQ(button->text() == QString::fromLatin1(text), english) << control;
    EXPECT_EQ(button->property("role").toString(), QStringLiteral("primary")) << control;
  }
  const std::pair<const char*, const char*> combos[] = {{"hotp_length", "Digits"},
                                                        {"secret_format", "Secret format"}};
  for (const auto& [control, name] : combos) {
    QAccessibleInterface* combo = QAccessible::queryAccessibleInterface(Window().FindControl(QString::fromLatin1(control)));
    ASSERT_NE(combo, nullptr) << control;
    EXPECT_EQ(combo->role(), QAccessible::ComboBox) << control;
    EXPECT_EQ(combo->text(QAccessible::Name), QString::fromUtf8(tokvane::Tr(name))) << control;
    EXPECT_EQ(combo->text(QAccessible::Value), static_cast<QComboBox*>(combo->object())->currentText()) << control;
    EXPECT_NE(combo->actionInterface(), nullptr) << control;
  }
  QStringList unnamed;
  int controls = 0;
  auto* pages = Window().findChild<QStackedWidget*>(QStringLiteral("body_main_tablayout"));
  ASSERT_NE(pages, nullptr);
  for (int page = 0; page < pages->count(); ++page) {
    pages->setCurrentIndex(page);
    for (QWidget* widget : Window().findChildren<QWidget*>()) {
      // Qt's own inner widgets and focus proxies are named through the control they belong to.
      const bool keyboardReachable = (widget->focusPolicy() & Qt::TabFocus) &&
                                     !widget->objectName().startsWith(QLatin1String("qt_")) &&
                                     !(widget->parentWidget() && widget->parentWidget()->focusProxy() == widget);
      const bool control = keyboardReachable || qobject_cast<QAbstractButton*>(widget) != nullptr ||
                           qobject_cast<QLineEdit*>(widget) != nullptr || qobject_cast<QComboBox*>(widget) != nullptr;
      if (!control || !widget->isVisibleTo(&Window())) continue;
      ++controls;
      QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(widget);
      const QString name = accessible != nullptr ? accessible->text(QAccessible::Name).trimmed() : QString();
      if (name.isEmpty()) unnamed << Describe(*widget);
    }
  }
  pages->setCurrentIndex(0);
  EXPECT_GT(controls, 20);
  EXPECT_TRUE(unnamed.isEmpty()) << unnamed.join(QStringLiteral(", ")).toStdString();
}

// The README's pictures: drawn the way scripts/screenshot.sh draws them and compared pixel by
// pixel; a few pixels may differ (text antialiasing).
TEST(ReadmePictures, AreWhatTheProgramDraws) {
  constexpr int kDifferingPixelsAllowed = 40;
  for (const DemoPictureFile& file : kDemoPictureFiles) {
    const QString path = QDir(QStringLiteral(TOKVANE_DOCS_DIR)).filePath(QString::fromLatin1(file.fileName));
    const QImage expected = QImage(path).convertToFormat(QImage::Format_RGB32);
    ASSERT_FALSE(expected.isNull()) << path.toStdString() << " is missing; draw it with: bash scripts/screenshot.sh";
    QString failure;
    const QImage drawn = DrawDemoPicture(file.picture, &failure).convertToFormat(QImage::Format_RGB32);
    ASSERT_FALSE(drawn.isNull()) << failure.toStdString();
    ASSERT_EQ(drawn.size(), expected.size()) << path.toStdString();
    int differing = 0;
    for (int y = 0; y < drawn.height(); ++y) {
      const auto* a = reinterpret_cast<const QRgb*>(drawn.constScanLine(y));
      const auto* b = reinterpret_cast<const QRgb*>(expected.constScanLine(y));
      for (int x = 0; x < drawn.width(); ++x) differing += (a[x] & 0xFFFFFF) != (b[x] & 0xFFFFFF) ? 1 : 0;
    }
    if (differing > kDifferingPixelsAllowed) {
      const QString saved = QDir::temp().filePath(QStringLiteral("tokvane-drawn-") + QString::fromLatin1(file.fileName));
      drawn.save(saved);
      ADD_FAILURE() << path.toStdString() << " differs from the window in " << differing
                    << " pixels (the window as drawn now: " << saved.toStdString()
                    << "). If the change is meant, redraw the pictures with: bash scripts/screenshot.sh";
    }
  }
}

}  // namespace
