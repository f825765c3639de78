#include "oath/SecretFormats.h"

#include <algorithm>
#include <cctype>

#include "oath/Base32.h"
#include "oath/OtpauthUri.h"
#include "core/Translate.h"

using tokvane::Substitute;
using tokvane::Tr;

namespace {

constexpr std::string_view kUriScheme = "otpauth:";

bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool Fail(CredentialSecret& out, std::string& error, std::string reason) {
  out.key.Clear();
  error = std::move(reason);
  return false;
}

}  // namespace

bool StartsWithOtpauthScheme(std::string_view text) {
  while (!text.empty() && IsSpace(text.front())) text.remove_prefix(1);
  if (text.size() < kUriScheme.size()) return false;
  return std::equal(kUriScheme.begin(), kUriScheme.end(), text.begin(), [](char a, char b) {
    return a == std::tolower(static_cast<unsigned char>(b));
  });
}

bool DecodeHexSecret(std::string_view text, SecretBuffer& out, std::string& error) {
  int high = -1;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (IsSpace(text[i])) continue;
    const int value = HexValue(text[i]);
    if (value < 0) {
      out.Clear();
      error = Substitute(Tr(kNotHexDigitText), {std::to_string(i + 1)});
      return false;
    }
    if (high < 0) {
      high = value;
    } else {
      out.Append(static_cast<std::uint8_t>(high * 16 + value));
      high = -1;
    }
  }
  if (high >= 0) {
    high = 0;
    out.Clear();
    error = Tr(kOddHexDigitsText);
    return false;
  }
  return true;
}

bool ParseSecret(std::string_view text, SecretFormat format, CredentialSecret& out, std::string& error) {
  out.key.Clear();
  out.fromUri = false;
  out.digits.reset();
  out.imf.clear();
  out.counter = 0;
  out.name.clear();
  if (format == SecretFormat::Auto) {
    format = StartsWithOtpauthScheme(text) ? SecretFormat::Uri : SecretFormat::Hex;
  }

  std::string reason;
  switch (format) {
    case SecretFormat::Hex:
      if (!DecodeHexSecret(text, out.key, reason)) return Fail(out, error, reason);
      break;
    case SecretFormat::Base32:
      if (!DecodeBase32(text, out.key, reason)) return Fail(out, error, reason);
      break;
    case SecretFormat::Uri:
    case SecretFormat::Auto: {
      OtpauthCredential uri;
      if (!ParseOtpauthUri(text, uri, reason)) return Fail(out, error, reason);
      out.key = std::move(uri.secret);
      out.fromUri = true;
      if (uri.digitsGiven) out.digits = uri.digits;
      out.imf = ImfFromCounter(uri.counter);
      out.counter = uri.counter;
      out.name = SuggestedName(uri);
      break;
    }
  }

  if (out.key.Empty()) return Fail(out, error, Tr("the secret is empty"));
  if (out.key.Size() > kMaxSecretBytes) {
    return Fail(out, error, Substitute(Tr("the secret is %1 bytes long; the key takes at most %2"),
                                       {std::to_string(out.key.Size()), std::to_string(kMaxSecretBytes)}));
  }
  return true;
}

std::string ImfFromCounter(std::uint32_t counter) {
  if (counter == 0) return {};
  return std::string{static_cast<char>(counter >> 24), static_cast<char>(counter >> 16),
                     static_cast<char>(counter >> 8), static_cast<char>(counter)};
}
