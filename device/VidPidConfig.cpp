#include "device/VidPidConfig.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <tinyxml2.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>

#include "BuildConfig.h"

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

}  // namespace

VidPidEntry DefaultVidPidEntry() { return VidPidEntry::Make(tokvane::build::kMakerVendorId, 0); }

std::string VidPidConfigPath() {
  char buffer[PATH_MAX];
  const ssize_t length = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (length <= 0) return kVidPidConfigFileName;
  const std::string executable(buffer, static_cast<std::size_t>(length));
  const auto slash = executable.find_last_of('/');
  if (slash == std::string::npos) return kVidPidConfigFileName;
  return executable.substr(0, slash) + "/" + kVidPidConfigFileName;
}

bool ParseVidPidConfig(const char* text, std::size_t length, std::vector<VidPidEntry>& entries) {
  bool parsed = false;
  if (text != nullptr && length > 0 && length <= kMaxVidPidConfigBytes) {
    tinyxml2::XMLDocument document;
    parsed = document.Parse(text, length) == tinyxml2::XML_SUCCESS;
    const tinyxml2::XMLElement* root = parsed ? document.RootElement() : nullptr;
    for (const tinyxml2::XMLElement* child = root ? root->FirstChildElement() : nullptr; child != nullptr;
         child = child->NextSiblingElement()) {
      const char* vid = child->Attribute("VID");
      if (vid == nullptr || *vid == '\0') continue;
      const char* pid = child->Attribute("PID");
      const std::uint16_t pidValue = (pid == nullptr || *pid == '\0') ? 0 : ReadHex16(pid);
      entries.push_back(VidPidEntry::Make(ReadHex16(vid), pidValue));
    }
  }
  EnsureNotEmpty(entries);
  return parsed;
}

bool LoadVidPidConfig(const std::string& path, std::vector<VidPidEntry>& entries) {
  std::string content;
  if (!ReadSmallFile(path, content)) {
    EnsureNotEmpty(entries);
    return false;
  }
  return ParseVidPidConfig(content.data(), content.size(), entries);
}

bool LoadVidPidConfig(std::vector<VidPidEntry>& entries) { return LoadVidPidConfig(VidPidConfigPath(), entries); }
