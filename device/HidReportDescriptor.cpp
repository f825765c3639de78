#include "device/HidReportDescriptor.h"

#include <algorithm>
#include <array>
#include <map>

namespace {

// Item types and tags of the short items that matter here (HID 1.11, section 6.2.2).
constexpr std::uint8_t kTypeMain = 0;
constexpr std::uint8_t kTypeGlobal = 1;
constexpr std::uint8_t kTypeLocal = 2;

constexpr std::uint8_t kMainInput = 0x8;
constexpr std::uint8_t kMainOutput = 0x9;
constexpr std::uint8_t kMainCollection = 0xA;
constexpr std::uint8_t kMainFeature = 0xB;
constexpr std::uint8_t kMainEndCollection = 0xC;

constexpr std::uint8_t kGlobalUsagePage = 0x0;
constexpr std::uint8_t kGlobalReportSize = 0x7;
constexpr std::uint8_t kGlobalReportId = 0x8;
constexpr std::uint8_t kGlobalReportCount = 0x9;
constexpr std::uint8_t kGlobalPush = 0xA;
constexpr std::uint8_t kGlobalPop = 0xB;

constexpr std::uint8_t kLocalUsage = 0x0;

constexpr std::uint8_t kLongItemPrefix = 0xFE;

// Deeper nesting than any real device uses marks the descriptor as hostile.
constexpr std::size_t kMaxDepth = 64;
constexpr std::size_t kMaxPushDepth = 16;

struct GlobalState {
  std::uint16_t usagePage = 0;
  std::uint32_t reportSize = 0;
  std::uint32_t reportCount = 0;
  std::uint8_t reportId = 0;
};

enum ReportKind { kInput = 0, kOutput = 1, kFeature = 2 };

std::uint16_t ToReportLength(std::uint64_t bits) {
  if (bits == 0) return 0;
  const std::uint64_t bytes = (bits + 7) / 8 + 1;
  return static_cast<std::uint16_t>(std::min<std::uint64_t>(bytes, 0xFFFF));
}

}  // namespace

bool ParseHidReportDescriptor(const std::uint8_t* descriptor, std::size_t size, HidDescriptorSummary& summary) {
  summary = HidDescriptorSummary{};
  if (descriptor == nullptr) return size == 0;

  GlobalState global;
  std::vector<GlobalState> pushed;
  bool haveLocalUsage = false;
  HidCollectionUsage localUsage;
  std::size_t depth = 0;
  // Bits per report ID, per kind.
  std::array<std::map<std::uint8_t, std::uint64_t>, 3> bits;

  std::size_t pos = 0;
  while (pos < size) {
    const std::uint8_t prefix = descriptor[pos++];
    if (prefix == kLongItemPrefix) {
      if (size - pos < 2) return false;
      const std::size_t dataSize = descriptor[pos];
      pos += 2;
      if (size - pos < dataSize) return false;
      pos += dataSize;
      continue;
    }
    const std::size_t dataSize = (prefix & 0x03) == 3 ? 4 : (prefix & 0x03);
    const std::uint8_t type = (prefix >> 2) & 0x03;
    const std::uint8_t tag = prefix >> 4;
    if (size - pos < dataSize) return false;
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < dataSize; ++i) value |= static_cast<std::uint32_t>(descriptor[pos + i]) << (8 * i);
    pos += dataSize;

    if (type == kTypeGlobal) {
      switch (tag) {
        case kGlobalUsagePage: global.usagePage = static_cast<std::uint16_t>(value); break;
        case kGlobalReportSize: global.reportSize = value; break;
        case kGlobalReportCount: global.reportCount = value; break;
        case kGlobalReportId:
          global.reportId = static_cast<std::uint8_t>(value);
          summary.usesReportIds = true;
          break;
        case kGlobalPush:
          if (pushed.size() >= kMaxPushDepth) return false;
          pushed.push_back(global);
          break;
        case kGlobalPop:
          if (pushed.empty()) return false;
          global = pushed.back();
          pushed.pop_back();
          break;
        default: break;
      }
    } else if (type == kTypeLocal) {
      if (tag == kLocalUsage && !haveLocalUsage) {
        haveLocalUsage = true;
        if (dataSize == 4) {
          localUsage = {static_cast<std::uint16_t>(value >> 16), static_cast<std::uint16_t>(value & 0xFFFF)};
        } else {
          localUsage = {global.usagePage, static_cast<std::uint16_t>(value)};
        }
      }
    } else if (type == kTypeMain) {
      switch (tag) {
        case kMainCollection:
          if (depth == 0) summary.topLevelCollections.push_back(haveLocalUsage ? localUsage : HidCollectionUsage{global.usagePage, 0});
          if (++depth > kMaxDepth) return false;
          break;
        case kMainEndCollection:
          if (depth > 0) --depth;
          break;
        case kMainInput:
        case kMainOutput:
        case kMainFeature: {
          const ReportKind kind = tag == kMainInput ? kInput : tag == kMainOutput ? kOutput : kFeature;
          std::uint64_t& total = bits[kind][global.reportId];
          const std::uint64_t added = static_cast<std::uint64_t>(global.reportSize) * global.reportCount;
          total = std::min<std::uint64_t>(total + added, std::uint64_t{1} << 40);
          break;
        }
        default: break;
      }
      haveLocalUsage = false;
    }
  }

  auto longest = [&](ReportKind kind) {
    std::uint64_t most = 0;
    for (const auto& [id, count] : bits[kind]) most = std::max(most, count);
    return ToReportLength(most);
  };
  summary.lengths.input = longest(kInput);
  summary.lengths.output = longest(kOutput);
  summary.lengths.feature = longest(kFeature);
  return true;
}

bool HasWriteOnlyCollection(const HidDescriptorSummary& summary) {
  return std::any_of(summary.topLevelCollections.begin(), summary.topLevelCollections.end(),
                     [](const HidCollectionUsage& c) { return IsWriteOnlyCollection(c.usagePage, c.usage); });
}
