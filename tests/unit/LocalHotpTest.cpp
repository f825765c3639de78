#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <string>
#include <vector>

#include "oath/LocalHotp.h"
#include "oath/OathAnswers.h"
#include "tests/support/TestKeys.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

using test_keys::kRfcCodes6;
using test_keys::kRfcCodes8;
using test_keys::kRfcSecret;

// An independent HOTP value: OpenSSL's own HMAC over the given counter block.
std::string ReferenceHotp(const Bytes& key, const HotpCounterBlock& block, unsigned digits) {
  unsigned char mac[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  HMAC(EVP_sha1(), key.data(), static_cast<int>(key.size()), block.data(), block.size(), mac, &length);
  const unsigned offset = mac[19] & 0x0F;
  const std::uint32_t number = ((mac[offset] & 0x7Fu) << 24) | (mac[offset + 1] << 16) |
                               (mac[offset + 2] << 8) | mac[offset + 3];
  return FormatCodeNumber(number, digits);
}

TEST(LocalHotp, MatchesTheRfcVectorsThroughTheMatchCount) {
  for (std::uint32_t count = 0; count < 10; ++count) {
    EXPECT_EQ(ComputeLocalHotp(kRfcSecret, 6, "", count), kRfcCodes6[count]) << "count " << count;
    EXPECT_EQ(ComputeLocalHotp(kRfcSecret, 8, "", count), kRfcCodes8[count]) << "count " << count;
  }
}

TEST(LocalHotp, ImfCharactersStartTheCounterAndTheMatchCountAddsToIt) {
  // An imf whose four character codes spell the number 3, plus a match count of 2: count 5.
  const std::string_view imfThree("\0\0\0\x03", 4);
  EXPECT_EQ(ComputeLocalHotp(kRfcSecret, 6, imfThree, 0), kRfcCodes6[3]);
  EXPECT_EQ(ComputeLocalHotp(kRfcSecret, 6, imfThree, 2), kRfcCodes6[5]);
  // A typed imf: its characters, not a number read from them.
  EXPECT_EQ(ComputeLocalHotp(kRfcSecret, 6, "1234", 1),
            ReferenceHotp(kRfcSecret, {0, 0, 0, 0, '1', '2', '3', '5'}, 6));
  EXPECT_NE(ComputeLocalHotp(kRfcSecret, 6, "1234", 0), kRfcCodes6[1234 % 10]);
}

TEST(LocalHotp, CounterBlockLayout) {
  struct Case {
    const char* what;
    std::string imf;
    std::uint32_t matchCount;
    HotpCounterBlock block;
  };
  const Case cases[] = {
      {"no imf", "", 0, {0, 0, 0, 0, 0, 0, 0, 0}},
      {"no imf, count 258", "", 258, {0, 0, 0, 0, 0, 0, 1, 2}},
      {"imf characters in bytes 4 to 7", "AB12", 0, {0, 0, 0, 0, 'A', 'B', '1', '2'}},
      {"only the first four characters", "123456", 0, {0, 0, 0, 0, '1', '2', '3', '4'}},
      {"short imf leaves zeros", "12", 0, {0, 0, 0, 0, '1', '2', 0, 0}},
      {"carry through bytes 7, 6 and 5", std::string("\0\xFF\xFF\xFF", 4), 1, {0, 0, 0, 0, 1, 0, 0, 0}},
      {"carry out of the imf bytes", std::string("\xFF\xFF\xFF\xFF", 4), 1, {0, 0, 0, 1, 0, 0, 0, 0}},
      {"only the low 16 bits of the count", "", 0x12345, {0, 0, 0, 0, 0, 0, 0x23, 0x45}},
      {"count on top of the imf", "0000", 0x0110, {0, 0, 0, 0, '0', '0', '1', '@'}},
  };
  for (const auto& c : cases) EXPECT_EQ(BuildHotpCounterBlock(c.imf, c.matchCount), c.block) << c.what;
}

TEST(LocalHotp, EmptyKeyOrNoDigitsGiveNoCode) {
  EXPECT_EQ(ComputeLocalHotp({}, 6, "", 0), "");
  EXPECT_EQ(ComputeLocalHotp({}, 6, "1234", 3), "");
  EXPECT_EQ(ComputeLocalHotp(kRfcSecret, 0, "", 0), "");
}

TEST(LocalHotp, KeysOfEveryLengthAgreeWithOpenSslHmac) {
  // 48 bytes is the panel's limit; 64 fills the block exactly; longer keys are hashed first.
  for (std::size_t length : {1u, 20u, 48u, 63u, 64u, 65u, 100u}) {
    Bytes key(length);
    for (std::size_t i = 0; i < length; ++i) key[i] = static_cast<std::uint8_t>(i * 37 + 1);
    const HotpCounterBlock block = BuildHotpCounterBlock("9z", 7);
    EXPECT_EQ(ComputeLocalHotp(key, 8, "9z", 7), ReferenceHotp(key, block, 8)) << length << " bytes";
  }
}

}  // namespace
