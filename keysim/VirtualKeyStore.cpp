#include "keysim/VirtualKeyStore.h"

#include <fcntl.h>
#include <openssl/crypto.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <cstdlib>

#include "core/Conversions.h"
#include "core/FileDescriptor.h"
#include "core/SecureBytes.h"

namespace {

constexpr std::string_view kHeader = "tokvane-virtual-key-state 1";
constexpr std::string_view kNone = "-";

// Appends the bytes as lower-case hex, or "-" for none, into room the caller has reserved.
void AppendHex(std::string& text, const std::vector<std::uint8_t>& bytes) {
  if (bytes.empty()) {
    text += kNone;
    return;
  }
  ::AppendHex(text, bytes, HexLetters::Lower, HexPairs::Unspaced);
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::optional<std::vector<std::uint8_t>> FromHex(std::string_view text) {
  if (text == kNone) return std::vector<std::uint8_t>{};
  if (text.empty() || text.size() % 2 != 0) return std::nullopt;
  std::vector<std::uint8_t> bytes;
  bytes.reserve(text.size() / 2);
  for (std::size_t i = 0; i < text.size(); i += 2) {
    const int high = HexDigit(text[i]);
    const int low = HexDigit(text[i + 1]);
    if (high < 0 || low < 0) return std::nullopt;
    bytes.push_back(static_cast<std::uint8_t>(high << 4 | low));
  }
  return bytes;
}

std::optional<std::uint64_t> NumberFromHex(std::string_view text, std::size_t maxDigits) {
  if (text.empty() || text.size() > maxDigits) return std::nullopt;
  std::uint64_t value = 0;
  for (char c : text) {
    const int digit = HexDigit(c);
    if (digit < 0) return std::nullopt;
    value = value << 4 | static_cast<std::uint64_t>(digit);
  }
  return value;
}

std::vector<std::string_view> Fields(std::string_view line) {
  std::vector<std::string_view> fields;
  std::size_t start = 0;
  while (start <= line.size()) {
    const std::size_t end = std::min(line.find(' ', start), line.size());
    fields.push_back(line.substr(start, end - start));
    start = end + 1;
  }
  return fields;
}

bool ParseCredentialLine(const std::vector<std::string_view>& fields, VirtualKeyStore& store) {
  if (fields.size() != 5) return false;
  auto name = FromHex(fields[1]);
  auto digits = NumberFromHex(fields[2], 2);
  auto counter = NumberFromHex(fields[3], 16);
  auto secret = FromHex(fields[4]);
  if (!name || name->empty() || !digits || !counter || !secret) {
    if (secret) WipeBytes(*secret);
    return false;
  }
  if ((*digits != 6 && *digits != 8) || store.Find(*name) != nullptr) {
    WipeBytes(*secret);
    return false;
  }
  VirtualKeyCredential credential;
  credential.name = std::move(*name);
  credential.secret = std::move(*secret);
  credential.digits = static_cast<std::uint8_t>(*digits);
  credential.counter = *counter;
  store.credentials.push_back(std::move(credential));
  return true;
}

std::string ErrnoText(const char* what, const std::string& path) {
  return std::string(what) + " " + path + ": " + std::strerror(errno);
}

}  // namespace

VirtualKeyCredential& VirtualKeyCredential::operator=(const VirtualKeyCredential& other) {
  if (this != &other) {
    WipeBytes(secret);
    name = other.name;
    secret = other.secret;
    digits = other.digits;
    counter = other.counter;
  }
  return *this;
}

VirtualKeyCredential& VirtualKeyCredential::operator=(VirtualKeyCredential&& other) noexcept {
  if (this != &other) {
    WipeBytes(secret);
    name = std::move(other.name);
    secret = std::move(other.secret);
    digits = other.digits;
    counter = other.counter;
  }
  return *this;
}

VirtualKeyCredential::~VirtualKeyCredential() { WipeBytes(secret); }

VirtualKeyCredential* VirtualKeyStore::Find(const std::vector<std::uint8_t>& name) {
  auto it = std::find_if(credentials.begin(), credentials.end(),
                         [&](const VirtualKeyCredential& c) { return c.name == name; });
  return it == credentials.end() ? nullptr : &*it;
}

const VirtualKeyCredential* VirtualKeyStore::Find(const std::vector<std::uint8_t>& name) const {
  return const_cast<VirtualKeyStore*>(this)->Find(name);
}

bool VirtualKeyStore::Remove(const std::vector<std::uint8_t>& name) {
  auto it = std::find_if(credentials.begin(), credentials.end(),
                         [&](const VirtualKeyCredential& c) { return c.name == name; });
  if (it == credentials.end()) return false;
  credentials.erase(it);
  if (defaultName && *defaultName == name) defaultName.reset();
  return true;
}

std::string SerializeVirtualKeyStore(const VirtualKeyStore& store) {
  // Room for every line up front: a text that grew would leave the secrets written so far behind
  // in the blocks it gave up.
  constexpr std::size_t kLineOverhead = 64;  // keyword, digits, counter, separators
  std::size_t size = kHeader.size() + kLineOverhead;
  for (const auto& credential : store.credentials) {
    size += kLineOverhead + 2 * (credential.name.size() + credential.secret.size());
  }
  if (store.defaultName) size += kLineOverhead + 2 * store.defaultName->size();
  std::string text;
  text.reserve(size);

  text += kHeader;
  text += '\n';
  char mode[8];
  std::snprintf(mode, sizeof mode, "%02x", store.interfaceMode);
  text += "mode ";
  text += mode;
  text += '\n';
  for (const auto& credential : store.credentials) {
    char numbers[32];
    std::snprintf(numbers, sizeof numbers, " %02x %016llx ", credential.digits,
                  static_cast<unsigned long long>(credential.counter));
    text += "credential ";
    AppendHex(text, credential.name);
    text += numbers;
    AppendHex(text, credential.secret);
    text += '\n';
  }
  if (store.defaultName) {
    text += "default ";
    AppendHex(text, *store.defaultName);
    text += '\n';
  }
  return text;
}

std::optional<VirtualKeyStore> ParseVirtualKeyStore(std::string_view text) {
  VirtualKeyStore store;
  bool sawHeader = false;
  bool sawMode = false;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) return std::nullopt;  // a cut-off last line
    const std::string_view line = text.substr(start, end - start);
    start = end + 1;
    if (!sawHeader) {
      if (line != kHeader) return std::nullopt;
      sawHeader = true;
      continue;
    }
    const auto fields = Fields(line);
    if (fields[0] == "mode" && fields.size() == 2 && !sawMode) {
      const auto mode = NumberFromHex(fields[1], 2);
      if (!mode) return std::nullopt;
      store.interfaceMode = static_cast<std::uint8_t>(*mode);
      sawMode = true;
    } else if (fields[0] == "credential") {
      if (!ParseCredentialLine(fields, store)) return std::nullopt;
    } else if (fields[0] == "default" && fields.size() == 2 && !store.defaultName) {
      auto name = FromHex(fields[1]);
      if (!name || name->empty()) return std::nullopt;
      store.defaultName = std::move(*name);
    } else {
      return std::nullopt;
    }
  }
  if (!sawHeader || !sawMode) return std::nullopt;
  if (store.defaultName && store.Find(*store.defaultName) == nullptr) return std::nullopt;
  return store;
}

