// The vpcd client against a scripted vpcd: a local TCP listener playing the reader's side of the
// length-prefixed protocol, and a card that records what the client asked of it.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "keysim/VpcdClient.h"
#include "tests/support/WaitUntil.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

class RecordingCard : public VirtualCard {
 public:
  Bytes Atr() override {
    Note("atr");
    return {0x3B, 0x02, 0x14, 0x50};
  }
  void PowerOn() override { Note("on"); }
  void PowerOff() override { Note("off"); }
  void Reset() override { Note("reset"); }
  Bytes ProcessApdu(const Bytes& command) override {
    Note("apdu");
    if (throws) throw std::runtime_error("card failure");
    return answer.has_value() ? *answer : Concat(command, {0x90, 0x00});
  }
  std::vector<std::string> Events() {
    std::lock_guard lock(mutex_);
    return events_;
  }

  std::optional<Bytes> answer;  // set before the client starts
  bool throws = false;

 private:
  static Bytes Concat(Bytes left, const Bytes& right) {
    left.insert(left.end(), right.begin(), right.end());
    return left;
  }
  void Note(const char* event) {
    std::lock_guard lock(mutex_);
    events_.emplace_back(event);
  }
  std::mutex mutex_;
  std::vector<std::string> events_;
};

class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  ~Fd() { Close(); }
  Fd(Fd&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
  Fd& operator=(Fd&& other) noexcept {
    std::swap(fd_, other.fd_);
    return *this;
  }
  int Get() const { return fd_; }
  void Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

 private:
  int fd_;
};

