// The touch decision: the card-OS version query and the table of versions that want a touch.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "keysim/TransportTestCard.h"
#include "oath/OathCommands.h"
#include "oath/UserPresence.h"
#include "tests/support/CardDevice.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// An open transport whose key answers every command, the version query too, with `answer`.
struct VersionKey {
  explicit VersionKey(Bytes answer) {
    card->SetDefaultAnswer(std::move(answer));
    device.Open();
  }
  std::shared_ptr<TransportTestCard> card = std::make_shared<TransportTestCard>();
  CardDevice device{card};
};

bool NeedsTouchFor(const Bytes& answer) {
  VersionKey key(answer);
  return NeedsUserPresence(key.device);
}

TEST(UserPresence, AsksTheCardOsOnceAndLeavesTheTransportOpen) {
  VersionKey key({0x43, 0x01, 0x00, 0x90, 0x00});
  EXPECT_TRUE(NeedsUserPresence(key.device));
  EXPECT_EQ(key.card->Received(), std::vector<Bytes>{BuildGetCosVersion()});
  EXPECT_EQ(key.device.closes, 0);
}

// Which versions want a touch, and how a short answer reads, is OathAnswersTest's table.
TEST(UserPresence, TheKeysAnswerDecidesAndARefusedOrFailedQueryWantsNoTouch) {
  EXPECT_FALSE(NeedsTouchFor({0x43, 0x00, 0x05, 0x90, 0x00}));
  EXPECT_TRUE(NeedsTouchFor({0x31, 0x90, 0x00}));
  // A refused query counts as no touch needed, whatever its data.
  EXPECT_FALSE(NeedsTouchFor({0x31, 0x00, 0x69, 0x85}));
  EXPECT_FALSE(NeedsTouchFor({0x6D, 0x00}));
  EXPECT_FALSE(NeedsTouchFor({0x90, 0x00}));
  VersionKey failing({0x31, 0x00, 0x90, 0x00});
  failing.device.failExchange = true;
  EXPECT_FALSE(NeedsUserPresence(failing.device));
}

}  // namespace
