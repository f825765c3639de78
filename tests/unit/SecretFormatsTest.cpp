#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>

#include <cstdint>
#include <string>
#include <vector>

#include "oath/OtpauthUri.h"
#include "oath/SecretFormats.h"

namespace {


std::vector<std::uint8_t> Bytes(const SecretBuffer& buffer) {
  return {buffer.Bytes().begin(), buffer.Bytes().end()};
}

std::vector<std::uint8_t> Ascii(const std::string& text) { return {text.begin(), text.end()}; }

// The secret of RFC 4226, appendix D, in base32.
constexpr const char* kRfcSecretBase32 = "GEZDGNBVGY3TQOJQGEZDGNBVGY3TQOJQ";
constexpr const char* kRfcSecret = "12345678901234567890";

TEST(HexSecret, TakesThePanelsFormsAndRefusesWhatItWouldMangle) {
  const struct {
    const char* text;
    bool ok;
    std::vector<std::uint8_t> bytes;
  } cases[] = {
      {"00a4ff", true, {0x00, 0xA4, 0xFF}},
      {"00 A4 FF", true, {0x00, 0xA4, 0xFF}},
      {"  0 0a4 f f\n", true, {0x00, 0xA4, 0xFF}},  // spaces go, digits pair by position
      {"00a4f", false, {}},                          // odd: the panel would make the last nibble a byte
      {"1G23", false, {}},                           // the panel would keep only 0x01
      {"0x12", false, {}},
      {"12-34", false, {}},
  };
  for (const auto& c : cases) {
    SecretBuffer out;
    std::string error;
    EXPECT_EQ(DecodeHexSecret(c.text, out, error), c.ok) << c.text;
    EXPECT_EQ(Bytes(out), c.bytes) << c.text;
    if (!c.ok) {
      EXPECT_NE(error.find("malformed hex secret"), std::string::npos) << error;
    }
  }
}

TEST(Secret, ChecksTheLengthTheKeyTakes) {
  const std::string hex48(96, 'a');
  const struct {
    std::string text;
    SecretFormat format;
    const char* reasonPart;  // empty: accepted
  } cases[] = {
      {hex48, SecretFormat::Hex, ""},
      {hex48 + "bb", SecretFormat::Hex, "49 bytes"},
      {"", SecretFormat::Hex, "empty"},
      {"  \n", SecretFormat::Auto, "empty"},
      {std::string(77, 'A') + "===", SecretFormat::Base32, ""},           // 48 bytes
      {std::string(72, 'A') + "AAAAAAA=", SecretFormat::Base32, "49 bytes"},
      {std::string(80, 'A'), SecretFormat::Base32, "50 bytes"},
  };
  for (const auto& c : cases) {
    CredentialSecret out;
    std::string error;
    const bool accepted = std::string(c.reasonPart).empty();
    EXPECT_EQ(ParseSecret(c.text, c.format, out, error), accepted) << c.text;
    if (accepted) {
      EXPECT_EQ(out.key.Size(), kMaxSecretBytes);
    } else {
      EXPECT_NE(error.find(c.reasonPart), std::string::npos) << error;
      EXPECT_TRUE(out.key.Empty());
    }
  }
}

TEST(Secret, AutoTakesUrisByTheirSchemeAndEverythingElseAsHex) {
  CredentialSecret out;
  std::string error;
  ASSERT_TRUE(ParseSecret("  OTPAUTH://hotp/x?secret=MZXW6YTBOI", SecretFormat::Auto, out, error)) << error;
  EXPECT_EQ(Bytes(out.key), Ascii("foobar"));
  EXPECT_TRUE(out.fromUri);

  ASSERT_TRUE(ParseSecret("666f6f", SecretFormat::Auto, out, error)) << error;
  EXPECT_EQ(Bytes(out.key), Ascii("foo"));
  EXPECT_FALSE(out.fromUri);

  // A base32 secret is not guessed: hex is the default.
  EXPECT_FALSE(ParseSecret(kRfcSecretBase32, SecretFormat::Auto, out, error));
  EXPECT_NE(error.find("character 1 is not a hex digit"), std::string::npos) << error;
  ASSERT_TRUE(ParseSecret(kRfcSecretBase32, SecretFormat::Base32, out, error)) << error;
  EXPECT_EQ(Bytes(out.key), Ascii(kRfcSecret));

  // Asking for hex does not take a URI.
  EXPECT_FALSE(ParseSecret("otpauth://hotp/x?secret=MZXW6YTBOI", SecretFormat::Hex, out, error));
}

TEST(Secret, UriCounterBecomesTheMovingFactorBytes) {
  CredentialSecret out;
  std::string error;
  ASSERT_TRUE(ParseSecret(std::string("otpauth://hotp/Maker:op?secret=") + kRfcSecretBase32 +
                                   "&digits=8&counter=258",
                               SecretFormat::Uri, out, error))
      << error;
  EXPECT_EQ(Bytes(out.key), Ascii(kRfcSecret));
  ASSERT_TRUE(out.digits.has_value());
  EXPECT_EQ(*out.digits, 8);
  EXPECT_EQ(out.imf, std::string("\x00\x00\x01\x02", 4));
  EXPECT_EQ(out.counter, 258u);
  EXPECT_EQ(out.name, "Maker:op");

  ASSERT_TRUE(ParseSecret(std::string("otpauth://hotp/op?secret=") + kRfcSecretBase32 + "&counter=0",
                               SecretFormat::Uri, out, error));
  EXPECT_EQ(out.imf, "");  // counter 0 is the counter block without a moving factor
  EXPECT_FALSE(out.digits.has_value());
  EXPECT_EQ(out.name, "op");

  // The issuer goes before a label that does not carry it already.
  ASSERT_TRUE(ParseSecret(std::string("otpauth://hotp/op?issuer=Maker&secret=") + kRfcSecretBase32,
                          SecretFormat::Uri, out, error));
  EXPECT_EQ(out.name, "Maker:op");
  ASSERT_TRUE(ParseSecret(std::string("otpauth://hotp/Maker:op?issuer=Other&secret=") + kRfcSecretBase32,
                          SecretFormat::Uri, out, error));
  EXPECT_EQ(out.name, "Maker:op");
  // A hex secret suggests no name.
  ASSERT_TRUE(ParseSecret("666f6f", SecretFormat::Hex, out, error));
  EXPECT_EQ(out.name, "");

  EXPECT_EQ(ImfFromCounter(0xFFFFFFFFu), std::string("\xFF\xFF\xFF\xFF", 4));
}

TEST(OtpauthUri, ReadsSecretDigitsCounterAndLabel) {
  OtpauthCredential out;
  std::string error;
  ASSERT_TRUE(ParseOtpauthUri(
      "otpauth://HOTP/ACME%20Co:john%40example.com?issuer=ACME%20Co&Secret=mzxw6ytboi%3D%3D%3D%3D%3D%3D"
      "&algorithm=sha1&digits=6&counter=4294967295&period=30",
      out, error))
      << error;
  EXPECT_EQ(Bytes(out.secret), Ascii("foobar"));
  EXPECT_TRUE(out.digitsGiven);
  EXPECT_EQ(out.digits, 6);
  EXPECT_EQ(out.counter, 4294967295u);
  EXPECT_EQ(out.label, "ACME Co:john@example.com");
  EXPECT_EQ(out.issuer, "ACME Co");
  EXPECT_EQ(SuggestedName(out), "ACME Co:john@example.com");
}

TEST(OtpauthUri, RefusesWhatTheKeyCannotHoldWithAOneLineReason) {
  const struct {
    const char* uri;
    const char* reasonPart;
  } cases[] = {
      {"otpauth://totp/x?secret=MZXW6YTBOI&period=30",
       "TOTP URIs are not supported: the key's OATH applet holds counter-based (HOTP) credentials only"},
      {"OTPAUTH://TOTP/x?secret=MZXW6YTBOI", "TOTP"},
      {"otpauth://motp/x?secret=MZXW6YTBOI", "not hotp"},
      {"https://hotp/x?secret=MZXW6YTBOI", "otpauth://"},
      {"otpauth://hotp", "no label"},
      {"otpauth://hotp/x", "no secret"},
      {"otpauth://hotp/x?digits=6", "no secret"},
      {"otpauth://hotp/x?secret=", "no base32 characters"},
      {"otpauth://hotp/x?secret=MZXW1YTBOI", "base32"},
      {"otpauth://hotp/x?secret=MZXW6YTBOI&digits=7", "digits must be 6 or 8"},
      {"otpauth://hotp/x?secret=MZXW6YTBOI&digits=", "digits must be 6 or 8"},
      {"otpauth://hotp/x?secret=MZXW6YTBOI&counter=4294967296", "counter"},
      {"otpauth://hotp/x?secret=MZXW6YTBOI&counter=-1", "counter"},
      {"otpauth://hotp/x?secret=MZXW6YTBOI&counter=1e3", "counter"},
      {"otpauth://hotp/x?secret=MZXW6YTBOI&algorithm=SHA256", "SHA1"},
      {"otpauth://hotp/x?secret=MZXW6YTBOI&secret=MZXW6YTBOI", "given twice"},
      {"otpauth://hotp/x?secret=MZXW6YTBOI&digits=6&DIGITS=8", "parameter 'digits' given twice"},
      // The secret written without "secret=", twice: the repeated name is the secret itself.
      {"otpauth://hotp/x?MZXW6YTBOI&MZXW6YTBOI", "a parameter is given twice"},
      {"otpauth://hotp/x?secret=MZXW6YTBOI&MZXW6YTBOI=1&MZXW6YTBOI=2", "a parameter is given twice"},
      {"otpauth://hotp/x?secret=MZXW6%2YTBOI", "%-escape"},
      {"otpauth://hotp/x?secret=MZXW6YTBOI%", "%-escape"},
      {"otpauth://hotp/bad%zzlabel?secret=MZXW6YTBOI", "%-escape"},
  };
  for (const auto& c : cases) {
    OtpauthCredential out;
    std::string error;
    EXPECT_FALSE(ParseOtpauthUri(c.uri, out, error)) << c.uri;
    EXPECT_NE(error.find(c.reasonPart), std::string::npos) << c.uri << ": " << error;
    EXPECT_EQ(error.find('\n'), std::string::npos);
    std::string lower = error;
    std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char ch) { return std::tolower(ch); });
    EXPECT_EQ(lower.find("mzxw"), std::string::npos) << "the secret must not be quoted: " << error;
    EXPECT_TRUE(out.secret.Empty()) << c.uri;
  }
}

TEST(SecretBuffer, KeepsItsBytesAcrossGrowthAndMoves) {
  SecretBuffer buffer;
  std::vector<std::uint8_t> expected;
  for (int i = 0; i < 1000; ++i) {
    buffer.Append(static_cast<std::uint8_t>(i));
    expected.push_back(static_cast<std::uint8_t>(i));
  }
  SecretBuffer moved(std::move(buffer));
  EXPECT_TRUE(buffer.Empty());  // NOLINT(bugprone-use-after-move): a moved-from buffer is empty
  EXPECT_EQ(Bytes(moved), expected);
  moved.Clear();
  EXPECT_TRUE(moved.Empty());
}

}  // namespace
