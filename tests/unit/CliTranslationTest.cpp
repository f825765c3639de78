// The built tokvane-cli speaks the language of its locale: --help and an error message come from
// the catalogue under a German or Chinese locale, and stay English in the C locale.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "tests/integration/CliProcess.h"
#include "tests/unit/PoCatalogue.h"

namespace {

using tokvane::integration::RunProcess;

struct Locale {
  const char* name;
  std::vector<std::string> environment;
  const char* catalogue;  // nullptr: English, the source texts
};

const Locale kLocales[] = {
    {"German", {"LANGUAGE=de", "LC_ALL=de_DE.UTF-8"}, "de"},
    {"Chinese", {"LANGUAGE=", "LC_ALL=zh_CN.UTF-8"}, "zh_CN"},
    {"C with LANGUAGE=de", {"LANGUAGE=de", "LC_ALL=C"}, nullptr},
};

// The texts of a catalogue by their English source; for no catalogue, every text stands for itself.
class Texts {
 public:
  explicit Texts(const char* catalogue) {
    if (catalogue == nullptr) return;
    for (const auto& message : po_catalogue::Read(std::string(TOKVANE_PO_DIR) + "/" + catalogue + ".po")) {
      texts_[message.id] = message.text;
    }
  }
  std::string operator()(const std::string& source) const {
    const auto found = texts_.find(source);
    return found == texts_.end() ? source : found->second;
  }
  // The messages whose source text is part of `english`, each with its translation.
  std::map<std::string, std::string> PartsOf(const std::string& english) const {
    std::map<std::string, std::string> parts;
    for (const auto& [source, text] : texts_) {
      if (source.size() > 40 && english.find(source) != std::string::npos) parts[source] = text;
    }
    return parts;
  }

 private:
  std::map<std::string, std::string> texts_;
};

TEST(CliTranslation, HelpAndAnErrorComeInTheLanguageOfTheLocale) {
  const auto english = RunProcess(TOKVANE_CLI_BINARY, {"--help"}, {}, std::chrono::seconds(30), {"LC_ALL=C"});
  ASSERT_EQ(english.exitCode, 0) << english.err;
  const std::map<std::string, std::string> helpParts = Texts("de").PartsOf(english.out);
  ASSERT_EQ(helpParts.size(), 3u) << "the help is the usage, the options and the exit status";

  for (const Locale& locale : kLocales) {
    SCOPED_TRACE(locale.name);
    const Texts tr(locale.catalogue);
    const auto help = RunProcess(TOKVANE_CLI_BINARY, {"--help"}, {}, std::chrono::seconds(30), locale.environment);
    EXPECT_EQ(help.exitCode, 0) << help.err;
    for (const auto& part : helpParts) {
      const std::string expected = tr(part.first);
      EXPECT_NE(help.out.find(expected), std::string::npos) << "missing:\n" << expected << "\nin:\n" << help.out;
    }
    if (locale.catalogue == nullptr) {
      EXPECT_EQ(help.out, english.out);
    }

    const auto error = RunProcess(TOKVANE_CLI_BINARY, {}, {}, std::chrono::seconds(30), locale.environment);
    EXPECT_EQ(error.exitCode, 2);
    EXPECT_EQ(error.err, "tokvane-cli: " + tr("no subcommand given") + "\n" + tr("Try 'tokvane-cli --help'.") + "\n");
  }
}

}  // namespace
