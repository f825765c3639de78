#pragma once
// The operator's language: every operator-facing text goes through the "tokvane" gettext catalogue.
// English is the source text and what the C locale (or a language without a catalogue) shows.
//
// Marking: Tr("text") where the text is used at once; N_("text") in a static table, translated
// with Tr(entry) where it is shown. Placeholders are %1 .. %9 (see Substitute), so a translation
// may put them in any order.
#include <initializer_list>
#include <string>
#include <string_view>

// Marks a text for the catalogue without translating it (static tables).
#define N_(text) text

namespace tokvane {

// The text domain of every Tokvane program.
inline constexpr const char* kTextDomain = "tokvane";

// The translation of `text` in the current language, or `text` itself. Never null for a non-null
// `text`; the returned text lives as long as the program (or as `text`).
const char* Tr(const char* text);
// The same, as wide text for the window's controls and log.
std::wstring TrW(const char* text);

// Replaces %1 .. %9 in `pattern` by the matching argument; "%%" stands for one '%'. A placeholder
// without an argument, and every other '%', stay as they are.
std::string Substitute(std::string_view pattern, std::initializer_list<std::string_view> arguments);

// The folder holding <language>/LC_MESSAGES/tokvane.mo: "locale" beside the program when there is
// one (the build tree), else the installed data directory's.
std::string CatalogueDirectory();
// The folder the catalogue of `executable` is looked up in (empty `executable`: the data directory's).
std::string CatalogueDirectoryFor(const std::string& executable);
// Tests and tools running from elsewhere in the build tree name the folder themselves; empty: the
// folder of the rule above. Takes effect at the next InitTranslations or SwitchLanguage.
void SetCatalogueDirectoryOverride(const std::string& directory);

// Takes the language from the environment (LANGUAGE, LC_ALL, LC_MESSAGES, LANG) and binds the
// catalogue as UTF-8. Call once at start, before any text is shown.
void InitTranslations();

// Switches the running process to `locale` (e.g. "de_DE.UTF-8", "C") with the language list
// `language` (the LANGUAGE variable; empty: unset). Texts fetched afterwards come in the new
// language, so a window built afterwards is in it (its skin texts are translated as it loads);
// texts already shown stay as they are. False when the C library lacks that locale.
bool SwitchLanguage(const std::string& locale, const std::string& language);

}  // namespace tokvane
