// The card OS's commands and the applet selections: exact bytes.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "BuildConfig.h"
#include "core/Conversions.h"
#include "device/CardOsCommands.h"
#include "tests/support/TestKeys.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

using test_keys::Hex;

TEST(CardOsCommands, FixedCommandsAreExactBytes) {
  const std::pair<std::function<Bytes()>, const char*> cases[] = {
      {BuildSelectFido, "00 A4 04 00 08 A0 00 00 06 47 2F 00 01"},
      {BuildGetCosVersion, "80 E3 00 00 03"},
      {BuildE3P1Command, "80 E3 01 00"},
      {[] { return BuildSetInterfaceMode(0x30); }, "80 E1 FF 00 01 30"},
      {[] { return BuildSetInterfaceMode(0x70); }, "80 E1 FF 00 01 70"},
      {[] { return BuildSetInterfaceMode(0x40); }, "80 E1 FF 00 01 40"},
  };
  for (const auto& [build, hex] : cases) EXPECT_EQ(Hex(build()), hex);
}

TEST(CardOsCommands, SelectOathCarriesTheBuildRidAndThePix) {
  Bytes expected = {0x00, 0xA4, 0x04, 0x00, 0x09};
  expected.insert(expected.end(), tokvane::build::kOathRid.begin(), tokvane::build::kOathRid.end());
  expected.insert(expected.end(), {0x83, 0x26, 0x01, 0x01});
  EXPECT_EQ(BuildSelectOath(), expected);
  // The default RID is an unregistered proprietary one.
  EXPECT_EQ(tokvane::build::kOathRid[0] & 0xF0, 0xF0);
}

}  // namespace