// The reader's side of the protocol on 127.0.0.1 and a free port.
class FakeVpcd {
 public:
  FakeVpcd() : listener_(::socket(AF_INET, SOCK_STREAM, 0)) {
    int on = 1;
    ::setsockopt(listener_.Get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof(address);
    if (::bind(listener_.Get(), reinterpret_cast<sockaddr*>(&address), length) == 0 &&
        ::listen(listener_.Get(), 4) == 0 &&
        ::getsockname(listener_.Get(), reinterpret_cast<sockaddr*>(&address), &length) == 0) {
      port_ = ntohs(address.sin_port);
    }
  }
  std::uint16_t Port() const { return port_; }

  bool Accept(std::chrono::milliseconds limit = 2s) {
    pollfd fds{listener_.Get(), POLLIN, 0};
    if (::poll(&fds, 1, static_cast<int>(limit.count())) != 1) return false;
    peer_ = Fd(::accept(listener_.Get(), nullptr, nullptr));
    return peer_.Get() >= 0;
  }
  void SendRaw(const Bytes& bytes) { ASSERT_EQ(::send(peer_.Get(), bytes.data(), bytes.size(), MSG_NOSIGNAL), static_cast<ssize_t>(bytes.size())); }
  void Send(const Bytes& payload) {
    Bytes message{static_cast<std::uint8_t>(payload.size() >> 8), static_cast<std::uint8_t>(payload.size())};
    message.insert(message.end(), payload.begin(), payload.end());
    SendRaw(message);
  }
  // The next framed message, or nothing when none arrives within the limit or the peer closed.
  std::optional<Bytes> Receive(std::chrono::milliseconds limit = 2s) {
    Bytes prefix(2);
    if (!ReadExact(prefix, limit)) return std::nullopt;
    Bytes payload((std::size_t{prefix[0]} << 8) | prefix[1]);
    if (!ReadExact(payload, limit)) return std::nullopt;
    return payload;
  }
  // True when the client closed its end within the limit.
  bool PeerClosed(std::chrono::milliseconds limit = 2s) {
    pollfd fds{peer_.Get(), POLLIN, 0};
    if (::poll(&fds, 1, static_cast<int>(limit.count())) != 1) return false;
    std::uint8_t byte = 0;
    // An orderly close, or a reset when the client closed with bytes of ours still unread.
    const ssize_t got = ::recv(peer_.Get(), &byte, 1, 0);
    return got == 0 || (got < 0 && errno == ECONNRESET);
  }
  void ClosePeer() { peer_.Close(); }

 private:
  bool ReadExact(Bytes& out, std::chrono::milliseconds limit) {
    std::size_t done = 0;
    while (done < out.size()) {
      pollfd fds{peer_.Get(), POLLIN, 0};
      if (::poll(&fds, 1, static_cast<int>(limit.count())) != 1) return false;
      const ssize_t got = ::recv(peer_.Get(), out.data() + done, out.size() - done, 0);
      if (got <= 0) return false;
      done += static_cast<std::size_t>(got);
    }
    return true;
  }

  Fd listener_;
  Fd peer_;
  std::uint16_t port_ = 0;
};

bool BecomesFalse(const VpcdClient& client) {
  return test_wait::WaitUntil([&] { return !client.IsRunning(); });
}

TEST(VpcdClient, AnswersGetAtrAndApdusAndSilentlyObeysPowerCodes) {
  FakeVpcd vpcd;
  auto card = std::make_shared<RecordingCard>();
  VpcdClient client(card, "127.0.0.1", vpcd.Port());
  ASSERT_TRUE(client.Start(2s));
  ASSERT_TRUE(vpcd.Accept());
  EXPECT_TRUE(client.IsRunning());

  vpcd.Send({0x04});
  EXPECT_EQ(vpcd.Receive(), (Bytes{0x3B, 0x02, 0x14, 0x50}));
  vpcd.Send({0x01});
  vpcd.Send({0x02});
  vpcd.Send({0x00});
  const Bytes command{0x00, 0xA4, 0x04, 0x00, 0x02, 0x3F, 0x00, 0x00};
  vpcd.Send(command);
  // Had a power code been answered, that answer would come first.
  EXPECT_EQ(vpcd.Receive(), (Bytes{0x00, 0xA4, 0x04, 0x00, 0x02, 0x3F, 0x00, 0x00, 0x90, 0x00}));
  EXPECT_EQ(card->Events(), (std::vector<std::string>{"atr", "on", "reset", "off", "apdu"}));

  // A long command and its long answer keep their two-byte big-endian lengths.
  Bytes longCommand(1000, 0x5A);
  vpcd.Send(longCommand);
  const auto longAnswer = vpcd.Receive();
  ASSERT_TRUE(longAnswer.has_value());
  EXPECT_EQ(longAnswer->size(), 1002u);

  client.Stop();
  EXPECT_FALSE(client.IsRunning());
  EXPECT_TRUE(vpcd.PeerClosed()) << "Stop must close the connection, so the card reads as removed";
}

TEST(VpcdClient, AnswersThatCannotBeFramedBecomeNoPreciseDiagnosis) {
  struct Case {
    const char* name;
    Bytes cardAnswer;
    Bytes sent;
  };
  const Case cases[] = {
      {"empty answer", {}, {0x6F, 0x00}},
      {"one byte goes out untouched", {0x90}, {0x90}},
      {"answer over 65,535 bytes", Bytes(65536, 0x01), {0x6F, 0x00}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FakeVpcd vpcd;
    auto card = std::make_shared<RecordingCard>();
    card->answer = c.cardAnswer;
    VpcdClient client(card, "127.0.0.1", vpcd.Port());
    ASSERT_TRUE(client.Start(2s));
    ASSERT_TRUE(vpcd.Accept());
    vpcd.Send({0x00, 0xB0, 0x00, 0x00});
    EXPECT_EQ(vpcd.Receive(), c.sent);
    EXPECT_TRUE(client.IsRunning());
  }
}

TEST(VpcdClient, MalformedOrBrokenSessionsEndCleanly) {
  struct Case {
    const char* name;
    Bytes raw;  // sent as is, then the fake closes its end when closeAfter is set
    bool closeAfter;
  };
  const Case cases[] = {
      {"zero-length message", {0x00, 0x00}, false},
      {"unknown control code", {0x00, 0x01, 0x07}, false},
      {"peer closes in the middle of a message", {0x00, 0x08, 0x00, 0xA4}, true},
      {"peer closes between messages", {}, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FakeVpcd vpcd;
    auto card = std::make_shared<RecordingCard>();
    VpcdClient client(card, "127.0.0.1", vpcd.Port());
    ASSERT_TRUE(client.Start(2s));
    ASSERT_TRUE(vpcd.Accept());
    if (!c.raw.empty()) vpcd.SendRaw(c.raw);
    if (c.closeAfter) {
      vpcd.ClosePeer();
    } else {
      EXPECT_TRUE(vpcd.PeerClosed()) << "the client must drop a session it cannot follow";
    }
    EXPECT_TRUE(BecomesFalse(client));
    EXPECT_TRUE(card->Events().empty()) << "nothing half-read may reach the card";
  }
}

TEST(VpcdClient, ThrowingCardEndsTheSessionWithoutTakingTheProcessDown) {
  FakeVpcd vpcd;
  auto card = std::make_shared<RecordingCard>();
  card->throws = true;
  VpcdClient client(card, "127.0.0.1", vpcd.Port());
  ASSERT_TRUE(client.Start(2s));
  ASSERT_TRUE(vpcd.Accept());
  vpcd.Send({0x00, 0xB0, 0x00, 0x00});
  EXPECT_TRUE(vpcd.PeerClosed());
  EXPECT_TRUE(BecomesFalse(client));
}

TEST(VpcdClient, StopInterruptsAMessageThatStalls) {
  FakeVpcd vpcd;
  VpcdClient client(std::make_shared<RecordingCard>(), "127.0.0.1", vpcd.Port());
  ASSERT_TRUE(client.Start(2s));
  ASSERT_TRUE(vpcd.Accept());
  vpcd.SendRaw({0x00, 0x10, 0x00, 0xA4});  // announces 16 bytes, sends 2
  const auto before = Clock::now();
  client.Stop();
  EXPECT_LT(Clock::now() - before, 1s);
  EXPECT_TRUE(vpcd.PeerClosed());
}

TEST(VpcdClient, StartGivesUpAtItsLimitWhenNothingListens) {
  std::uint16_t port = 0;
  {
    FakeVpcd closedAgain;  // a port that was free a moment ago and is closed now
    port = closedAgain.Port();
  }
  VpcdClient client(std::make_shared<RecordingCard>(), "127.0.0.1", port);
  const auto before = Clock::now();
  EXPECT_FALSE(client.Start(300ms));
  const auto took = Clock::now() - before;
  EXPECT_GE(took, 250ms) << "it retries until the limit";
  EXPECT_LT(took, 1500ms);
  EXPECT_FALSE(client.IsRunning());
}

TEST(VpcdClient, StartsAgainAfterTheSessionEnded) {
  FakeVpcd vpcd;
  auto card = std::make_shared<RecordingCard>();
  VpcdClient client(card, "127.0.0.1", vpcd.Port());
  ASSERT_TRUE(client.Start(2s));
  ASSERT_TRUE(client.Start(2s)) << "a running client stays as it is";
  ASSERT_TRUE(vpcd.Accept());
  vpcd.ClosePeer();
  ASSERT_TRUE(BecomesFalse(client));

  ASSERT_TRUE(client.Start(2s));
  ASSERT_TRUE(vpcd.Accept());
  vpcd.Send({0x04});
  EXPECT_EQ(vpcd.Receive(), (Bytes{0x3B, 0x02, 0x14, 0x50}));
  EXPECT_FALSE(vpcd.Accept(100ms)) << "the second Start must not have opened a second connection";
}

}  // namespace
