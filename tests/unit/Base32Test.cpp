#include <gtest/gtest.h>

#include <cctype>
#include <string>
#include <vector>

#include "oath/Base32.h"

namespace {

std::string Decoded(const std::string& text, bool* ok = nullptr) {
  SecretBuffer out;
  std::string error;
  const bool decoded = DecodeBase32(text, out, error);
  if (ok != nullptr) *ok = decoded;
  return std::string(out.Text());
}

struct Vector {
  const char* encoded;
  const char* plain;
};

// RFC 4648, section 10.
const Vector kRfc4648Vectors[] = {
    {"MY======", "f"},           {"MZXQ====", "fo"},          {"MZXW6===", "foo"},
    {"MZXW6YQ=", "foob"},        {"MZXW6YTB", "fooba"},       {"MZXW6YTBOI======", "foobar"},
};

// Each vector as written, and in lower case with spaces and without its padding.
TEST(Base32, DecodesTheRfc4648VectorsAlsoInLowerCaseWithSpacesAndWithoutPadding) {
  for (const auto& vector : kRfc4648Vectors) {
    std::string relaxed;
    for (const char c : std::string(vector.encoded)) {
      if (c == '=') continue;
      relaxed += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      if (relaxed.size() % 5 == 4) relaxed += ' ';
    }
    for (const std::string& text : {std::string(vector.encoded), relaxed}) {
      bool ok = false;
      EXPECT_EQ(Decoded(text, &ok), vector.plain) << text;
      EXPECT_TRUE(ok) << text;
    }
  }
  bool ok = false;
  EXPECT_EQ(Decoded("  mzxw 6ytb\toi==\n====\n", &ok), "foobar");
  EXPECT_TRUE(ok);
  // "MZ" and "M3" differ only in the two bits past the one byte they encode.
  EXPECT_EQ(Decoded("M3", &ok), "f");
  EXPECT_TRUE(ok);
}

TEST(Base32, RefusesMalformedTextWithoutQuotingIt) {
  const struct {
    const char* text;
    const char* reasonPart;
  } cases[] = {
      {"", "no base32 characters"},
      {"  \n", "no base32 characters"},
      {"========", "no base32 characters"},
      {"MZXW1YTB", "character 5"},     // 1 is not in the alphabet
      {"MZXW8YTB", "character 5"},
      {"MZXW6YT-", "character 8"},
      {"MZ=XW6YTB", "padding before the end"},
      {"M", "length"},                 // 1, 3 and 6 characters encode no whole byte count
      {"MZX", "length"},
      {"MZXW6Y", "length"},
      {"MZXW6YTBO", "length"},
      {"MY=", "padding"},              // padding present but short of the group
      {"MZXW6YTB========", "padding"},
  };
  for (const auto& c : cases) {
    SecretBuffer out;
    out.Append(0x55);  // whatever was there goes too
    std::string error;
    EXPECT_FALSE(DecodeBase32(c.text, out, error)) << c.text;
    EXPECT_NE(error.find(c.reasonPart), std::string::npos) << c.text << ": " << error;
    EXPECT_EQ(error.find('\n'), std::string::npos);
    EXPECT_TRUE(out.Empty()) << c.text;
  }
}

}  // namespace
