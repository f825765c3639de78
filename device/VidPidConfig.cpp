#include "device/VidPidConfig.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <tinyxml2.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <optional>
#include <string_view>

#include "BuildConfig.h"
#include "core/Translate.h"

namespace {

// Hex text as strtol reads it with base 16 (leading blanks, sign, 0x prefix, stop at the first
// non-digit), cut to the low 16 bits.
std::uint16_t ReadHex16(const char* text) {
  return static_cast<std::uint16_t>(static_cast<unsigned long>(std::strtol(text, nullptr, 16)) & 0xFFFF);
}

// Reads a regular file of at most kMaxVidPidConfigBytes. Special files (a FIFO, /dev/zero) and
// oversized files are refused rather than read.
bool ReadSmallFile(const std::string& path, std::string& content) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return false;
  struct stat info {};
  bool ok = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && static_cast<std::uintmax_t>(info.st_size) <= kMaxVidPidConfigBytes;
  if (ok) {
    content.assign(static_cast<std::size_t>(info.st_size), '\0');
    std::size_t done = 0;
    while (done < content.size()) {
      const ssize_t got = ::read(fd, content.data() + done, content.size() - done);
      if (got <= 0) break;
      done += static_cast<std::size_t>(got);
    }
    content.resize(done);
  }
  ::close(fd);
  return ok;
}

void EnsureNotEmpty(std::vector<VidPidEntry>& entries) {
  if (entries.empty()) entries.push_back(DefaultVidPidEntry());
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }

// A product ID: hex digits (an 0x prefix and surrounding blanks allowed), 0001 to FFFF. 0 would
// stand for every product of the vendor, so it is never read out of a typing slip.
std::optional<std::uint16_t> ReadProductId(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) text.remove_prefix(2);
  if (text.empty()) return std::nullopt;
  unsigned long value = 0;
  for (const char c : text) {
    int digit = -1;
    if (c >= '0' && c <= '9') digit = c - '0';
    if (c >= 'a' && c <= 'f') digit = c - 'a' + 10;
    if (c >= 'A' && c <= 'F') digit = c - 'A' + 10;
    if (digit < 0) return std::nullopt;
    value = value * 16 + static_cast<unsigned long>(digit);
    if (value > 0xFFFF) return std::nullopt;
  }
  if (value == 0) return std::nullopt;
  return static_cast<std::uint16_t>(value);
}

}  // namespace

VidPidEntry DefaultVidPidEntry() { return VidPidEntry::Make(tokvane::build::kMakerVendorId, 0); }

std::string VidPidConfigPathBeside(const std::string& executable) {
  // A relative or unknown place would make the current directory's file the configuration.
  const auto slash = executable.find_last_of('/');
  if (executable.empty() || executable.front() != '/' || slash == std::string::npos) return {};
  return executable.substr(0, slash) + "/" + kVidPidConfigFileName;
}

std::string VidPidConfigPath() {
  char buffer[PATH_MAX];
  const ssize_t length = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (length <= 0) return {};
  return VidPidConfigPathBeside(std::string(buffer, static_cast<std::size_t>(length)));
}

bool ParseVidPidConfig(const char* text, std::size_t length, std::vector<VidPidEntry>& entries, std::string* error,
                       std::string_view fileName) {
  if (error != nullptr) error->clear();
  bool parsed = false;
  std::vector<VidPidEntry> read;
  if (text != nullptr && length > 0 && length <= kMaxVidPidConfigBytes) {
    tinyxml2::XMLDocument document;
    parsed = document.Parse(text, length) == tinyxml2::XML_SUCCESS;
    const tinyxml2::XMLElement* root = parsed ? document.RootElement() : nullptr;
    for (const tinyxml2::XMLElement* child = root ? root->FirstChildElement() : nullptr; child != nullptr;
         child = child->NextSiblingElement()) {
      const char* vid = child->Attribute("VID");
      if (vid == nullptr || *vid == '\0') continue;
      const char* pid = child->Attribute("PID");
      std::uint16_t pidValue = 0;
      if (pid != nullptr && *pid != '\0') {
        const std::optional<std::uint16_t> product = ReadProductId(pid);
        if (!product) {
          // Read as 0 it would let in every product of the vendor: the file is not used.
          if (error != nullptr) {
            *error = tokvane::Substitute(tokvane::Tr("%1 line %2: PID '%3' is not a product ID from 0x0001 to 0xFFFF"),
                                         {fileName, std::to_string(child->GetLineNum()), pid});
          }
          parsed = false;
          read.clear();
          break;
        }
        pidValue = *product;
      }
      read.push_back(VidPidEntry::Make(ReadHex16(vid), pidValue));
    }
  }
  entries.insert(entries.end(), read.begin(), read.end());
  EnsureNotEmpty(entries);
  return parsed;
}

bool LoadVidPidConfig(const std::string& path, std::vector<VidPidEntry>& entries, std::string* error) {
  if (error != nullptr) error->clear();
  std::string content;
  if (path.empty() || !ReadSmallFile(path, content)) {
    EnsureNotEmpty(entries);
    return false;
  }
  return ParseVidPidConfig(content.data(), content.size(), entries, error, path);
}

bool LoadVidPidConfig(std::vector<VidPidEntry>& entries) { return LoadVidPidConfig(VidPidConfigPath(), entries); }
