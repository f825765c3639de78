#pragma once
// otpauth:// URIs as authenticator apps and servers hand out credentials
// (otpauth://hotp/LABEL?secret=BASE32&digits=6&counter=0&issuer=...). Only HOTP URIs are taken:
// the key's OATH applet holds event-based credentials only.
#include <cstdint>
#include <string>
#include <string_view>

#include "core/SecretBuffer.h"

struct OtpauthCredential {
  SecretBuffer secret;        // the decoded key bytes
  bool digitsGiven = false;
  std::uint8_t digits = 6;    // 6 or 8
  std::uint32_t counter = 0;  // the first moving factor; the counter block holds 32 bits of it
  std::string label;          // percent-decoded
  std::string issuer;         // percent-decoded; empty when not given
};

// The credential name a URI suggests: a label that already reads ISSUER:ACCOUNT as it is,
// otherwise ISSUER:LABEL when an issuer is given, otherwise the label.
std::string SuggestedName(const OtpauthCredential& credential);

// Parses `uri` (surrounding white space ignored) into `out`. False with a one-line reason in
// `error`, which names the offending part but never quotes the secret: not an otpauth URI, a TOTP
// or unknown type, a missing or malformed secret, digits other than 6 or 8, a counter that is not a
// number below 2^32, an algorithm other than SHA1, a parameter given twice, a bad %-escape.
// The issuer is kept for the name; unknown parameters (image, ...) are ignored.
bool ParseOtpauthUri(std::string_view uri, OtpauthCredential& out, std::string& error);
