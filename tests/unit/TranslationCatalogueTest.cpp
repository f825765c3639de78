// The shipped catalogues: each compiles cleanly, translates every text of the template, and keeps
// every placeholder of it; the run-time language switch and the placeholder filling they rely on.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include "BuildConfig.h"
#include "core/Translate.h"
#include "tests/integration/CliProcess.h"
#include "tests/unit/PoCatalogue.h"

namespace {

using tokvane::integration::RunProcess;

const std::string kPoDir = TOKVANE_PO_DIR;

std::vector<std::string> ShippedLanguages() {
  std::ifstream linguas(kPoDir + "/LINGUAS");
  std::vector<std::string> languages;
  for (std::string line; std::getline(linguas, line);) {
    if (!line.empty() && line.front() != '#') languages.push_back(line);
  }
  return languages;
}

// The placeholders of a text, sorted: %1 .. %9 and C conversions such as %s, %d or %02X.
std::vector<std::string> Placeholders(const std::string& text) {
  static const std::regex placeholder(R"(%(?:[1-9]|[-+ #0]*[0-9]*(?:\.[0-9]+)?(?:hh|h|ll|l|z)?[diouxXsc]))");
  std::vector<std::string> found;
  for (auto it = std::sregex_iterator(text.begin(), text.end(), placeholder); it != std::sregex_iterator(); ++it) {
    found.push_back(it->str());
  }
  std::sort(found.begin(), found.end());
  return found;
}

TEST(TranslationCatalogue, TheShippedLanguagesAreGermanAndSimplifiedChinese) {
  EXPECT_EQ(ShippedLanguages(), (std::vector<std::string>{"de", "zh_CN"}));
}

TEST(TranslationCatalogue, EveryCatalogueCompilesWithoutUntranslatedOrFuzzyEntries) {
  for (const std::string& language : ShippedLanguages()) {
    const auto result =
        RunProcess(TOKVANE_MSGFMT, {"--check", "--statistics", "-o", "/dev/null", kPoDir + "/" + language + ".po"});
    EXPECT_EQ(result.exitCode, 0) << language << ": " << result.err;
    EXPECT_NE(result.err.find("translated message"), std::string::npos) << language << ": " << result.err;
    EXPECT_EQ(result.err.find("untranslated"), std::string::npos) << language << ": " << result.err;
    EXPECT_EQ(result.err.find("fuzzy"), std::string::npos) << language << ": " << result.err;
  }
}

TEST(TranslationCatalogue, EveryCatalogueTranslatesEveryTextOfTheTemplateWithItsPlaceholders) {
  const auto templateMessages = po_catalogue::Read(kPoDir + "/tokvane.pot");
  ASSERT_GT(templateMessages.size(), 100u) << "the template is read";
  for (const std::string& language : ShippedLanguages()) {
    std::map<std::string, po_catalogue::Message> catalogue;
    for (auto& message : po_catalogue::Read(kPoDir + "/" + language + ".po")) catalogue[message.id] = message;
    for (const auto& source : templateMessages) {
      const auto found = catalogue.find(source.id);
      ASSERT_NE(found, catalogue.end()) << language << " lacks: " << source.id;
      EXPECT_FALSE(found->second.text.empty()) << language << " leaves untranslated: " << source.id;
      EXPECT_FALSE(found->second.fuzzy) << language << " marks fuzzy: " << source.id;
      EXPECT_EQ(Placeholders(found->second.text), Placeholders(source.id)) << language << ": " << source.id;
    }
  }
}

TEST(TranslationCatalogue, TheTemplateHoldsTheTextsOfTheSourcesAndTheSkins) {
  const auto messages = po_catalogue::Read(kPoDir + "/tokvane.pot");
  std::vector<std::string> ids;
  for (const auto& message : messages) ids.push_back(message.id);
  // One text of each layer that marks them: a skin's control, the window's code, the CLI, the
  // OATH actions and a transport.
  for (const char* text : {"&List credentials", "Please connect device first", "no subcommand given",
                           "List ins successfully.\n\n", "The HID interface is not open."}) {
    EXPECT_NE(std::find(ids.begin(), ids.end(), text), ids.end()) << text;
  }
}

// Restores the C locale whatever a test switched to.
class LanguageSwitch : public ::testing::Test {
 protected:
  void SetUp() override { tokvane::SetCatalogueDirectoryOverride(TOKVANE_LOCALE_DIR); }
  void TearDown() override {
    tokvane::SwitchLanguage("C", "");
    tokvane::SetCatalogueDirectoryOverride("");
  }
};

TEST_F(LanguageSwitch, TextsFetchedAfterASwitchComeInTheNewLanguage) {
  struct Row {
    const char* locale;
    const char* language;
    const char* expected;
  };
  for (const Row& row : {Row{"de_DE.UTF-8", "de", "Warnung"}, Row{"zh_CN.UTF-8", "", "警告"},
                         Row{"C", "de", "Warning"}, Row{"de_DE.UTF-8", "", "Warnung"}}) {
    ASSERT_TRUE(tokvane::SwitchLanguage(row.locale, row.language))
        << row.locale << " is missing: scripts/make-test-locales.sh generates it";
    EXPECT_STREQ(tokvane::Tr("Warning"), row.expected) << row.locale << " / LANGUAGE=" << row.language;
    EXPECT_EQ(tokvane::TrW("Warning"), tokvane::TrW(row.expected)) << row.locale;
  }
}

TEST_F(LanguageSwitch, ATextWithoutTranslationAndTheEmptyTextStayAsTheyAre) {
  ASSERT_TRUE(tokvane::SwitchLanguage("de_DE.UTF-8", "de"));
  EXPECT_STREQ(tokvane::Tr("no such text in any catalogue"), "no such text in any catalogue");
  EXPECT_STREQ(tokvane::Tr(""), "");
  EXPECT_EQ(tokvane::Tr(nullptr), nullptr);
}

TEST(TranslationText, WideTextDecodesTheCatalogueUtf8) {
  // In the C locale the catalogue is not used: the source comes back, decoded from UTF-8 as a
  // translation would be.
  EXPECT_EQ(tokvane::TrW("Waiting for the key\u2026"), std::wstring(L"Waiting for the key\u2026"));
  EXPECT_EQ(tokvane::TrW("\xE5\xAF\x86\xE9\x92\xA5 \xF0\x9F\x94\x91"), std::wstring(L"\u5BC6\u94A5 \U0001F511"));
  EXPECT_EQ(tokvane::TrW("a\xFF" "b"), std::wstring(L"a\uFFFD" "b")) << "a byte no UTF-8 text has";
  EXPECT_EQ(tokvane::TrW("cut \xE5\xAF"), std::wstring(L"cut \uFFFD\uFFFD")) << "a character cut short";
}

TEST(TranslationText, SubstituteFillsNumberedPlaceholdersInAnyOrder) {
  struct Row {
    const char* pattern;
    const char* expected;
  };
  // Always with the arguments "A" and "B".
  const Row rows[] = {
      {"cannot connect to %1", "cannot connect to A"},
      {"%2 an %1", "B an A"},
      {"%1 and %1", "A and A"},
      {"100%% of %1", "100% of A"},
      {"bad %-escape, %3 left", "bad %-escape, %3 left"},
      {"ends with %", "ends with %"},
  };
  for (const Row& row : rows) EXPECT_EQ(tokvane::Substitute(row.pattern, {"A", "B"}), row.expected) << row.pattern;
  EXPECT_EQ(tokvane::Substitute("%1 %2", {"%2", "x"}), "%2 x") << "an argument is not read as a pattern";
}

TEST(TranslationText, TheCatalogueIsLookedUpBesideTheProgramFirst) {
  const auto folder = std::filesystem::temp_directory_path() / "tokvane-catalogue-test";
  std::filesystem::create_directories(folder / "locale");
  EXPECT_EQ(tokvane::CatalogueDirectoryFor((folder / "program").string()), (folder / "locale").string());
  const std::string installed = std::string(tokvane::build::kDataDir) + "/locale";
  EXPECT_EQ(tokvane::CatalogueDirectoryFor("/nonexistent/dir/program"), installed);
  EXPECT_EQ(tokvane::CatalogueDirectoryFor("program"), installed)
      << "a relative path would make the current directory's catalogue the program's";
  std::filesystem::remove_all(folder);
}

}  // namespace
