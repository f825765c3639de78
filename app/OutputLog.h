#pragma once
// The output log: numbered, coloured entries appended to a read-only text control.
#include <QColor>
#include <QString>
#include <cstdint>

class QTextEdit;

// Log colours keep the Windows byte order 0x00BBGGRR the panels are written with.
using COLORREF = std::uint32_t;

namespace log_color {
inline constexpr COLORREF kBlue = 0xFF0000;    // commands, answers, successes
inline constexpr COLORREF kRed = 0x0000FF;     // failures
inline constexpr COLORREF kBlack = 0x000000;   // the reset message
inline constexpr COLORREF kHeader = 0x971387;  // every entry header (purple)
}  // namespace log_color

QColor ColorRefToQColor(COLORREF color);

// "==============================command^N===================================" and an empty line.
QString LogEntryHeader(std::int32_t number);

// Appends `text` at the end of `control` in `color`, in the control's own font, without an undo
// step. False when the control is null.
bool AppendColoredText(QTextEdit* control, const QString& text, COLORREF color);

// One numbered entry: the header with the current `counter` in purple, then `text` in `color`;
// the counter goes up by one and the control scrolls to its end. False (counter unchanged) when
// the control is null.
bool AppendLogEntry(QTextEdit* control, std::int32_t& counter, const QString& text, COLORREF color);
