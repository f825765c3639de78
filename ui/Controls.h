#pragma once
// Small operations every screen needs on a skin control, whatever its Qt kind: its name, the
// user data the skin gave it, its text, visibility and state.
#include <QColor>
#include <QString>
#include <cstdint>

class QWidget;

namespace controls {

// The name the skin gave the control ("" for none).
QString Name(const QWidget* control);
// The skin's dynamic property "userdata" as text ("" when absent).
QString UserData(const QWidget* control);
void SetUserData(QWidget* control, const QString& data);

// Text of labels, buttons, line and text edits and combo boxes (the current entry).
QString Text(const QWidget* control);
void SetText(QWidget* control, const QString& text);

// Each does nothing for a null control, so a control missing from a skin is simply skipped.
void SetVisible(QWidget* control, bool visible);
void SetEnabled(QWidget* control, bool enabled);
// Checkable buttons (options); false for anything else.
bool IsSelected(const QWidget* control);
void SetSelected(QWidget* control, bool selected);

// Skin colours are 0xAARRGGBB; an alpha of 0 means opaque, as in the skins.
QColor SkinColor(std::uint32_t argb);
void SetTextColor(QWidget* control, QColor color);
// Shows a picture from the skin folder on a label ("" clears it). False when the file cannot be read.
bool SetImage(QWidget* control, const QString& skinDirectory, const QString& fileName);

}  // namespace controls
