// The secret as an operator types it: hex digits and spaces, read into bytes.
#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "oath/TypedKey.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

std::optional<Bytes> Read(const std::string& text, std::string* error = nullptr) {
  const std::optional<SecureBytes> key = ReadTypedHexKey(SecureString(text), error);
  if (!key) return std::nullopt;
  return Bytes(key->view().begin(), key->view().end());
}

TEST(TypedKey, ReadsHexDigitsAndSpacesOnly) {
  struct Case {
    const char* label;
    std::string text;
    std::optional<Bytes> bytes;
    std::string error;
  };
  const std::vector<Case> cases = {
      {"spaced pairs", " 31 32 ab CD ", Bytes{0x31, 0x32, 0xAB, 0xCD}, ""},
      {"spaces anywhere", "3 13 2", Bytes{0x31, 0x32}, ""},
      // "ABC" is no key the operator typed: AB 0C would be written in its place.
      {"odd digit count", "ABC", std::nullopt, "malformed hex secret: an odd number of hex digits"},
      {"odd digit count with spaces", "1 2 3", std::nullopt, "malformed hex secret: an odd number of hex digits"},
      {"only spaces", "   ", Bytes{}, ""},
      {"nothing", "", Bytes{}, ""},
      {"starting with z", "z0112233", std::nullopt, ""},
      {"a non-hex character inside", "0011G233", std::nullopt, ""},
      {"a 0x prefix", "0x1122", std::nullopt, ""},
      {"a tab", "11\t22", std::nullopt, ""},
      {"a character the field could not narrow", "11?22", std::nullopt, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    std::string error = "left over";
    EXPECT_EQ(Read(c.text, &error), c.bytes);
    EXPECT_EQ(error, c.error);
  }
}

TEST(TypedKey, ReadsAtMostItsCapacity) {
  const std::optional<Bytes> bytes = Read(std::string(2 * kTypedKeyCapacity + 10, 'F'));
  ASSERT_TRUE(bytes.has_value());
  EXPECT_EQ(bytes->size(), kTypedKeyCapacity);
  EXPECT_EQ(bytes->back(), 0xFF);
}

}  // namespace
