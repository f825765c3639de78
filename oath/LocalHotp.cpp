#include "oath/LocalHotp.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <memory>

#include "core/SecureBytes.h"
#include "oath/OathAnswers.h"

namespace {

constexpr std::size_t kShaBlock = 64;
constexpr std::size_t kShaDigest = 20;
constexpr std::uint8_t kInnerPad = 0x36;
constexpr std::uint8_t kOuterPad = 0x5C;
constexpr std::size_t kImfBytes = 4;
constexpr std::size_t kImfOffset = 4;

// EVP_MD_CTX_free resets the context, which clears and frees the digest state it held.
struct DigestContextFree {
  void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};
using DigestContext = std::unique_ptr<EVP_MD_CTX, DigestContextFree>;

// SHA-1 over two pieces: the HMAC inner and outer passes both have this shape.
bool Sha1(EVP_MD_CTX* context, std::span<const std::uint8_t> first,
          std::span<const std::uint8_t> second, std::uint8_t* digest) {
  unsigned int written = 0;
  const bool ok = EVP_DigestInit_ex(context, EVP_sha1(), nullptr) == 1 &&
                  EVP_DigestUpdate(context, first.data(), first.size()) == 1 &&
                  EVP_DigestUpdate(context, second.data(), second.size()) == 1 &&
                  EVP_DigestFinal_ex(context, digest, &written) == 1 && written == kShaDigest;
  // Leave no intermediate state behind in the context, whatever happened.
  EVP_MD_CTX_reset(context);
  return ok;
}

// HMAC-SHA1 (RFC 2104) of `message` under `key`, built from plain SHA-1 digests.
bool HmacSha1(std::span<const std::uint8_t> key, std::span<const std::uint8_t> message,
              std::uint8_t* mac) {
  DigestContext context(EVP_MD_CTX_new());
  if (!context) return false;

  std::array<std::uint8_t, kShaBlock> keyBlock{};
  const ScopedWipe wipeKeyBlock(keyBlock);
  if (key.size() > kShaBlock) {
    if (!Sha1(context.get(), key, {}, keyBlock.data())) return false;
  } else {
    std::copy(key.begin(), key.end(), keyBlock.begin());
  }

  std::array<std::uint8_t, kShaBlock> innerPad{};
  const ScopedWipe wipeInnerPad(innerPad);
  std::array<std::uint8_t, kShaBlock> outerPad{};
  const ScopedWipe wipeOuterPad(outerPad);
  for (std::size_t i = 0; i < kShaBlock; ++i) {
    innerPad[i] = keyBlock[i] ^ kInnerPad;
    outerPad[i] = keyBlock[i] ^ kOuterPad;
  }

  std::array<std::uint8_t, kShaDigest> inner{};
  const ScopedWipe wipeInner(inner);
  return Sha1(context.get(), innerPad, message, inner.data()) &&
         Sha1(context.get(), outerPad, inner, mac);
}

}  // namespace

HotpCounterBlock BuildHotpCounterBlock(std::string_view imf, std::uint32_t matchCount) {
  HotpCounterBlock block{};
  for (std::size_t i = 0; i < kImfBytes && i < imf.size(); ++i) {
    block[kImfOffset + i] = static_cast<std::uint8_t>(imf[i]);
  }
  unsigned carry = matchCount & 0xFFFFu;
  for (std::size_t i = block.size() - 1; i >= 1 && carry != 0; --i) {
    const unsigned sum = block[i] + (carry & 0xFFu);
    block[i] = static_cast<std::uint8_t>(sum);
    carry = (carry >> 8) + (sum >> 8);
  }
  return block;
}

std::string ComputeLocalHotp(std::span<const std::uint8_t> key, unsigned digits,
                             std::string_view imf, std::uint32_t matchCount) {
  if (key.empty() || digits == 0) return {};
  const HotpCounterBlock counter = BuildHotpCounterBlock(imf, matchCount);

  std::array<std::uint8_t, kShaDigest> mac{};
  const ScopedWipe wipeMac(mac);
  if (!HmacSha1(key, counter, mac.data())) return {};

  const std::size_t offset = mac[kShaDigest - 1] & 0x0Fu;
  const std::uint32_t number = ((std::uint32_t{mac[offset]} & 0x7Fu) << 24) |
                               (std::uint32_t{mac[offset + 1]} << 16) |
                               (std::uint32_t{mac[offset + 2]} << 8) |
                               std::uint32_t{mac[offset + 3]};
  return FormatCodeNumber(number, digits);
}
