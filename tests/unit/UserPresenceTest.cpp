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

TEST(UserPresence, VersionTableAtEveryBoundary) {
  struct Case {
    std::uint8_t b0;
    std::uint8_t b1;
    bool touch;
  };
  const Case cases[] = {
      {0x00, 0x00, false}, {0x30, 0xFF, false}, {0x31, 0x00, true},  {0x3F, 0x00, true},
      {0x40, 0x01, false}, {0x42, 0xFF, false}, {0x43, 0x00, false}, {0x43, 0x01, true},
      {0x43, 0xFF, true},  {0x44, 0x00, true},  {0x4F, 0x00, true},  {0x50, 0x01, false},
      {0x5F, 0xFF, false}, {0x60, 0x00, true},  {0x6F, 0x00, true},  {0x70, 0x01, false},
      {0xFF, 0xFF, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(NeedsTouchFor({c.b0, c.b1, 0x05, 0x90, 0x00}), c.touch)
        << std::hex << int(c.b0) << " " << int(c.b1);
  }
}

TEST(UserPresence, RefusedFailedOrShortAnswers) {
  // A refused query counts as no touch needed, whatever its data.
  EXPECT_FALSE(NeedsTouchFor({0x31, 0x00, 0x69, 0x85}));
  EXPECT_FALSE(NeedsTouchFor({0x6D, 0x00}));
  // A missing second byte reads as 00.
  EXPECT_TRUE(NeedsTouchFor({0x31, 0x90, 0x00}));
  EXPECT_FALSE(NeedsTouchFor({0x43, 0x90, 0x00}));
  EXPECT_FALSE(NeedsTouchFor({0x90, 0x00}));
  VersionDevice failing({0x31, 0x00, 0x90, 0x00}, false);
  EXPECT_FALSE(NeedsUserPresence(failing));
}

}  // namespace
