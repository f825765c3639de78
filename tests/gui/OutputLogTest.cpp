// The output log: exact header text, numbering that survives clearing, colours per entry.
#include <QTextEdit>
#include <gtest/gtest.h>

#include "GuiTestSupport.h"
#include "app/OutputLog.h"

using namespace guitest;

namespace {

QString ExpectedHeader(int number) {
  return QString(30, QLatin1Char('=')) + QStringLiteral("command^%1").arg(number) + QString(35, QLatin1Char('=')) +
         QStringLiteral("\n\n");
}

TEST(OutputLog, HeaderHasThirtyAndThirtyFiveEqualsSignsAndAnEmptyLine) {
  for (int number : {0, 7, 123456, -5}) {
    EXPECT_EQ(LogEntryHeader(number), ExpectedHeader(number)) << number;
  }
}

TEST(OutputLog, WindowsColourValuesBecomeTheColoursTheyName) {
  struct Case {
    COLORREF value;
    QColor expected;
  } cases[] = {
      {log_color::kBlue, QColor(0, 0, 255)},
      {log_color::kRed, QColor(255, 0, 0)},
      {log_color::kBlack, QColor(0, 0, 0)},
      {log_color::kHeader, QColor(0x87, 0x13, 0x97)},
      {0x00123456, QColor(0x56, 0x34, 0x12)},
  };
  for (const Case& c : cases) EXPECT_EQ(ColorRefToQColor(c.value), c.expected) << std::hex << c.value;
}

TEST(OutputLog, EachEntryIsNumberedAndColouredInOrder) {
  QTextEdit log;
  std::int32_t counter = 0;
  ASSERT_TRUE(AppendLogEntry(&log, counter, QStringLiteral("00 A4 04 00\n"), log_color::kBlue));
  ASSERT_TRUE(AppendLogEntry(&log, counter, QStringLiteral("Select ins error.\n"), log_color::kRed));
  ASSERT_TRUE(AppendLogEntry(&log, counter, QStringLiteral("Reset successful.\n"), log_color::kBlack));
  EXPECT_EQ(counter, 3);

  EXPECT_EQ(log.toPlainText(), ExpectedHeader(0) + "00 A4 04 00\n" + ExpectedHeader(1) + "Select ins error.\n" +
                                   ExpectedHeader(2) + "Reset successful.\n");
  bool purple = false;
  const std::vector<LogEntry> entries = LogEntries(log, &purple);
  EXPECT_TRUE(purple);
  EXPECT_EQ(entries, (std::vector<LogEntry>{{0, "00 A4 04 00\n", kLogBlue},
                                           {1, "Select ins error.\n", kLogRed},
                                           {2, "Reset successful.\n", QColor(0, 0, 0)}}));
}

// The numbering going on after a clear is the window's test (its log control is cleared).
TEST(OutputLog, EmptyTextStillMakesANumberedEntryAndTheCounterWrapsInsteadOfOverflowing) {
  QTextEdit log;
  std::int32_t counter = std::numeric_limits<std::int32_t>::max();
  EXPECT_TRUE(AppendLogEntry(&log, counter, QString(), log_color::kBlue));
  EXPECT_EQ(counter, std::numeric_limits<std::int32_t>::min());
  EXPECT_EQ(log.toPlainText(), ExpectedHeader(std::numeric_limits<std::int32_t>::max()));
  EXPECT_FALSE(log.document()->isUndoAvailable()) << "appending leaves nothing to undo";
}

TEST(OutputLog, WithoutAControlNothingIsWrittenAndTheCountStays) {
  std::int32_t counter = 9;
  EXPECT_FALSE(AppendLogEntry(nullptr, counter, QStringLiteral("x\n"), log_color::kBlue));
  EXPECT_EQ(counter, 9);
  EXPECT_FALSE(AppendColoredText(nullptr, QStringLiteral("x"), log_color::kBlue));
}

TEST(OutputLog, TextTakesTheControlsOwnFont) {
  struct Case {
    int weight;
    bool italic;
    bool underline;
    bool expectBold;
  } cases[] = {
      {QFont::Normal, false, false, false},
      {QFont::Bold, false, false, true},
      {QFont::Black, true, true, true},
      {QFont::DemiBold, false, true, false},
  };
  for (const Case& c : cases) {
    QTextEdit log;
    QFont font(QStringLiteral("DejaVu Sans Mono"), 11);
    font.setWeight(static_cast<QFont::Weight>(c.weight));
    font.setItalic(c.italic);
    font.setUnderline(c.underline);
    log.setFont(font);
    AppendColoredText(&log, QStringLiteral("text"), log_color::kBlue);
    QTextCursor cursor(log.document());
    cursor.setPosition(2);
    const QTextCharFormat format = cursor.charFormat();
    EXPECT_EQ(format.fontWeight() >= QFont::Bold, c.expectBold) << c.weight;
    EXPECT_EQ(format.fontItalic(), c.italic) << c.weight;
    EXPECT_EQ(format.fontUnderline(), c.underline) << c.weight;
    EXPECT_EQ(format.font().pointSize(), 11);
  }
}

}  // namespace
