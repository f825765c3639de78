#include "keysim/VpcdClient.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/crypto.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using Bytes = std::vector<std::uint8_t>;

// Control codes vpcd sends as one-byte payloads.
constexpr std::uint8_t kPowerOff = 0;
constexpr std::uint8_t kPowerOn = 1;
constexpr std::uint8_t kReset = 2;
constexpr std::uint8_t kGetAtr = 4;

constexpr std::size_t kLengthPrefix = 2;
constexpr std::size_t kLargestPayload = 0xFFFF;
// Once a message has begun, the rest of it (and any reply) must move within this time; a peer
// that stalls mid-message ends the session instead of holding the thread forever.
constexpr std::chrono::milliseconds kMessageLimit{5000};
constexpr std::chrono::milliseconds kConnectAttemptLimit{1000};
constexpr std::chrono::milliseconds kRetryPause{100};
// Sent for a card that gave no answer or one too long to frame: no precise diagnosis.
const Bytes kNoPreciseDiagnosis{0x6F, 0x00};

class UniqueFd {
 public:
  explicit UniqueFd(int fd = -1) : fd_(fd) {}
  ~UniqueFd() { Reset(); }
  UniqueFd(UniqueFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    if (this != &other) {
      Reset();
      fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
  }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;

  int Get() const { return fd_; }
  int Release() { return std::exchange(fd_, -1); }
  void Reset() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

 private:
  int fd_;
};

int MillisecondsUntil(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  return left.count() < 0 ? 0 : static_cast<int>(left.count());
}

enum class WaitResult { Ready, Stopped, TimedOut, Failed };

// Waits until `fd` shows `events` or the stop pipe becomes readable; timeoutMs < 0 waits
// until one of them happens.
WaitResult WaitFor(int fd, short events, int stopFd, int timeoutMs) {
  pollfd fds[2] = {{fd, events, 0}, {stopFd, POLLIN, 0}};
  for (;;) {
    const int ready = ::poll(fds, 2, timeoutMs);
    if (ready < 0 && errno == EINTR) continue;
    if (ready < 0) return WaitResult::Failed;
    if (ready == 0) return WaitResult::TimedOut;
    if (fds[1].revents != 0) return WaitResult::Stopped;
    return WaitResult::Ready;
  }
}

// Reads exactly `count` bytes before `deadline`; false on stop, timeout, error or end of stream.
bool ReadExact(int fd, int stopFd, std::uint8_t* out, std::size_t count, Clock::time_point deadline) {
  std::size_t done = 0;
  while (done < count) {
    if (WaitFor(fd, POLLIN, stopFd, MillisecondsUntil(deadline)) != WaitResult::Ready) return false;
    const ssize_t got = ::recv(fd, out + done, count - done, 0);
    if (got < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) continue;
    if (got <= 0) return false;
    done += static_cast<std::size_t>(got);
    // vpcd writes a length and its payload separately; acknowledging at once keeps its Nagle
    // wait from adding a delayed-ACK pause (about 40 ms) to every message. Linux clears the
    // flag again by itself, so it is set after every read.
    int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_QUICKACK, &on, sizeof(on));
  }
  return true;
}

bool WriteAll(int fd, int stopFd, const Bytes& bytes, Clock::time_point deadline) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    if (WaitFor(fd, POLLOUT, stopFd, MillisecondsUntil(deadline)) != WaitResult::Ready) return false;
    const ssize_t sent = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (sent < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) continue;
    if (sent <= 0) return false;
    done += static_cast<std::size_t>(sent);
  }
  return true;
}

Bytes Framed(const Bytes& payload) {
  Bytes message;
  message.reserve(kLengthPrefix + payload.size());
  message.push_back(static_cast<std::uint8_t>(payload.size() >> 8));
  message.push_back(static_cast<std::uint8_t>(payload.size() & 0xFF));
  message.insert(message.end(), payload.begin(), payload.end());
  return message;
}

// One attempt to connect to one address; the socket stays non-blocking.
UniqueFd TryConnect(const addrinfo& address, int stopFd, Clock::time_point deadline) {
  UniqueFd socket(::socket(address.ai_family, address.ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC,
                           address.ai_protocol));
  if (socket.Get() < 0) return UniqueFd();
  if (::connect(socket.Get(), address.ai_addr, address.ai_addrlen) != 0) {
    if (errno != EINPROGRESS) return UniqueFd();
    const auto attemptEnd = std::min(deadline, Clock::now() + kConnectAttemptLimit);
    if (WaitFor(socket.Get(), POLLOUT, stopFd, MillisecondsUntil(attemptEnd)) != WaitResult::Ready) {
      return UniqueFd();
    }
    int error = 0;
    socklen_t length = sizeof(error);
    if (::getsockopt(socket.Get(), SOL_SOCKET, SO_ERROR, &error, &length) != 0 || error != 0) {
      return UniqueFd();
    }
  }
  // Every APDU is one small message that waits for its answer: send it at once.
  int on = 1;
  ::setsockopt(socket.Get(), IPPROTO_TCP, TCP_NODELAY, &on, sizeof(on));
  return socket;
}

}  // namespace

