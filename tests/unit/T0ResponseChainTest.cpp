// The T=0 answer chain both virtual cards answer through: 61 xx announcements, GET RESPONSE pieces,
// the status word after the last piece, and what goes out at once.
#include <gtest/gtest.h>

#include <optional>
#include <vector>

#include "keysim/T0ResponseChain.h"
#include "tests/support/TestBytes.h"

namespace {

using test_bytes::Concat;
using test_bytes::Sequence;

using Bytes = std::vector<std::uint8_t>;

TEST(T0ResponseChain, ServesALongAnswerInGetResponsePieces) {
  T0ResponseChain chain;
  EXPECT_EQ(chain.Start(Sequence(40), 0x9000, 0, 16), (Bytes{0x61, 0x10}));
  EXPECT_EQ(chain.Next(16), Concat(Sequence(16, 0), {0x61, 0x10}));
  // A smaller request takes fewer bytes; the rest stays for the next piece.
  EXPECT_EQ(chain.Next(4), Concat(Sequence(4, 16), {0x61, 0x10}));
  // A piece never exceeds the limit, whatever is asked for.
  EXPECT_EQ(chain.Next(256), Concat(Sequence(16, 20), {0x61, 0x04}));
  EXPECT_TRUE(chain.Waiting());
  EXPECT_EQ(chain.Next(4), Concat(Sequence(4, 36), {0x90, 0x00}));
  EXPECT_FALSE(chain.Waiting());
  EXPECT_EQ(chain.Next(4), (Bytes{0x69, 0x85})) << "chain is over";
}

TEST(T0ResponseChain, FirstAnswerCornerCases) {
  struct Case {
    const char* name;
    std::size_t dataLength;
    std::uint16_t finalStatus;
    std::size_t atOnce;
    std::size_t pieceLimit;
    Bytes firstAnswer;
  };
  const Case cases[] = {
      {"a whole 256-byte piece is announced as 61 00", 256, 0x9000, 0, 256, {0x61, 0x00}},
      {"so is anything longer without a piece limit", 600, 0x9000, 0, T0ResponseChain::kNoPieceLimit,
       {0x61, 0x00}},
      {"an empty answer is just the final status", 0, 0x6282, 0, 256, {0x62, 0x82}},
      {"a short answer is announced with its length", 3, 0x9000, 0, 256, {0x61, 0x03}},
      {"what goes out at once comes before the announcement of the rest", 5, 0x9000, 2, 256,
       {0x00, 0x01, 0x61, 0x03}},
      {"an answer sent whole at once ends with its status", 3, 0x6300, 3, 256, {0x00, 0x01, 0x02, 0x63, 0x00}},
      {"no more than the answer goes out at once", 2, 0x9000, 10, 256, {0x00, 0x01, 0x90, 0x00}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    T0ResponseChain chain;
    EXPECT_EQ(chain.Start(Sequence(c.dataLength), c.finalStatus, c.atOnce, c.pieceLimit), c.firstAnswer);
    EXPECT_EQ(chain.Waiting(), c.firstAnswer[c.firstAnswer.size() - 2] == 0x61);
  }
}

TEST(T0ResponseChain, WithoutAPieceLimitARequestTakesAllItAsksFor) {
  T0ResponseChain chain;
  chain.Start(Sequence(300), 0x9000);
  EXPECT_EQ(chain.Next(256), Concat(Sequence(256), {0x61, 0x2C}));
  EXPECT_EQ(chain.Next(65536), Concat(Sequence(44, 0), {0x90, 0x00}));

  chain.Start(Sequence(600), 0x9000);
  EXPECT_EQ(chain.Next(512), Concat(Concat(Sequence(256), Sequence(256)), {0x61, 0x58}));
}

TEST(T0ResponseChain, StartAndDropForgetTheAnswerWaiting) {
  T0ResponseChain chain;
  chain.Start(Sequence(10), 0x9000);
  chain.Drop();
  EXPECT_FALSE(chain.Waiting());
  EXPECT_EQ(chain.Next(10), (Bytes{0x69, 0x85}));

  chain.Start(Sequence(10), 0x9000);
  EXPECT_EQ(chain.Start(Sequence(2, 0xA0), 0x6283), (Bytes{0x61, 0x02}));
  EXPECT_EQ(chain.Next(10), (Bytes{0xA0, 0xA1, 0x62, 0x83})) << "only the newer answer is served";
}

TEST(T0ResponseChain, OnlyACommandThatAsksForDataAndSendsNoneGetsItAtOnce) {
  struct Case {
    const char* name;
    std::optional<std::size_t> expectedLength;
    bool commandHasData;
    std::size_t answerLength;
    std::size_t atOnce;
  };
  const Case cases[] = {
      {"Le and no data: up to Le", 3, false, 10, 3},
      {"Le larger than the answer: the whole answer", 256, false, 10, 10},
      {"no Le", std::nullopt, false, 10, 0},
      {"data and Le", 256, true, 10, 0},
      {"data without Le", std::nullopt, true, 10, 0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(T0ResponseChain::SentAtOnce(c.expectedLength, c.commandHasData, c.answerLength), c.atOnce)
        << c.name;
  }
}

}  // namespace
