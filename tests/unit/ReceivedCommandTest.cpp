// How the virtual key reads a command: the answer length its Le asks for, and when bytes collected
// from ENVELOPE pieces make one whole command.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "core/Conversions.h"
#include "keysim/ReceivedCommand.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes FromHex(const std::string& hex) {
  Bytes bytes(hex.size());
  bytes.resize(HexToBytes(hex, bytes.data(), static_cast<std::uint32_t>(bytes.size())));
  return bytes;
}

TEST(ReceivedCommand, ExpectedLengthFollowsTheLeOfEveryCase) {
  struct Case {
    const char* command;
    std::optional<std::size_t> expected;
  };
  const Case cases[] = {
      {"00 A4 04 00", std::nullopt},
      {"00 CA 00 00 10", 0x10},
      {"00 CA 00 00 00", 256},
      {"00 A4 04 00 02 3F 00", std::nullopt},
      {"00 A4 04 00 02 3F 00 00", 256},
      {"00 CA 00 00 00 01 00", 256},
      {"00 CA 00 00 00 00 00", 65536},
      {"00 D6 00 00 00 00 01 AA", std::nullopt},
      {"00 D6 00 00 00 00 01 AA 00 00", 65536},
      {"00 D6 00 00 00 00 01 AA 02 00", 512},
  };
  for (const auto& c : cases) {
    const auto command = ReceivedCommand::From(FromHex(c.command));
    ASSERT_TRUE(command.has_value()) << c.command;
    EXPECT_EQ(command->ExpectedLength(), c.expected) << c.command;
  }
}

TEST(ReceivedCommand, BytesWhoseLengthsDoNotAddUpAreNoCommand) {
  for (const char* bytes : {"00 A4 04", "00 A4 04 00 00 01", "00 A4 04 00 02 3F", "00 A4 04 00 01 3F 00 00",
                            "00 D6 00 00 00 00 00 AA"}) {
    EXPECT_FALSE(ReceivedCommand::From(FromHex(bytes)).has_value()) << bytes;
  }
  const auto put = ReceivedCommand::From(FromHex("00 01 02 03 02 AA BB"));
  ASSERT_TRUE(put.has_value());
  EXPECT_EQ(put->Apdu().Ins, 0x01);
  EXPECT_EQ(put->Apdu().Data, (Bytes{0xAA, 0xBB}));
}

TEST(ReceivedCommand, CompletenessOfEnvelopedBytes) {
  struct Case {
    const char* bytes;
    CommandCompleteness completeness;
  };
  const Case cases[] = {
      {"00 A4 04", CommandCompleteness::Incomplete},
      {"00 A4 04 00", CommandCompleteness::Complete},
      {"00 A4 04 00 05", CommandCompleteness::Complete},
      {"00 A4 04 00 02 3F", CommandCompleteness::Incomplete},
      {"00 A4 04 00 02 3F 00", CommandCompleteness::Complete},
      {"00 A4 04 00 02 3F 00 00", CommandCompleteness::Complete},
      {"00 A4 04 00 02 3F 00 00 00", CommandCompleteness::Invalid},
      {"00 D6 00 00 00 01", CommandCompleteness::Incomplete},
      {"00 D6 00 00 00 01 00", CommandCompleteness::Complete},
      {"00 D6 00 00 00 00 00 AA", CommandCompleteness::Invalid},
      {"00 D6 00 00 00 00 02 AA", CommandCompleteness::Incomplete},
      {"00 D6 00 00 00 00 02 AA BB", CommandCompleteness::Complete},
      {"00 D6 00 00 00 00 02 AA BB 00", CommandCompleteness::Invalid},
      {"00 D6 00 00 00 00 02 AA BB 00 00", CommandCompleteness::Complete},
      {"00 D6 00 00 00 00 02 AA BB 00 00 00", CommandCompleteness::Invalid},
  };
  for (const auto& c : cases) EXPECT_EQ(CompletenessOf(FromHex(c.bytes)), c.completeness) << c.bytes;
}

}  // namespace
