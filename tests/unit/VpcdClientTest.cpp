// The vpcd client against a scripted vpcd: a local TCP listener playing the reader's side of the
// length-prefixed protocol, and the transport test card recording what the client asked of it.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "keysim/TransportTestCard.h"
#include "keysim/VpcdClient.h"
#include "tests/support/FaultInjectingCard.h"
#include "tests/support/WaitUntil.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// A socket closed with its owner.
struct Fd {
  Fd() = default;
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  ~Fd() { Close(); }
  void Reset(int fd) {
    Close();
    value = fd;
  }
  void Close() {
    if (value >= 0) ::close(value);
    value = -1;
  }
  int value = -1;
};

// The reader's side of the protocol on 127.0.0.1 and a free port.
class FakeVpcd {
 public:
  FakeVpcd() {
    listener_.Reset(::socket(AF_INET, SOCK_STREAM, 0));
    int on = 1;
    ::setsockopt(listener_.value, SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof(address);
    if (::bind(listener_.value, reinterpret_cast<sockaddr*>(&address), length) == 0 &&
        ::listen(listener_.value, 4) == 0 &&
        ::getsockname(listener_.value, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
      port_ = ntohs(address.sin_port);
    }
  }
  std::uint16_t Port() const { return port_; }

  bool Accept(std::chrono::milliseconds limit = 2s) {
    pollfd fds{listener_.value, POLLIN, 0};
    if (::poll(&fds, 1, static_cast<int>(limit.count())) != 1) return false;
    peer_.Reset(::accept(listener_.value, nullptr, nullptr));
    return peer_.value >= 0;
  }
  // Bytes as they are: a message is its two-byte big-endian length, then the payload.
  void SendRaw(const Bytes& bytes) { ASSERT_EQ(::send(peer_.value, bytes.data(), bytes.size(), MSG_NOSIGNAL), static_cast<ssize_t>(bytes.size())); }
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
    pollfd fds{peer_.value, POLLIN, 0};
    if (::poll(&fds, 1, static_cast<int>(limit.count())) != 1) return false;
    std::uint8_t byte = 0;
    // An orderly close, or a reset when the client closed with bytes of ours still unread.
    const ssize_t got = ::recv(peer_.value, &byte, 1, 0);
    return got == 0 || (got < 0 && errno == ECONNRESET);
  }
  void ClosePeer() { peer_.Close(); }

 private:
  bool ReadExact(Bytes& out, std::chrono::milliseconds limit) {
    std::size_t done = 0;
    while (done < out.size()) {
      pollfd fds{peer_.value, POLLIN, 0};
      if (::poll(&fds, 1, static_cast<int>(limit.count())) != 1) return false;
      const ssize_t got = ::recv(peer_.value, out.data() + done, out.size() - done, 0);
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

// A client of a fresh scripted vpcd, serving the transport test card behind a card that can
// throw; Connect starts it and takes its connection (the cards are set up before).
struct Session {
  bool Connect() { return client.Start(2s) && vpcd.Accept(); }
  FakeVpcd vpcd;
  std::shared_ptr<TransportTestCard> card = std::make_shared<TransportTestCard>();
  std::shared_ptr<FaultInjectingCard> front = std::make_shared<FaultInjectingCard>(card);
  VpcdClient client{front, "127.0.0.1", vpcd.Port()};
};

// The session as pcscd's vpcd drives it (the ATR, power codes left unanswered, commands and answers
// past 255 bytes, Stop reading as a removed card, a new session after one ended) is shown by every
// integration test, through ServedCard; here what vpcd itself never sends.
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
    Session s;
    s.card->SetDefaultAnswer(c.cardAnswer);
    ASSERT_TRUE(s.Connect());
    s.vpcd.SendRaw({0x00, 0x04, 0x00, 0xB0, 0x00, 0x00});  // a framed four-byte command
    EXPECT_EQ(s.vpcd.Receive(), c.sent);
    EXPECT_TRUE(s.client.IsRunning());
  }
}

// A session the client cannot follow, or whose card fails, ends without taking the process down.
TEST(VpcdClient, MalformedOrBrokenSessionsEndCleanly) {
  struct Case {
    const char* name;
    Bytes raw;  // sent as is, then the fake closes its end when closeAfter is set
    bool closeAfter;
    bool cardThrows = false;
  };
  const Case cases[] = {
      {"zero-length message", {0x00, 0x00}, false},
      {"unknown control code", {0x00, 0x01, 0x07}, false},
      {"peer closes in the middle of a message", {0x00, 0x08, 0x00, 0xA4}, true},
      {"peer closes between messages", {}, true},
      {"the card throws", {0x00, 0x04, 0x00, 0xB0, 0x00, 0x00}, false, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Session s;
    if (c.cardThrows) s.front->Arm(FaultInjectingCard::OnInstruction(0xB0), &FaultInjectingCard::ThrowPulledOut, true);
    ASSERT_TRUE(s.Connect());
    if (!c.raw.empty()) s.vpcd.SendRaw(c.raw);
    if (c.closeAfter) {
      s.vpcd.ClosePeer();
    } else {
      EXPECT_TRUE(s.vpcd.PeerClosed()) << "the client must drop a session it cannot go on with";
    }
    EXPECT_TRUE(BecomesFalse(s.client));
    // Nothing half-read may reach the card.
    EXPECT_EQ(s.card->Received().size(), c.cardThrows ? 1u : 0u);
  }
}

TEST(VpcdClient, StopInterruptsAMessageThatStalls) {
  Session s;
  ASSERT_TRUE(s.Connect());
  EXPECT_TRUE(s.client.Start(2s)) << "a running client stays as it is";
  EXPECT_FALSE(s.vpcd.Accept(100ms)) << "and opens no second connection";
  s.vpcd.SendRaw({0x00, 0x10, 0x00, 0xA4});  // announces 16 bytes, sends 2
  const auto before = Clock::now();
  s.client.Stop();
  EXPECT_LT(Clock::now() - before, 1s);
  EXPECT_TRUE(s.vpcd.PeerClosed());
}

TEST(VpcdClient, StartGivesUpAtItsLimitWhenNothingListens) {
  std::uint16_t port = 0;
  {
    FakeVpcd closedAgain;  // a port that was free a moment ago and is closed now
    port = closedAgain.Port();
  }
  VpcdClient client(std::make_shared<TransportTestCard>(), "127.0.0.1", port);
  const auto before = Clock::now();
  EXPECT_FALSE(client.Start(300ms));
  const auto took = Clock::now() - before;
  EXPECT_GE(took, 250ms) << "it retries until the limit";
  EXPECT_LT(took, 1500ms);
  EXPECT_FALSE(client.IsRunning());
}

}  // namespace
