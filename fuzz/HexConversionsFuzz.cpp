// The hex reader on arbitrary text and capacities: it never writes past the capacity it is given,
// and hex text it wrote itself reads back as the same bytes. The text conversions survive any
// input too.
#include <fuzzer/FuzzedDataProvider.h>

#include <clocale>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "core/Conversions.h"

namespace {

void Check(bool condition) {
  if (!condition) __builtin_trap();
}

bool IsPlainHexText(const std::string& text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (i % 3 == 2) {
      if (c != ' ') return false;
    } else if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))) {
      return false;
    }
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // The program runs in the user's locale, UTF-8 in practice.
  std::setlocale(LC_ALL, "C.UTF-8");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider provider(data, size);
  const std::uint32_t capacity = provider.ConsumeIntegralInRange<std::uint32_t>(0, 512);
  const std::string text = provider.ConsumeRemainingBytesAsString();

  // An exact-size heap buffer, so the address sanitizer sees any byte written past it.
  auto output = std::make_unique<std::uint8_t[]>(capacity == 0 ? 1 : capacity);
  const std::uint32_t written = HexToBytes(text, capacity == 0 ? nullptr : output.get(), capacity);
  Check(written <= capacity);
  Check(HexToBytes(text, nullptr, capacity) == 0);

  // Whatever was read writes back as well-formed text that reads as the same bytes.
  if (written != 0) {
    const std::string hex = BytesToHex(output.get(), written);
    Check(hex.size() == std::size_t{written} * 3 - 1);
    Check(IsPlainHexText(hex));
    std::vector<std::uint8_t> again(written);
    Check(HexToBytes(hex, again.data(), written) == written);
    Check(std::memcmp(again.data(), output.get(), written) == 0);
    Check(HexToBytes(RemoveSpaces(hex), again.data(), written) == written);
    Check(std::memcmp(again.data(), output.get(), written) == 0);
  }

  const std::string withoutSpaces = RemoveSpaces(text);
  Check(withoutSpaces.find(' ') == std::string::npos);
  Check(withoutSpaces.size() <= text.size());

  // Valid narrow text survives the trip through wide text unchanged; undecodable bytes become
  // marks, and a text never converts to nothing.
  const std::wstring wide = AnsiToWide(text);
  const std::string narrow = WideToAnsi(wide);
  const bool decodable = wide.find(kUndecodableCharacter) == std::wstring::npos;
  if (decodable && text.find('\0') == std::string::npos) Check(narrow == text);
  if (decodable) Check(AnsiToWide(narrow) == wide);
  if (!text.empty() && text[0] != '\0') Check(!wide.empty());
  return 0;
}
