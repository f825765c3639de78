#pragma once
// A credential's secret as an operator types it: hex digits, with spaces anywhere.
#include <cstddef>
#include <optional>

#include "core/SecureBytes.h"

// At most this many bytes are read from the text; whatever does not fit is too long a key anyway.
inline constexpr std::size_t kTypedKeyCapacity = 128;

// The bytes of the typed text once its spaces are out, paired by position (an odd last digit is a
// byte of its own), at most kTypedKeyCapacity of them. No bytes when the text holds only spaces;
// nothing when it holds anything but hex digits and spaces. Every copy of the text made here is
// wiped.
std::optional<SecureBytes> ReadTypedHexKey(const SecureString& typed);
