// The scripted transport card: its ATRs choose the protocol a reader connects with, long answers
// come out in 61 xx / GET RESPONSE pieces, and ENVELOPE pieces are put back together.
#include <gtest/gtest.h>

#include <vector>

#include "keysim/TransportTestCard.h"
#include "tests/support/TestBytes.h"

namespace {

using test_bytes::Concat;
using test_bytes::Sequence;

using Bytes = std::vector<std::uint8_t>;

TEST(TransportTestCardScript, AnswersExactBytesAndFallsBackToTheDefault) {
  TransportTestCard card;
  card.SetAnswer({0x00, 0xA4, 0x04, 0x00, 0x02, 0x3F, 0x00}, {0x90, 0x00});
  EXPECT_EQ(card.ProcessApdu({0x00, 0xA4, 0x04, 0x00, 0x02, 0x3F, 0x00}), (Bytes{0x90, 0x00}));
  // One byte more is another command.
  EXPECT_EQ(card.ProcessApdu({0x00, 0xA4, 0x04, 0x00, 0x02, 0x3F, 0x00, 0x00}), (Bytes{0x6D, 0x00}));
  card.SetDefaultAnswer({0x6A, 0x82});
  EXPECT_EQ(card.ProcessApdu({0x00, 0xB0, 0x00, 0x00}), (Bytes{0x6A, 0x82}));
  EXPECT_EQ(card.ProcessApdu({0x00, 0xB0}), (Bytes{0x67, 0x00})) << "shorter than a header";

  const auto received = card.Received();
  ASSERT_EQ(received.size(), 4u);
  EXPECT_EQ(received[1].size(), 8u);
  card.ClearRecord();
  EXPECT_TRUE(card.Received().empty());
}

// The pieces themselves are T0ResponseChainTest's, and the card's chained answers and ENVELOPE
// reassembly through pcscd PcscTransportIntegrationTest's; here what abandons a chain.
TEST(TransportTestCardChain, AnotherCommandOrAPowerCycleAbandonsTheChain) {
  TransportTestCard card;
  card.SetChainedAnswer({0x80, 0x10, 0x00, 0x00}, Sequence(256), 0x9000);
  EXPECT_EQ(card.ProcessApdu({0x80, 0x10, 0x00, 0x00}), (Bytes{0x61, 0x00}));
  EXPECT_EQ(card.ProcessApdu({0x00, 0xC0, 0x00, 0x00, 0x00}), Concat(Sequence(256), {0x90, 0x00}))
      << "Le 00 asks for 256 bytes";

  card.ProcessApdu({0x80, 0x10, 0x00, 0x00});
  card.ProcessApdu({0x00, 0xA4, 0x00, 0x00});
  EXPECT_EQ(card.ProcessApdu({0x00, 0xC0, 0x00, 0x00, 0x00}), (Bytes{0x69, 0x85}))
      << "another command abandons the chain";

  card.ProcessApdu({0x80, 0x10, 0x00, 0x00});
  card.PowerOff();
  EXPECT_EQ(card.ProcessApdu({0x00, 0xC0, 0x00, 0x00, 0x00}), (Bytes{0x69, 0x85})) << "power off forgets it";
}

Bytes Envelope(const Bytes& piece) {
  Bytes command{0x00, 0xC2, 0x00, 0x00};
  if (!piece.empty()) {
    command.push_back(static_cast<std::uint8_t>(piece.size()));
    command.insert(command.end(), piece.begin(), piece.end());
  }
  return command;
}

TEST(TransportTestCardEnvelope, EmptyEnvelopeClosesACommandOfUnknownLengthAndAnswersCanChain) {
  TransportTestCard card;
  const Bytes inner{0x80, 0x50, 0x00, 0x00, 0x01, 0x02, 0x03, 0x04, 0x05};  // not an extended body
  card.SetChainedAnswer(inner, Sequence(5), 0x9000);
  EXPECT_EQ(card.ProcessApdu(Envelope(inner)), (Bytes{0x90, 0x00}));
  EXPECT_EQ(card.ProcessApdu(Envelope({})), (Bytes{0x61, 0x05}));
  EXPECT_EQ(card.ProcessApdu({0x00, 0xC0, 0x00, 0x00, 0x05}), Concat(Sequence(5), {0x90, 0x00}));
  EXPECT_EQ(card.EnvelopedCommands(), std::vector<Bytes>{inner});
}

}  // namespace
