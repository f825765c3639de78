#include "core/Translate.h"

#include <libintl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <clocale>
#include <cstdlib>

#include "BuildConfig.h"
#include "core/Conversions.h"

// glibc's message cache counter: raising it makes gettext look its catalogues up again after the
// language changed at run time.
extern "C" int _nl_msg_cat_cntr;

namespace tokvane {
namespace {

bool IsDirectory(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

std::string& DirectoryOverride() {
  static std::string directory;
  return directory;
}

std::string ExecutablePath() {
  char buffer[PATH_MAX];
  const ssize_t length = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (length <= 0) return {};
  return std::string(buffer, static_cast<std::size_t>(length));
}

void BindCatalogue() {
  const std::string directory = CatalogueDirectory();
  ::bindtextdomain(kTextDomain, directory.c_str());
  ::bind_textdomain_codeset(kTextDomain, "UTF-8");
  ::textdomain(kTextDomain);
}

}  // namespace

const char* Tr(const char* text) {
  if (text == nullptr || *text == '\0') return text;  // "" would fetch the catalogue's header
  return ::dgettext(kTextDomain, text);
}

std::wstring TrW(const char* text) {
  // The catalogue is bound as UTF-8; the controls take wide text.
  const char* translated = Tr(text);
  if (translated == nullptr) return {};
  std::wstring wide;
  const std::string_view bytes(translated);
  for (std::size_t i = 0; i < bytes.size();) {
    const auto lead = static_cast<unsigned char>(bytes[i]);
    const std::size_t length = lead < 0x80           ? 1
                               : (lead >> 5) == 0x6  ? 2
                               : (lead >> 4) == 0xE  ? 3
                               : (lead >> 3) == 0x1E ? 4
                                                     : 0;
    if (length == 0 || i + length > bytes.size()) {
      wide.push_back(kUndecodableCharacter);
      ++i;
      continue;
    }
    char32_t code = length == 1 ? lead : lead & (0x7F >> length);
    bool valid = true;
    for (std::size_t k = 1; k < length; ++k) {
      const auto next = static_cast<unsigned char>(bytes[i + k]);
      if ((next & 0xC0) != 0x80) valid = false;
      code = (code << 6) | (next & 0x3F);
    }
    if (!valid) {
      wide.push_back(kUndecodableCharacter);
      ++i;
      continue;
    }
    wide.push_back(static_cast<wchar_t>(code));
    i += length;
  }
  return wide;
}

std::string Substitute(std::string_view pattern, std::initializer_list<std::string_view> arguments) {
  std::string result;
  result.reserve(pattern.size());
  for (std::size_t i = 0; i < pattern.size(); ++i) {
    if (pattern[i] == '%' && i + 1 < pattern.size()) {
      const char next = pattern[i + 1];
      if (next == '%') {
        result.push_back('%');
        ++i;
        continue;
      }
      if (next >= '1' && next <= '9' && static_cast<std::size_t>(next - '1') < arguments.size()) {
        result.append(*(arguments.begin() + (next - '1')));
        ++i;
        continue;
      }
    }
    result.push_back(pattern[i]);
  }
  return result;
}

std::string CatalogueDirectoryFor(const std::string& executable) {
  const auto slash = executable.find_last_of('/');
  if (!executable.empty() && executable.front() == '/' && slash != std::string::npos) {
    std::string beside = executable.substr(0, slash) + "/locale";
    if (IsDirectory(beside)) return beside;
  }
  return std::string(build::kDataDir) + "/locale";
}

std::string CatalogueDirectory() {
  if (!DirectoryOverride().empty()) return DirectoryOverride();
  return CatalogueDirectoryFor(ExecutablePath());
}

void SetCatalogueDirectoryOverride(const std::string& directory) { DirectoryOverride() = directory; }

void InitTranslations() {
  std::setlocale(LC_ALL, "");
  BindCatalogue();
}

bool SwitchLanguage(const std::string& locale, const std::string& language) {
  if (language.empty()) {
    ::unsetenv("LANGUAGE");
  } else {
    ::setenv("LANGUAGE", language.c_str(), 1);
  }
  const bool known = std::setlocale(LC_ALL, locale.c_str()) != nullptr;
  BindCatalogue();
  ++_nl_msg_cat_cntr;
  return known;
}

}  // namespace tokvane
