#include "oath/Base32.h"

#include <cstddef>
#include <cstdint>

#include "core/Translate.h"

using tokvane::Substitute;
using tokvane::Tr;

namespace {

constexpr std::size_t kGroupCharacters = 8;
constexpr unsigned kBitsPerCharacter = 5;

// Value of a base32 character in either case, or -1.
int Base32Value(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a';
  if (c >= '2' && c <= '7') return 26 + (c - '2');
  return -1;
}

bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

// Characters in the last group of a proper encoding: 8 (full), or 2, 4, 5, 7 for 1 to 4 bytes.
bool IsCompleteTail(std::size_t characters) {
  const std::size_t tail = characters % kGroupCharacters;
  return tail == 0 || tail == 2 || tail == 4 || tail == 5 || tail == 7;
}

bool Fail(SecretBuffer& out, std::string& error, std::string reason) {
  out.Clear();
  error = std::move(reason);
  return false;
}

}  // namespace

bool DecodeBase32(std::string_view text, SecretBuffer& out, std::string& error) {
  std::size_t characters = 0;  // alphabet characters seen
  std::size_t padding = 0;
  std::uint32_t bits = 0;
  unsigned bitCount = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (IsSpace(c)) continue;
    if (c == '=') {
      ++padding;
      continue;
    }
    const int value = Base32Value(c);
    if (value < 0) {
      return Fail(out, error,
                  Substitute(Tr("malformed base32 secret: character %1 is not in the base32 alphabet (A-Z, 2-7)"),
                             {std::to_string(i + 1)}));
    }
    if (padding > 0) return Fail(out, error, Tr("malformed base32 secret: '=' padding before the end"));
    ++characters;
    bits = (bits << kBitsPerCharacter) | static_cast<std::uint32_t>(value);
    bitCount += kBitsPerCharacter;
    if (bitCount >= 8) {
      bitCount -= 8;
      out.Append(static_cast<std::uint8_t>(bits >> bitCount));
      bits &= (1u << bitCount) - 1;
    }
  }
  bits = 0;
  if (characters == 0) return Fail(out, error, Tr("malformed base32 secret: no base32 characters"));
  if (!IsCompleteTail(characters)) {
    return Fail(out, error,
                Substitute(Tr("malformed base32 secret: %1 characters is not a length any base32 encoding has"),
                           {std::to_string(characters)}));
  }
  if (padding > 0 && (padding >= kGroupCharacters || (characters + padding) % kGroupCharacters != 0)) {
    return Fail(out, error, Tr("malformed base32 secret: wrong amount of '=' padding"));
  }
  return true;
}
