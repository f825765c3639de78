#include "core/Conversions.h"


#include <climits>
#include <cwchar>

namespace {

constexpr char kUpperHexDigits[] = "0123456789ABCDEF";
constexpr char kLowerHexDigits[] = "0123456789abcdef";

}  // namespace

std::wstring AnsiToWide(const std::string& narrow) {
  std::wstring wide;
  wide.reserve(narrow.size());
  std::mbstate_t state{};
  const char* cursor = narrow.c_str();
  const char* const end = cursor + narrow.size();
  while (cursor < end) {
    wchar_t unit = 0;
    const std::size_t used = std::mbrtowc(&unit, cursor, static_cast<std::size_t>(end - cursor), &state);
    if (used == static_cast<std::size_t>(-1) || used == static_cast<std::size_t>(-2)) {
      // A byte the locale cannot read (a reader name in another encoding) still shows as a mark,
      // so the rest of the text stays readable.
      wide.push_back(kUndecodableCharacter);
      state = std::mbstate_t{};
      ++cursor;
      continue;
    }
    if (used == 0) break;  // an embedded zero ends the text
    wide.push_back(unit);
    cursor += used;
  }
  return wide;
}

std::string WideToAnsi(const std::wstring& wide) {
  std::string narrow;
  narrow.reserve(wide.size());
  std::mbstate_t state{};
  char buffer[MB_LEN_MAX];
  for (const wchar_t unit : wide) {
    if (unit == L'\0') break;
    const std::size_t written = std::wcrtomb(buffer, unit, &state);
    if (written == static_cast<std::size_t>(-1)) {
      narrow.push_back('?');
      state = std::mbstate_t{};
      continue;
    }
    narrow.append(buffer, written);
  }
  return narrow;
}

std::string RemoveSpaces(const std::string& text) {
  std::string result;
  result.reserve(text.size());
  for (const char c : text) {
    if (c != ' ') result.push_back(c);
  }
  return result;
}

std::string BytesToHex(const std::uint8_t* bytes, std::uint32_t count) {
  std::string text;
  if (bytes == nullptr || count == 0) return text;
  text.resize(static_cast<std::size_t>(count) * 3 - 1, ' ');
  char* out = text.data();
  for (std::uint32_t i = 0; i < count; ++i) {
    out[0] = kUpperHexDigits[bytes[i] >> 4];
    out[1] = kUpperHexDigits[bytes[i] & 0x0F];
    out += 3;
  }
  return text;
}

void AppendHex(std::string& out, std::span<const std::uint8_t> bytes, HexLetters letters, HexPairs pairs) {
  const char* digits = letters == HexLetters::Upper ? kUpperHexDigits : kLowerHexDigits;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (i != 0 && pairs == HexPairs::Spaced) out.push_back(' ');
    out.push_back(digits[bytes[i] >> 4]);
    out.push_back(digits[bytes[i] & 0x0F]);
  }
}
