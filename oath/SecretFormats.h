#pragma once
// A credential's secret in the forms services hand it out, for the window and the CLI alike: hex,
// base32, or an otpauth://hotp URI that also brings the digits, the first counter and a name.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "core/SecretBuffer.h"
#include "core/Translate.h"

// Limits of the credentials the key stores (the same the credentials panel enforces).
inline constexpr std::size_t kMaxCredentialNameBytes = 16;
inline constexpr std::size_t kMaxSecretBytes = 48;

// Why hex text with an odd number of digits is no secret, in the window and the CLI alike.
// Translated where shown (core/Translate.h).
inline constexpr const char* kOddHexDigitsText = N_("malformed hex secret: an odd number of hex digits");
// Why hex text holding another character is no secret; %1 is the character's position from 1.
inline constexpr const char* kNotHexDigitText = N_("malformed hex secret: character %1 is not a hex digit");

enum class SecretFormat {
  Auto,  // an otpauth: URI when the text starts with one, hex otherwise
  Hex,
  Base32,
  Uri,
};

struct CredentialSecret {
  SecretBuffer key;
  bool fromUri = false;
  std::optional<std::uint8_t> digits;  // given by a URI
  // The initial moving factor as the put command carries it; empty for none. A URI counter N > 0
  // becomes the four bytes of N, big-endian, so the key and the local check count from N.
  std::string imf;
  std::uint32_t counter = 0;  // a URI's counter, as the number it is
  std::string name;           // the name a URI suggests (SuggestedName); empty otherwise
};

// True when `text`, leading white space aside, starts with "otpauth:" in any case.
bool StartsWithOtpauthScheme(std::string_view text);

// Hex digits in either case, in pairs, with white space anywhere (the panel strips spaces and
// pairs the digits by position). False with a one-line reason for any other character or an odd
// number of digits; the panel would silently drop the rest, which writes a different secret.
bool DecodeHexSecret(std::string_view text, SecretBuffer& out, std::string& error);

// Decodes `text` in `format` and checks the secret's length (1 to kMaxSecretBytes bytes). False
// with a one-line reason that never quotes the secret; `out.key` is then wiped and empty.
bool ParseSecret(std::string_view text, SecretFormat format, CredentialSecret& out, std::string& error);

// The moving-factor bytes for a counter (empty for 0, which is the counter block without one).
std::string ImfFromCounter(std::uint32_t counter);
