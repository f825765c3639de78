#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "BuildConfig.h"
#include "core/Conversions.h"
#include "device/CardOsCommands.h"
#include "oath/OathCommands.h"
#include "tests/support/TestKeys.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

using test_keys::Hex;

Bytes Repeat(std::uint8_t value, std::size_t count) { return Bytes(count, value); }

// Every command the programs build, byte for byte (the interface-mode command: InterfaceModeTest).
TEST(OathCommands, EveryCommandIsItsExactBytes) {
  Bytes key20(20);
  for (std::size_t i = 0; i < key20.size(); ++i) key20[i] = static_cast<std::uint8_t>(0xA0 + i);
  const Bytes key = {0x11, 0x22, 0x33};
  // Names from the key are raw bytes: both overloads send them unchanged.
  const Bytes rawName = {0xC3, 0xA9, 0xFF, 0x00, 0x41};
  const std::pair<std::function<Bytes()>, std::string> cases[] = {
      {BuildGetAppletVersion, "80 E2 80 00 05 DF FF 02 80 01"},
      {BuildReset, "00 07 00 00"},
      {BuildList, "00 17 00 00"},
      {BuildGetDefault, "00 E6 00 00"},
      {BuildSelectFido, "00 A4 04 00 08 A0 00 00 06 47 2F 00 01"},
      {BuildGetCosVersion, "80 E3 00 00 03"},
      {BuildE3P1Command, "80 E3 01 00"},
      {[] { return BuildDelete("AB"); }, "00 08 00 00 04 51 02 41 42"},
      {[] { return BuildSetDefault("AB"); }, "00 E5 00 00 04 51 02 41 42"},
      {[] { return BuildCalculate("AB"); }, "00 A2 01 00 06 54 00 51 02 41 42"},
      {[] { return BuildCalculate("AB", Bytes{0x01, 0x02, 0x03}); }, "00 A2 01 00 09 54 03 01 02 03 51 02 41 42"},
      {[&] { return BuildDelete(rawName); }, "00 08 00 00 07 51 05 C3 A9 FF 00 41"},
      {[] { return BuildDelete(std::string("\xC3\xA9\xFF\0A", 5)); }, "00 08 00 00 07 51 05 C3 A9 FF 00 41"},
      {[&] { return BuildPut(0x09, "1234", key20, 6, ""); },
       "00 09 00 00 1F 53 16 01 10 06 A0 A1 A2 A3 A4 A5 A6 A7 A8 A9 AA AB AC AD AE AF B0 B1 B2 B3 51 04 31 32 33 34"},
      // The IMF goes as typed, only when there is one.
      {[&] { return BuildPut(0x09, "N", key, 8, "12AB"); },
       "00 09 00 00 11 53 05 01 10 08 11 22 33 51 01 4E 5A 04 31 32 41 42"},
      {[&] { return BuildPut(0x09, "N", key, 8, ""); }, "00 09 00 00 0B 53 05 01 10 08 11 22 33 51 01 4E"},
      // The instruction byte is the caller's; an empty key still gets its length byte of 2.
      {[] { return BuildPut(0x01, "N", Bytes{}, 6, ""); }, "00 01 00 00 08 53 02 01 10 06 51 01 4E"},
  };
  for (const auto& [build, hex] : cases) EXPECT_EQ(Hex(build()), hex);
}

TEST(OathCommands, SelectOathCarriesTheBuildRidAndThePix) {
  Bytes expected = {0x00, 0xA4, 0x04, 0x00, 0x09};
  expected.insert(expected.end(), tokvane::build::kOathRid.begin(), tokvane::build::kOathRid.end());
  expected.insert(expected.end(), {0x83, 0x26, 0x01, 0x01});
  EXPECT_EQ(BuildSelectOath(), expected);
  // The default RID is an unregistered proprietary one.
  EXPECT_EQ(tokvane::build::kOathRid[0] & 0xF0, 0xF0);
}

TEST(OathCommands, PutKeyRangeCoversExactlyTheKeyOrEverythingAfterLc) {
  struct Case {
    const char* what;
    Bytes command;
    std::size_t offset;
    std::size_t count;
  };
  Bytes cutShort = BuildPut(0x09, "N", Bytes{0x11, 0x22, 0x33}, 6, "");
  cutShort.resize(11);  // the length byte promises three key bytes, one is there
  Bytes wrongTag = BuildPut(0x09, "N", Bytes{0x11}, 6, "");
  wrongTag[5] = 0x54;
  const std::vector<Case> cases = {
      {"20-byte key", BuildPut(0x09, "1234", Repeat(0xA5, 20), 6, ""), 10, 20},
      {"key with an imf after the name", BuildPut(0x09, "N", Bytes{0x11, 0x22, 0x33}, 8, "12AB"), 10, 3},
      {"empty key", BuildPut(0x09, "N", Bytes{}, 6, ""), 10, 0},
      {"key longer than the command", cutShort, 5, 6},
      {"no key tag", wrongTag, 5, 9},
      {"header and Lc only", Bytes{0x00, 0x09, 0x00, 0x00, 0x05}, 5, 0},
      {"header only", Bytes{0x00, 0x09, 0x00, 0x00}, 4, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const OathByteRange range = PutKeyRange(c.command);
    EXPECT_EQ(range.offset, c.offset);
    EXPECT_EQ(range.count, c.count);
  }
}

TEST(OathCommands, LengthsAtTheSingleByteLimitAreBuiltAndBeyondAreRefused) {
  struct Case {
    const char* what;
    std::function<Bytes()> build;
    bool refused;
  };
  const Case cases[] = {
      {"delete, name 253", [] { return BuildDelete(Repeat('n', 253)); }, false},
      {"delete, name 254", [] { return BuildDelete(Repeat('n', 254)); }, true},
      {"set default, name 253", [] { return BuildSetDefault(Repeat('n', 253)); }, false},
      {"set default, name 254", [] { return BuildSetDefault(Repeat('n', 254)); }, true},
      {"calculate, name 251", [] { return BuildCalculate(Repeat('n', 251)); }, false},
      {"calculate, name 252", [] { return BuildCalculate(Repeat('n', 252)); }, true},
      {"calculate, name 200 + challenge 52",
       [] { return BuildCalculate(Repeat('n', 200), Repeat(1, 52)); }, true},
      // k + n + 7 + m + 2 = 48 + 16 + 7 + 184 = 255
      {"put, imf up to 255",
       [] { return BuildPut(9, Repeat('n', 16), Repeat(7, 48), 6, Repeat('1', 182)); }, false},
      {"put, imf one over",
       [] { return BuildPut(9, Repeat('n', 16), Repeat(7, 48), 6, Repeat('1', 183)); }, true},
      {"put, long imf", [] { return BuildPut(9, Repeat('n', 4), Repeat(7, 20), 6, Repeat('1', 300)); },
       true},
      {"put, long key", [] { return BuildPut(9, Repeat('n', 4), Repeat(7, 245), 6, Bytes{}); }, true},
  };
  for (const auto& c : cases) {
    const Bytes command = c.build();
    EXPECT_EQ(command.empty(), c.refused) << c.what;
    if (!c.refused) {
      // Lc counts exactly the data that follows it.
      ASSERT_GE(command.size(), 5u) << c.what;
      EXPECT_EQ(command[4] + 5u, command.size()) << c.what;
    }
  }
}

}  // namespace