class VpcdClient::StopSignal {
 public:
  StopSignal() {
    int fds[2] = {-1, -1};
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) == 0) {
      read_ = UniqueFd(fds[0]);
      write_ = UniqueFd(fds[1]);
    }
  }
  bool Valid() const { return read_.Get() >= 0; }
  int Fd() const { return read_.Get(); }
  void Raise() {
    const std::uint8_t byte = 1;
    [[maybe_unused]] const ssize_t ignored = ::write(write_.Get(), &byte, 1);
  }

 private:
  UniqueFd read_;
  UniqueFd write_;
};

VpcdClient::VpcdClient(std::shared_ptr<VirtualCard> card, std::string host, std::uint16_t port)
    : card_(std::move(card)), host_(std::move(host)), port_(port) {}

VpcdClient::~VpcdClient() { Stop(); }

bool VpcdClient::Start(std::chrono::milliseconds connectTimeout) {
  std::lock_guard lock(lifecycleMutex_);
  if (serving_) return true;
  if (worker_.joinable()) worker_.join();  // a session that ended by itself
  if (!card_) return false;

  stop_ = std::make_unique<StopSignal>();
  if (!stop_->Valid()) return false;
  const int socket = ConnectWithin(Clock::now() + connectTimeout);
  if (socket < 0) return false;
  serving_ = true;
  worker_ = std::thread(&VpcdClient::Serve, this, socket);
  return true;
}

void VpcdClient::Stop() {
  std::lock_guard lock(lifecycleMutex_);
  if (stop_) stop_->Raise();
  if (worker_.joinable()) worker_.join();
  stop_.reset();
  serving_ = false;
}

bool VpcdClient::IsRunning() const { return serving_; }

int VpcdClient::ConnectWithin(Clock::time_point deadline) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  const std::string service = std::to_string(port_);
  for (;;) {
    addrinfo* found = nullptr;
    if (::getaddrinfo(host_.c_str(), service.c_str(), &hints, &found) == 0) {
      std::unique_ptr<addrinfo, decltype(&::freeaddrinfo)> addresses(found, &::freeaddrinfo);
      for (const addrinfo* address = found; address != nullptr; address = address->ai_next) {
        UniqueFd socket = TryConnect(*address, stop_->Fd(), deadline);
        if (socket.Get() >= 0) return socket.Release();
      }
    }
    // vpcd listens only while pcscd runs with its driver: try again until the deadline.
    const int pause = std::min(MillisecondsUntil(deadline), static_cast<int>(kRetryPause.count()));
    if (pause <= 0) return -1;
    if (WaitFor(-1, 0, stop_->Fd(), pause) == WaitResult::Stopped) return -1;
  }
}

void VpcdClient::Serve(int socketFd) {
  const UniqueFd socket(socketFd);
  const int stopFd = stop_->Fd();
  const auto Reply = [&](const Bytes& payload) {
    return WriteAll(socket.Get(), stopFd, Framed(payload), Clock::now() + kMessageLimit);
  };

  try {
    for (;;) {
      // Between messages vpcd may stay quiet for as long as it likes; only Stop ends this wait.
      if (WaitFor(socket.Get(), POLLIN, stopFd, -1) != WaitResult::Ready) break;
      const auto deadline = Clock::now() + kMessageLimit;
      std::uint8_t prefix[kLengthPrefix];
      if (!ReadExact(socket.Get(), stopFd, prefix, kLengthPrefix, deadline)) break;
      const std::size_t length = (std::size_t{prefix[0]} << 8) | prefix[1];
      if (length == 0) break;  // no such message: the peer is not vpcd
      Bytes payload(length);
      if (!ReadExact(socket.Get(), stopFd, payload.data(), length, deadline)) break;

      if (length == 1) {
        const std::uint8_t code = payload[0];
        if (code == kPowerOff) {
          card_->PowerOff();
        } else if (code == kPowerOn) {
          card_->PowerOn();
        } else if (code == kReset) {
          card_->Reset();
        } else if (code == kGetAtr) {
          Bytes atr = card_->Atr();
          if (atr.size() > kLargestPayload) atr.resize(kLargestPayload);
          if (!Reply(atr)) break;
        } else {
          break;  // unknown control code
        }
        continue;
      }

      // Answers go out untouched, short ones too (transport tests need them); only what cannot
      // be framed, or no answer at all, becomes a status word.
      Bytes response = card_->ProcessApdu(payload);
      // A command may carry a key being written.
      OPENSSL_cleanse(payload.data(), payload.size());
      if (response.empty() || response.size() > kLargestPayload) response = kNoPreciseDiagnosis;
      if (!Reply(response)) break;
    }
  } catch (...) {
    // A card that throws ends the session like a card pulled out; nothing leaves the thread.
  }
  serving_ = false;
}
