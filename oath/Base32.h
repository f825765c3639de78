#pragma once
// Base32 of RFC 4648 (alphabet A-Z, 2-7) as secrets are handed out: spaces and other white space
// anywhere, lower case, and '=' padding, present or left out, are all accepted.
#include <string>
#include <string_view>

#include "core/SecretBuffer.h"

// Appends the decoded bytes to `out`. False with a one-line reason in `error` (which never quotes
// the input: it is a secret) for a character outside the alphabet, padding anywhere but the end
// or in a wrong amount, or a length no encoding produces (1, 3 or 6 characters in the last group).
// Bits left over in the last character are ignored. On failure `out` is left wiped and empty.
bool DecodeBase32(std::string_view text, SecretBuffer& out, std::string& error);