StateFileRead ReadStateFile(const std::string& path, std::string& content, std::string& error) {
  content.clear();
  // Not through a symbolic link, and without waiting for a writer should the name be a FIFO.
  FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY));
  if (file.Get() < 0) {
    if (errno == ENOENT) return StateFileRead::Missing;
    error = errno == ELOOP ? path + " is a symbolic link; give the state file's own name"
                           : ErrnoText("cannot open", path);
    return StateFileRead::Failed;
  }
  struct stat info {};
  if (::fstat(file.Get(), &info) != 0) {
    error = ErrnoText("cannot examine", path);
    return StateFileRead::Failed;
  }
  if (!S_ISREG(info.st_mode)) {
    error = path + " is not a regular file";
    return StateFileRead::Failed;
  }
  if (info.st_uid != ::geteuid()) {
    error = path + " belongs to another user";
    return StateFileRead::Failed;
  }
  if (info.st_size < 0 || static_cast<std::uintmax_t>(info.st_size) > kMaxStateFileSize) {
    error = path + " is larger than " + std::to_string(kMaxStateFileSize) + " bytes, more than any key state";
    return StateFileRead::Failed;
  }

  // Read into room that never grows (it holds secrets), one byte more than allowed, so that a file
  // that grew since it was examined is still caught.
  content.resize(kMaxStateFileSize + 1);
  std::size_t total = 0;
  while (total < content.size()) {
    const ssize_t count = ::read(file.Get(), content.data() + total, content.size() - total);
    if (count == 0) break;
    if (count < 0) {
      if (errno == EINTR) continue;
      error = ErrnoText("cannot read", path);
      OPENSSL_cleanse(content.data(), content.size());
      content.clear();
      return StateFileRead::Failed;
    }
    total += static_cast<std::size_t>(count);
  }
  if (total > kMaxStateFileSize) {
    OPENSSL_cleanse(content.data(), content.size());
    content.clear();
    error = path + " is larger than " + std::to_string(kMaxStateFileSize) + " bytes, more than any key state";
    return StateFileRead::Failed;
  }
  content.resize(total);
  return StateFileRead::Loaded;
}

bool WriteStateFileAtomically(const std::string& path, std::string_view content, std::string& error) {
  std::string temporary = path + ".tmp-XXXXXX";
  const int fd = ::mkstemp(temporary.data());  // creates the file with mode 0600
  if (fd < 0) {
    error = ErrnoText("cannot create a temporary file for", path);
    return false;
  }
  std::size_t written = 0;
  bool ok = true;
  while (ok && written < content.size()) {
    const ssize_t count = ::write(fd, content.data() + written, content.size() - written);
    if (count < 0 && errno == EINTR) continue;
    if (count <= 0) {
      error = ErrnoText("cannot write", temporary);
      ok = false;
    } else {
      written += static_cast<std::size_t>(count);
    }
  }
  if (ok && ::fsync(fd) != 0) {
    error = ErrnoText("cannot flush", temporary);
    ok = false;
  }
  if (::close(fd) != 0 && ok) {
    error = ErrnoText("cannot close", temporary);
    ok = false;
  }
  if (ok && ::rename(temporary.c_str(), path.c_str()) != 0) {
    error = ErrnoText("cannot replace", path);
    ok = false;
  }
  if (!ok) ::unlink(temporary.c_str());
  return ok;
}
