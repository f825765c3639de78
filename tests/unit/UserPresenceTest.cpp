// The touch decision: the card-OS version query and the table of versions that want a touch.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "device/DeviceInterface.h"
#include "oath/OathCommands.h"
#include "oath/UserPresence.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// An open transport whose key answers the version query with a chosen answer.
class VersionDevice final : public IDeveiceInterface {
 public:
  explicit VersionDevice(Bytes answer, bool exchangeWorks = true)
      : answer_(std::move(answer)), exchangeWorks_(exchangeWorks) {}
  bool Open() override { return true; }
  bool IsOpen() override { return true; }
  bool Close() override {
    ++closes;
    return true;
  }
  bool Exchange(const CApduCommand& command, CApduResponse& response) override {
    sent.push_back(command.Serialize());
    if (!exchangeWorks_) return false;
    return response.Parse(answer_.data(), answer_.size());
  }
  std::string GetLastErrorText() override { return "gone"; }
  void SetName(const std::wstring&) override {}
  std::wstring GetName() override { return L"version device"; }

  std::vector<Bytes> sent;
  int closes = 0;

 private:
  Bytes answer_;
  bool exchangeWorks_;
};

bool NeedsTouchFor(const Bytes& answer) {
  VersionDevice device(answer);
  return NeedsUserPresence(device);
}

TEST(UserPresence, AsksTheCardOsOnceAndLeavesTheTransportOpen) {
  VersionDevice device({0x43, 0x01, 0x00, 0x90, 0x00});
  EXPECT_TRUE(NeedsUserPresence(device));
  ASSERT_EQ(device.sent.size(), 1u);
  EXPECT_EQ(device.sent[0], (Bytes{0x80, 0xE3, 0x00, 0x00, 0x03}));
  EXPECT_EQ(device.sent[0], BuildGetCosVersion());
  EXPECT_EQ(device.closes, 0);
}

// Which versions want a touch, and how a short answer reads, is OathAnswersTest's table.
TEST(UserPresence, TheKeysAnswerDecidesAndARefusedOrFailedQueryWantsNoTouch) {
  EXPECT_FALSE(NeedsTouchFor({0x43, 0x00, 0x05, 0x90, 0x00}));
  EXPECT_TRUE(NeedsTouchFor({0x31, 0x90, 0x00}));
  // A refused query counts as no touch needed, whatever its data.
  EXPECT_FALSE(NeedsTouchFor({0x31, 0x00, 0x69, 0x85}));
  EXPECT_FALSE(NeedsTouchFor({0x6D, 0x00}));
  EXPECT_FALSE(NeedsTouchFor({0x90, 0x00}));
  VersionDevice failing({0x31, 0x00, 0x90, 0x00}, false);
  EXPECT_FALSE(NeedsUserPresence(failing));
}

}  // namespace
