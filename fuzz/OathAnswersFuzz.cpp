// The readers of key answers on arbitrary bytes: they must stay inside the data and give codes and
// versions of the promised shape, or nothing.
#include <cstddef>
#include <cstdint>
#include <string>

#include "oath/OathAnswers.h"

namespace {

void Check(bool condition) {
  if (!condition) __builtin_trap();
}

bool AllDecimal(const std::string& text) {
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  bool complete = false;
  const auto entries = ParseListResponse(data, size, &complete);
  std::size_t consumed = 0;
  for (const auto& entry : entries) {
    Check(entry.Length >= 1 && entry.Name.size() == entry.Length - 1u);
    consumed += 2u + entry.Length;
  }
  Check(consumed <= size);
  Check(complete == (consumed == size));

  if (const auto answer = ParseCalcAnswer(data, size)) {
    Check(answer->Length >= 1 && answer->Value.size() == answer->Length - 1u);
    Check(answer->Value.size() + 3 <= size);
    const std::string code = FormatCode(*answer);
    if (answer->Value.size() >= 4) {
      Check(code.size() == answer->Digits && AllDecimal(code));
    } else {
      Check(code.empty());
    }
  }

  if (const auto version = ReadAppletVersion(data, size)) {
    Check(size >= 10);
    Check(FormatAppletVersion(*version).size() <= 4);
  }
  if (const auto version = ReadCosVersion(data, size)) {
    Check(size >= 2);
    const std::string text = FormatCosVersion(*version);
    Check(text.size() >= 3 && text.size() <= 4);
    CosVersionNeedsTouch(version->First, version->Second);
  }
  return 0;
}
