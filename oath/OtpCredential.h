#pragma once
// One HOTP credential the panel knows of: listed from the key, or written through the panel
// (then with its key, digits and imf, so the key's codes can be checked locally).
#include <cstdint>
#include <string>

#include "core/SecureBytes.h"

struct OtpCredential {
  // The name as the key stores it: raw bytes, compared byte for byte, never re-encoded.
  std::string Name;
  // The secret as last written through the panel; empty for credentials that were only listed.
  SecureBytes Key;
  int Digits = 6;
  // The initial moving factor text as last written; empty for listed credentials.
  std::string Imf;
  std::string CardCode;
  std::string LocalCode;
  // Calculations whose key code and local code agreed, since creation or the last rewrite.
  std::uint32_t MatchCount = 0;
};
