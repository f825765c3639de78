#pragma once
// The operator's language in the window: the texts a skin file gives its controls, and texts the
// window code shows, come from the "tokvane" catalogue (core/Translate.h).
#include <QString>

class QWidget;

#include "core/Translate.h"

// The translation of `text` (UTF-8 English source) as a QString.
inline QString TrQ(const char* text) { return QString::fromUtf8(tokvane::Tr(text)); }

namespace skin {

// Translates the operator-facing texts (text, tool tip, accessible name, window title, placeholder,
// group title, combo box items) of `root` and every widget below it, as loaded from a skin file.
void TranslateSkinTexts(QWidget* root);

}  // namespace skin
