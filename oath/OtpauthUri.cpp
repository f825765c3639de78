#include "oath/OtpauthUri.h"

#include <algorithm>
#include <cctype>
#include <set>

#include "oath/Base32.h"
#include "core/Translate.h"

using tokvane::Substitute;
using tokvane::Tr;

namespace {

constexpr std::string_view kScheme = "otpauth://";

bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

std::string_view Trim(std::string_view text) {
  while (!text.empty() && IsSpace(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsSpace(text.back())) text.remove_suffix(1);
  return text;
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Hands each byte of `text` to `sink`, %XX escapes decoded; false for a broken escape.
template <typename Sink>
bool PercentDecode(std::string_view text, Sink&& sink) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      sink(static_cast<std::uint8_t>(text[i]));
      continue;
    }
    if (i + 2 >= text.size()) return false;
    const int high = HexValue(text[i + 1]);
    const int low = HexValue(text[i + 2]);
    if (high < 0 || low < 0) return false;
    sink(static_cast<std::uint8_t>(high * 16 + low));
    i += 2;
  }
  return true;
}

bool DecodeText(std::string_view text, std::string& out) {
  out.clear();
  return PercentDecode(text, [&out](std::uint8_t byte) { out.push_back(static_cast<char>(byte)); });
}

bool ParseCounter(std::string_view text, std::uint32_t& counter) {
  if (text.empty() || text.size() > 10) return false;
  std::uint64_t value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<std::uint64_t>(c - '0');
  }
  if (value > 0xFFFFFFFFu) return false;
  counter = static_cast<std::uint32_t>(value);
  return true;
}

bool Fail(OtpauthCredential& out, std::string& error, std::string reason) {
  out.secret.Clear();
  error = Substitute(Tr("malformed otpauth URI: %1"), {reason});
  return false;
}

}  // namespace

bool ParseOtpauthUri(std::string_view uri, OtpauthCredential& out, std::string& error) {
  out.secret.Clear();
  out.digitsGiven = false;
  out.digits = 6;
  out.counter = 0;
  out.label.clear();
  out.issuer.clear();

  uri = Trim(uri);
  if (uri.size() < kScheme.size() || !EqualsIgnoringCase(uri.substr(0, kScheme.size()), kScheme)) {
    return Fail(out, error, Tr("it does not start with otpauth://"));
  }
  uri.remove_prefix(kScheme.size());

  const std::size_t typeEnd = uri.find('/');
  const std::string_view type = uri.substr(0, typeEnd);
  if (EqualsIgnoringCase(type, "totp")) {
    out.secret.Clear();
    error = Tr("TOTP URIs are not supported: the key's OATH applet holds counter-based (HOTP) credentials only");
    return false;
  }
  if (!EqualsIgnoringCase(type, "hotp")) return Fail(out, error, Tr("the type is not hotp"));
  if (typeEnd == std::string_view::npos) return Fail(out, error, Tr("no label and no parameters"));
  uri.remove_prefix(typeEnd + 1);

  const std::size_t queryStart = uri.find('?');
  // xgettext:no-c-format
  if (!DecodeText(uri.substr(0, queryStart), out.label)) return Fail(out, error, Tr("bad %-escape in the label"));
  if (queryStart == std::string_view::npos) return Fail(out, error, Tr("no secret parameter"));
  std::string_view query = uri.substr(queryStart + 1);

  std::set<std::string> seen;
  bool haveSecret = false;
  while (!query.empty()) {
    const std::size_t end = query.find('&');
    const std::string_view pair = query.substr(0, end);
    query = end == std::string_view::npos ? std::string_view{} : query.substr(end + 1);
    if (pair.empty()) continue;

    const std::size_t equals = pair.find('=');
    std::string key;
    // xgettext:no-c-format
    if (!DecodeText(pair.substr(0, equals), key)) return Fail(out, error, Tr("bad %-escape in a parameter name"));
    std::transform(key.begin(), key.end(), key.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    const std::string_view value = equals == std::string_view::npos ? std::string_view{} : pair.substr(equals + 1);
    if (!seen.insert(key).second) {
      // Only a name of our own is echoed: any other may be a secret written without "secret=".
      const bool known =
          key == "secret" || key == "digits" || key == "counter" || key == "issuer" || key == "algorithm";
      return Fail(out, error,
                  known ? Substitute(Tr("parameter '%1' given twice"), {key})
                        : std::string(Tr("a parameter is given twice")));
    }

    if (key == "secret") {
      SecretBuffer encoded;
      if (!PercentDecode(value, [&encoded](std::uint8_t byte) { encoded.Append(byte); })) {
        // xgettext:no-c-format
        return Fail(out, error, Tr("bad %-escape in the secret"));
      }
      std::string reason;
      if (!DecodeBase32(encoded.Text(), out.secret, reason)) return Fail(out, error, reason);
      haveSecret = true;
    } else if (key == "digits") {
      if (value != "6" && value != "8") return Fail(out, error, Tr("digits must be 6 or 8"));
      out.digits = static_cast<std::uint8_t>(value[0] - '0');
      out.digitsGiven = true;
    } else if (key == "counter") {
      if (!ParseCounter(value, out.counter)) {
        return Fail(out, error, Tr("counter must be a decimal number from 0 to 4294967295"));
      }
    } else if (key == "issuer") {
      // Only a suggestion for the name: a broken escape leaves it out rather than refusing the URI.
      if (!DecodeText(value, out.issuer)) out.issuer.clear();
    } else if (key == "algorithm") {
      std::string algorithm;
      if (!DecodeText(value, algorithm) || !EqualsIgnoringCase(algorithm, "SHA1")) {
        return Fail(out, error, Tr("algorithm must be SHA1, the only one the key computes"));
      }
    }
  }
  if (!haveSecret) return Fail(out, error, Tr("no secret parameter"));
  return true;
}

std::string SuggestedName(const OtpauthCredential& credential) {
  if (credential.issuer.empty() || credential.label.find(':') != std::string::npos) return credential.label;
  return credential.issuer + ":" + credential.label;
}
