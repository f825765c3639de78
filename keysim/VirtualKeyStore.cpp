#include "keysim/VirtualKeyStore.h"

#include <fcntl.h>
#include <openssl/crypto.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <cstdlib>

namespace {

constexpr std::string_view kHeader = "tokvane-virtual-key-state 1";
constexpr std::string_view kNone = "-";

void Wipe(std::vector<std::uint8_t>& bytes) {
  if (!bytes.empty()) OPENSSL_cleanse(bytes.data(), bytes.size());
}

std::string ToHex(const std::vector<std::uint8_t>& bytes) {
  if (bytes.empty()) return std::string(kNone);
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text;
  text.reserve(bytes.size() * 2);
  for (std::uint8_t b : bytes) {
    text.push_back(kDigits[b >> 4]);
    text.push_back(kDigits[b & 0x0F]);
  }
  return text;
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
    if (secret) Wipe(*secret);
    return false;
  }
  if ((*digits != 6 && *digits != 8) || store.Find(*name) != nullptr) {
    Wipe(*secret);
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
    Wipe(secret);
    name = other.name;
    secret = other.secret;
    digits = other.digits;
    counter = other.counter;
  }
  return *this;
}

VirtualKeyCredential& VirtualKeyCredential::operator=(VirtualKeyCredential&& other) noexcept {
  if (this != &other) {
    Wipe(secret);
    name = std::move(other.name);
    secret = std::move(other.secret);
    digits = other.digits;
    counter = other.counter;
  }
  return *this;
}

VirtualKeyCredential::~VirtualKeyCredential() { Wipe(secret); }

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
  std::string text(kHeader);
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
    std::string secretHex = ToHex(credential.secret);
    text += "credential " + ToHex(credential.name) + numbers + secretHex + '\n';
    OPENSSL_cleanse(secretHex.data(), secretHex.size());
  }
  if (store.defaultName) text += "default " + ToHex(*store.defaultName) + '\n';
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
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ENOENT) return StateFileRead::Missing;
    error = ErrnoText("cannot open", path);
    return StateFileRead::Failed;
  }
  char buffer[4096];
  for (;;) {
    const ssize_t count = ::read(fd, buffer, sizeof buffer);
    if (count == 0) break;
    if (count < 0) {
      if (errno == EINTR) continue;
      error = ErrnoText("cannot read", path);
      ::close(fd);
      OPENSSL_cleanse(buffer, sizeof buffer);
      return StateFileRead::Failed;
    }
    content.append(buffer, static_cast<std::size_t>(count));
  }
  ::close(fd);
  OPENSSL_cleanse(buffer, sizeof buffer);
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
