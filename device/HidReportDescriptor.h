#pragma once
// What the HID layer needs to know from an interface's report descriptor: its top-level
// collections (to tell keyboard and mouse interfaces from the rest) and its report lengths.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "device/HidApi.h"

struct HidCollectionUsage {
  std::uint16_t usagePage = 0;
  std::uint16_t usage = 0;
};

struct HidDescriptorSummary {
  std::vector<HidCollectionUsage> topLevelCollections;
  // Longest report of each kind in bytes, the report-ID byte counted; 0 when there is none.
  HidReportLengths lengths;
  // Numbered reports carry their ID in the first byte on the wire; unnumbered ones do not.
  bool usesReportIds = false;
};

// False for a descriptor that ends inside an item or nests too deeply; `summary` is then not to
// be relied on.
bool ParseHidReportDescriptor(const std::uint8_t* descriptor, std::size_t size, HidDescriptorSummary& summary);

// True when any top-level collection is a keyboard or a mouse.
bool HasWriteOnlyCollection(const HidDescriptorSummary& summary);
