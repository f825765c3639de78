#pragma once
// The local HOTP check (RFC 4226, HMAC-SHA1): the code a credential written through Tokvane should
// produce, computed on the host to compare with the key's answer.
#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

using HotpCounterBlock = std::array<std::uint8_t, 8>;

// The 8-byte moving factor. Bytes 4 to 7 start as the first four characters of the imf text (zero
// where the text is shorter; all zero without one); the low 16 bits of `matchCount` are then added
// as a big-endian number, carries moving towards byte 1. The virtual key starts each credential's
// counter from BuildHotpCounterBlock(imf, 0), so both sides agree.
HotpCounterBlock BuildHotpCounterBlock(std::string_view imf, std::uint32_t matchCount);

// The code for `key` at BuildHotpCounterBlock(imf, matchCount): dynamic truncation of the
// HMAC-SHA1 digest, the last `digits` decimal digits with leading zeros. An empty imf means none.
// Empty when the key is empty, when digits is 0, or when the digest cannot be computed.
// Keys longer than the 64-byte SHA-1 block are hashed first, as HMAC prescribes.
std::string ComputeLocalHotp(std::span<const std::uint8_t> key, unsigned digits,
                             std::string_view imf, std::uint32_t matchCount);
