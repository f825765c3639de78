#include "oath/OathAnswers.h"

#include <cstdio>
#include <utility>

namespace {

// Tag, Length and Kind (list) or Tag, Length and Digits (calculate) come before the bytes counted
// by Length - 1.
constexpr std::size_t kEntryHeader = 3;
constexpr std::size_t kCodeValueBytes = 4;
constexpr std::size_t kAppletVersionOffset = 8;

std::string HexText(const char* format, unsigned value) {
  char text[8] = {};
  std::snprintf(text, sizeof text, format, value);
  return text;
}

}  // namespace

std::vector<OathListEntry> ParseListResponse(const std::uint8_t* data, std::size_t length,
                                             bool* complete) {
  std::vector<OathListEntry> entries;
  if (data == nullptr) length = 0;
  std::size_t offset = 0;
  while (offset < length) {
    if (length - offset < kEntryHeader) break;
    const std::uint8_t entryLength = data[offset + 1];
    // Length counts the kind byte and the name: 0 would make the entry end before its kind byte.
    if (entryLength == 0) break;
    const std::size_t nameLength = entryLength - 1u;
    if (length - offset - kEntryHeader < nameLength) break;

    OathListEntry entry;
    entry.Tag = data[offset];
    entry.Length = entryLength;
    entry.Kind = data[offset + 2];
    const std::uint8_t* name = data + offset + kEntryHeader;
    entry.Name.assign(name, name + nameLength);
    entries.push_back(std::move(entry));
    offset += 2 + static_cast<std::size_t>(entryLength);
  }
  if (complete != nullptr) *complete = offset >= length;
  return entries;
}

std::optional<OathCalcAnswer> ParseCalcAnswer(const std::uint8_t* data, std::size_t length) {
  if (data == nullptr || length < kEntryHeader) return std::nullopt;
  OathCalcAnswer answer;
  answer.Tag = data[0];
  answer.Length = data[1];
  answer.Digits = data[2];
  if (answer.Length == 0) return std::nullopt;
  const std::size_t valueLength = answer.Length - 1u;
  if (length - kEntryHeader < valueLength) return std::nullopt;
  answer.Value.assign(data + kEntryHeader, data + kEntryHeader + valueLength);
  return answer;
}

std::string FormatCodeNumber(std::uint32_t number, unsigned digits) {
  std::string code(digits, '0');
  for (auto position = code.rbegin(); position != code.rend() && number != 0; ++position) {
    *position = static_cast<char>('0' + number % 10);
    number /= 10;
  }
  return code;
}

std::string FormatCode(const OathCalcAnswer& answer) {
  if (answer.Value.size() < kCodeValueBytes) return {};
  // Unsigned throughout: a first byte of 80 or more is a large number, not a negative one.
  const std::uint32_t number = (std::uint32_t{answer.Value[0]} << 24) |
                               (std::uint32_t{answer.Value[1]} << 16) |
                               (std::uint32_t{answer.Value[2]} << 8) | std::uint32_t{answer.Value[3]};
  return FormatCodeNumber(number, answer.Digits);
}

std::optional<OathVersionBytes> ReadAppletVersion(const std::uint8_t* data, std::size_t length) {
  if (data == nullptr || length < kAppletVersionOffset + 2) return std::nullopt;
  return OathVersionBytes{data[kAppletVersionOffset], data[kAppletVersionOffset + 1]};
}

std::string FormatAppletVersion(const OathVersionBytes& version) {
  return HexText("%x", version.First) + HexText("%x", version.Second);
}

std::optional<OathVersionBytes> ReadCosVersion(const std::uint8_t* data, std::size_t length) {
  if (data == nullptr || length < 2) return std::nullopt;
  return OathVersionBytes{data[0], data[1]};
}

std::string FormatCosVersion(const OathVersionBytes& version) {
  return HexText("%x", version.First) + HexText("%02x", version.Second);
}

bool CosVersionNeedsTouch(std::uint8_t b0, std::uint8_t b1) {
  if (b0 >= 0x31 && b0 <= 0x3F) return true;
  if (b0 == 0x43) return b1 >= 0x01;
  if (b0 >= 0x44 && b0 <= 0x4F) return true;
  if (b0 >= 0x60 && b0 <= 0x6F) return true;
  return false;
}

bool CosAnswerNeedsTouch(const std::uint8_t* data, std::size_t length) {
  if (data == nullptr) length = 0;
  return CosVersionNeedsTouch(length > 0 ? data[0] : 0, length > 1 ? data[1] : 0);
}
