#include "app/OutputLog.h"

#include <QScrollBar>
#include <QTextCharFormat>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextEdit>
#include <limits>

QColor ColorRefToQColor(COLORREF color) {
  return QColor::fromRgb(static_cast<int>(color & 0xFF), static_cast<int>((color >> 8) & 0xFF),
                         static_cast<int>((color >> 16) & 0xFF));
}

QString LogEntryHeader(std::int32_t number) {
  return QStringLiteral("==============================command^%1===================================\n\n")
      .arg(number);
}

bool AppendColoredText(QTextEdit* control, const QString& text, COLORREF color) {
  if (control == nullptr) return false;

  const QFont font = control->font();
  QTextCharFormat format;
  format.setFont(font, QTextCharFormat::FontPropertiesAll);
  format.setFontWeight(font.weight() >= QFont::Bold ? QFont::Bold : QFont::Normal);
  format.setFontItalic(font.italic());
  format.setFontUnderline(font.underline());
  format.setForeground(ColorRefToQColor(color));

  QTextDocument* document = control->document();
  const bool undoWasOn = document->isUndoRedoEnabled();
  document->setUndoRedoEnabled(false);
  QTextCursor cursor(document);
  cursor.movePosition(QTextCursor::End);
  cursor.insertText(text, format);
  document->setUndoRedoEnabled(undoWasOn);
  return true;
}

bool AppendLogEntry(QTextEdit* control, std::int32_t& counter, const QString& text, COLORREF color) {
  if (control == nullptr) return false;
  AppendColoredText(control, LogEntryHeader(counter), log_color::kHeader);
  // The count wraps like the 32-bit counter it stands for, never into undefined behaviour.
  counter = counter == std::numeric_limits<std::int32_t>::max() ? std::numeric_limits<std::int32_t>::min()
                                                                : counter + 1;
  AppendColoredText(control, text, color);
  QScrollBar* bar = control->verticalScrollBar();
  bar->setValue(bar->maximum());
  return true;
}
