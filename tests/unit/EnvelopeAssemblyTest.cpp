// ENVELOPE pieces put back together, up to the longest command APDU.
#include <gtest/gtest.h>

#include <vector>

#include "keysim/EnvelopeAssembly.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(EnvelopeAssembly, CollectsPiecesInOrderUntilDropped) {
  EnvelopeAssembly assembly;
  EXPECT_TRUE(assembly.Collected().empty());
  EXPECT_TRUE(assembly.Add({0x00, 0xD6}));
  EXPECT_TRUE(assembly.Add({}));
  EXPECT_TRUE(assembly.Add({0x00, 0x00, 0x01}));
  EXPECT_EQ(assembly.Collected(), (Bytes{0x00, 0xD6, 0x00, 0x00, 0x01}));
  assembly.Drop();
  EXPECT_TRUE(assembly.Collected().empty());
}

TEST(EnvelopeAssembly, NothingGrowsPastTheLongestCommand) {
  EnvelopeAssembly assembly;
  const Bytes almost(EnvelopeAssembly::kLongestCommand - 1, 0x5A);
  ASSERT_TRUE(assembly.Add(almost));
  EXPECT_TRUE(assembly.Add({0x01})) << "exactly the longest command fits";
  EXPECT_EQ(assembly.Collected().size(), EnvelopeAssembly::kLongestCommand);
  EXPECT_FALSE(assembly.Add({0x02}));
  EXPECT_TRUE(assembly.Collected().empty()) << "a refused piece drops the whole command";
  EXPECT_TRUE(assembly.Add({0x03}));
  EXPECT_EQ(assembly.Collected(), Bytes{0x03});
}

}  // namespace
