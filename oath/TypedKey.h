#pragma once
// A credential's secret as an operator types it: hex digits, with spaces anywhere.
#include <cstddef>
#include <optional>
#include <string>

#include "core/SecureBytes.h"

// At most this many bytes are read from the text; whatever does not fit is too long a key anyway.
inline constexpr std::size_t kTypedKeyCapacity = 128;

// The bytes of the typed text once its spaces are out, in pairs, at most kTypedKeyCapacity of
// them. No bytes when the text holds only spaces; nothing when it holds anything but hex digits
// and spaces, or an odd number of digits (which would write a different secret than the one
// typed). `error`, when given, receives the reason for an odd number of digits (kOddHexDigitsText)
// and is cleared otherwise. Every copy of the text made here is wiped.
std::optional<SecureBytes> ReadTypedHexKey(const SecureString& typed, std::string* error = nullptr);
