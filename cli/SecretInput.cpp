#include "cli/SecretInput.h"

#include <fcntl.h>
#include <openssl/crypto.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdint>
#include <cstring>

#include "core/FileDescriptor.h"
#include "core/Translate.h"

namespace cli {

using tokvane::Substitute;
using tokvane::Tr;

namespace {

// Turns terminal echo off for its lifetime, so a typed secret does not appear on the screen.
class EchoOff {
 public:
  explicit EchoOff(int fd) : fd_(fd) {
    if (tcgetattr(fd_, &saved_) != 0) return;
    termios quiet = saved_;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    active_ = tcsetattr(fd_, TCSAFLUSH, &quiet) == 0;
  }
  ~EchoOff() {
    if (active_) tcsetattr(fd_, TCSAFLUSH, &saved_);
  }
  EchoOff(const EchoOff&) = delete;
  EchoOff& operator=(const EchoOff&) = delete;

 private:
  int fd_;
  termios saved_{};
  bool active_ = false;
};

// Reads to the end, or to the first newline when `oneLine`; false on a read error or too much.
bool ReadFrom(int fd, bool oneLine, SecretBuffer& out, std::string& error) {
  std::array<std::uint8_t, 256> chunk{};
  bool ok = true;
  for (;;) {
    const std::size_t want = oneLine ? 1 : chunk.size();
    const ssize_t got = ::read(fd, chunk.data(), want);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      error = Substitute(Tr("cannot read the secret: %1"), {std::strerror(errno)});
      ok = false;
      break;
    }
    if (got == 0) break;
    if (oneLine && chunk[0] == '\n') break;
    if (out.Size() + static_cast<std::size_t>(got) > kMaxSecretInputBytes) {
      error = Substitute(Tr("the secret input is longer than %1 bytes"), {std::to_string(kMaxSecretInputBytes)});
      ok = false;
      break;
    }
    out.Append({chunk.data(), static_cast<std::size_t>(got)});
  }
  OPENSSL_cleanse(chunk.data(), chunk.size());
  if (!ok) out.Clear();
  return ok;
}

}  // namespace

bool ReadSecretText(const std::string& path, int stdinFd, std::ostream& prompt, SecretBuffer& out,
                    std::string& error) {
  out.Clear();
  if (path != "-") {
    FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (file.Get() < 0) {
      error = Substitute(Tr("cannot open the secret file %1: %2"), {path, std::strerror(errno)});
      return false;
    }
    return ReadFrom(file.Get(), false, out, error);
  }
  if (::isatty(stdinFd) == 1) {
    prompt << Tr("Secret (hex, base32 or otpauth://hotp URI): ") << std::flush;
    bool ok = false;
    {
      EchoOff quiet(stdinFd);
      ok = ReadFrom(stdinFd, true, out, error);
    }
    prompt << "\n" << std::flush;
    return ok;
  }
  return ReadFrom(stdinFd, false, out, error);
}

}  // namespace cli
