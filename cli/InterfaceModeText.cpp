#include "cli/InterfaceModeText.h"

#include <algorithm>
#include <array>
#include <cctype>

namespace cli {

namespace {

struct InterfaceName {
  std::string_view name;
  std::uint8_t bit;
};

constexpr std::array<InterfaceName, 3> kInterfaceNames{{
    {"otp", kModeOtp},
    {"u2f", kModeU2f},
    {"ccid", kModeCcid},
}};

std::optional<std::uint8_t> BitOf(std::string_view part) {
  std::string lower(part);
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  for (const auto& entry : kInterfaceNames) {
    if (entry.name == lower) return entry.bit;
  }
  return std::nullopt;
}

}  // namespace

std::optional<std::uint8_t> ParseInterfaceSet(std::string_view text) {
  std::uint8_t mode = 0;
  for (;;) {
    const std::size_t plus = text.find('+');
    const auto bit = BitOf(text.substr(0, plus));
    if (!bit || (mode & *bit) != 0) return std::nullopt;
    mode = static_cast<std::uint8_t>(mode | *bit);
    if (plus == std::string_view::npos) break;
    text.remove_prefix(plus + 1);
  }
  return mode;
}

std::string FormatInterfaceSet(std::uint8_t mode) {
  std::string text;
  for (const auto& entry : kInterfaceNames) {
    if ((mode & entry.bit) == 0) continue;
    if (!text.empty()) text += '+';
    text += entry.name;
  }
  return text.empty() ? "none" : text;
}

}  // namespace cli
