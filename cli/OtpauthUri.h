#pragma once
// otpauth:// URIs as authenticator apps and servers hand out credentials
// (otpauth://hotp/LABEL?secret=BASE32&digits=6&counter=0&issuer=...). Only HOTP URIs are taken:
// the key's OATH applet holds event-based credentials only.
#include <cstdint>
#include <string>
#include <string_view>

#include "cli/SecretBuffer.h"

namespace cli {

struct OtpauthCredential {
  SecretBuffer secret;        // the decoded key bytes
  bool digitsGiven = false;
  std::uint8_t digits = 6;    // 6 or 8
  std::uint32_t counter = 0;  // the first moving factor; the counter block holds 32 bits of it
  std::string label;          // percent-decoded, for messages only
};

// Parses `uri` (surrounding white space ignored) into `out`. False with a one-line reason in
// `error`, which names the offending part but never quotes the secret: not an otpauth URI, a TOTP
// or unknown type, a missing or malformed secret, digits other than 6 or 8, a counter that is not a
// number below 2^32, an algorithm other than SHA1, a parameter given twice, a bad %-escape.
// Unknown parameters (issuer, image, ...) are ignored.
bool ParseOtpauthUri(std::string_view uri, OtpauthCredential& out, std::string& error);

}  // namespace cli
