#include "oath/TypedKey.h"

#include <algorithm>
#include <string>

#include "oath/SecretFormats.h"
#include "core/Translate.h"

namespace {

bool IsHexDigit(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return c - 'A' + 10;
}

}  // namespace

std::optional<SecureBytes> ReadTypedHexKey(const SecureString& typed, std::string* error) {
  if (error != nullptr) error->clear();
  SecureString digits(typed);
  std::erase(digits.str(), ' ');
  // Anything but hex digits would be cut off silently by a conversion and write a shorter (or
  // empty) secret than the one typed.
  if (!std::all_of(digits.str().begin(), digits.str().end(), IsHexDigit)) return std::nullopt;
  // "ABC" would become AB 0C: a key the operator never typed.
  if (digits.str().size() % 2 != 0) {
    if (error != nullptr) *error = tokvane::Tr(kOddHexDigitsText);
    return std::nullopt;
  }
  // Decoded here, straight into wiped storage, because the text is a secret.
  const std::string& text = digits.str();
  SecureBytes bytes(std::min(kTypedKeyCapacity, text.size() / 2));
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    bytes.data()[i] = static_cast<std::uint8_t>(HexValue(text[2 * i]) * 16 + HexValue(text[2 * i + 1]));
  }
  return bytes;
}
