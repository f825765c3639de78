// Report lengths and top-level collections read from report descriptors: how the hidraw seam
// learns an interface's report lengths and whether it is a keyboard or mouse.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "device/HidReportDescriptor.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// The FIDO U2F HID descriptor: 64-byte input and output reports, no report IDs.
const Bytes kFidoDescriptor{
    0x06, 0xD0, 0xF1, 0x09, 0x01, 0xA1, 0x01,                    // usage page FIDO, usage U2F, collection
    0x09, 0x20, 0x15, 0x00, 0x26, 0xFF, 0x00, 0x75, 0x08, 0x95, 0x40, 0x81, 0x02,  // input 64 x 8
    0x09, 0x21, 0x15, 0x00, 0x26, 0xFF, 0x00, 0x75, 0x08, 0x95, 0x40, 0x91, 0x02,  // output 64 x 8
    0xC0};

// A keyboard with LEDs and a 107-byte feature report, as an OTP keyboard interface has.
const Bytes kKeyboardDescriptor{
    0x05, 0x01, 0x09, 0x06, 0xA1, 0x01,                                            // keyboard collection
    0x05, 0x07, 0x19, 0xE0, 0x29, 0xE7, 0x15, 0x00, 0x25, 0x01, 0x75, 0x01, 0x95, 0x08, 0x81, 0x02,  // modifiers
    0x95, 0x01, 0x75, 0x08, 0x81, 0x01,                                            // reserved byte
    0x95, 0x05, 0x75, 0x01, 0x05, 0x08, 0x19, 0x01, 0x29, 0x05, 0x91, 0x02,        // 5 LEDs
    0x95, 0x01, 0x75, 0x03, 0x91, 0x01,                                            // LED padding
    0x95, 0x06, 0x75, 0x08, 0x15, 0x00, 0x25, 0x65, 0x05, 0x07, 0x19, 0x00, 0x29, 0x65, 0x81, 0x00,  // keys
    0x09, 0x03, 0x75, 0x08, 0x95, 0x6B, 0xB1, 0x02,                                // feature 107 x 8
    0xC0};

// A mouse and a keyboard behind report IDs 1 and 2 in one interface.
const Bytes kComboDescriptor{
    0x05, 0x01, 0x09, 0x02, 0xA1, 0x01, 0x85, 0x01, 0x75, 0x08, 0x95, 0x03, 0x81, 0x02, 0xC0,
    0x05, 0x01, 0x09, 0x06, 0xA1, 0x01, 0x85, 0x02, 0x75, 0x08, 0x95, 0x08, 0x81, 0x02, 0xC0};

struct DescriptorCase {
  const char* name;
  Bytes descriptor;
  std::vector<std::pair<std::uint16_t, std::uint16_t>> collections;
  HidReportLengths lengths;
  bool reportIds;
  bool writeOnly;
};

TEST(HidReportDescriptorTest, LengthsCountTheReportIdByteAndCollectionsAreTheTopLevelOnes) {
  const std::vector<DescriptorCase> cases{
      {"FIDO", kFidoDescriptor, {{0xF1D0, 0x01}}, {65, 65, 0}, false, false},
      {"keyboard with feature report", kKeyboardDescriptor, {{0x01, 0x06}}, {9, 2, 108}, false, true},
      {"mouse and keyboard with report IDs", kComboDescriptor, {{0x01, 0x02}, {0x01, 0x06}}, {9, 0, 0}, true, true},
      {"extended usage names its own page",
       {0x0B, 0x01, 0x00, 0xD0, 0xF1, 0xA1, 0x01, 0x75, 0x08, 0x95, 0x40, 0x81, 0x02, 0xC0},
       {{0xF1D0, 0x01}}, {65, 0, 0}, false, false},
      {"long item skipped",
       {0xFE, 0x02, 0x10, 0xAA, 0xBB, 0x05, 0x01, 0x09, 0x06, 0xA1, 0x01, 0xC0}, {{0x01, 0x06}}, {0, 0, 0}, false, true},
      {"push and pop restore the report size",
       {0x06, 0xD0, 0xF1, 0x09, 0x01, 0xA1, 0x01, 0x75, 0x08, 0xA4, 0x75, 0x01, 0xB4, 0x95, 0x40, 0x81, 0x02, 0xC0},
       {{0xF1D0, 0x01}}, {65, 0, 0}, false, false},
      {"empty", {}, {}, {0, 0, 0}, false, false},
  };
  for (const DescriptorCase& c : cases) {
    SCOPED_TRACE(c.name);
    HidDescriptorSummary summary;
    ASSERT_TRUE(ParseHidReportDescriptor(c.descriptor.data(), c.descriptor.size(), summary));
    ASSERT_EQ(summary.topLevelCollections.size(), c.collections.size());
    for (std::size_t i = 0; i < c.collections.size(); ++i) {
      EXPECT_EQ(summary.topLevelCollections[i].usagePage, c.collections[i].first);
      EXPECT_EQ(summary.topLevelCollections[i].usage, c.collections[i].second);
    }
    EXPECT_EQ(summary.lengths.input, c.lengths.input);
    EXPECT_EQ(summary.lengths.output, c.lengths.output);
    EXPECT_EQ(summary.lengths.feature, c.lengths.feature);
    EXPECT_EQ(summary.usesReportIds, c.reportIds);
    EXPECT_EQ(HasWriteOnlyCollection(summary), c.writeOnly);
  }
}

TEST(HidReportDescriptorTest, MalformedDescriptorsAreRejectedWithoutReadingPastTheEnd) {
  const std::vector<Bytes> cases{
      Bytes(kFidoDescriptor.begin(), kFidoDescriptor.begin() + 2),  // usage page cut inside its data
      {0x27, 0xFF, 0xFF},                                           // four-byte item with two bytes left
      {0xFE, 0x05, 0x00, 0x01},                                     // long item longer than what is left
      {0xFE},                                                       // long item without its size
      {0xB4},                                                       // pop without push
      Bytes(100, 0xA4),                                             // pushes without end
      Bytes(200, 0xA1),                                             // collections nested without end
  };
  for (const Bytes& descriptor : cases) {
    HidDescriptorSummary summary;
    // Each copy is exactly as long as the descriptor, so a read past it shows under the sanitizer.
    const auto copy = std::make_unique<std::uint8_t[]>(descriptor.size());
    std::copy(descriptor.begin(), descriptor.end(), copy.get());
    EXPECT_FALSE(ParseHidReportDescriptor(copy.get(), descriptor.size(), summary)) << descriptor.size();
  }
}

TEST(HidReportDescriptorTest, HugeCountsSaturateInsteadOfWrapping) {
  const Bytes descriptor{0x06, 0xD0, 0xF1, 0x09, 0x01, 0xA1, 0x01, 0x77, 0xFF, 0xFF, 0xFF, 0xFF,
                         0x97, 0xFF, 0xFF, 0xFF, 0xFF, 0x81, 0x02, 0xC0};
  HidDescriptorSummary summary;
  ASSERT_TRUE(ParseHidReportDescriptor(descriptor.data(), descriptor.size(), summary));
  EXPECT_EQ(summary.lengths.input, 0xFFFF);
}

}  // namespace
