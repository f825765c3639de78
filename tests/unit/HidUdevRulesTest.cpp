// The udev rules made from the VID/PID list: one rule per distinct entry, matched on the IDs of
// the USB device the hidraw node's own interface belongs to, and a warning on every rule that
// grants a whole vendor.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "device/HidUdevRules.h"

namespace {

std::vector<std::string> Lines(const std::string& rules, bool withComments) {
  std::vector<std::string> lines;
  std::istringstream in(rules);
  for (std::string line; std::getline(in, line);) {
    if (withComments || (!line.empty() && line[0] != '#')) lines.push_back(line);
  }
  return lines;
}

TEST(HidUdevRulesTest, OneRulePerDistinctEntryOnTheUsbDeviceOfTheNodeOnlyForHidrawNodes) {
  const std::vector<VidPidEntry> entries{VidPidEntry::Make(0x1209, 0), VidPidEntry::Make(0x20A0, 0xBEEF),
                                         VidPidEntry::Make(0x1209, 0), VidPidEntry::Make(0x000A, 0x0001)};
  EXPECT_EQ(Lines(MakeUdevRules(entries), false),
            (std::vector<std::string>{
                R"(ACTION=="remove", GOTO="tokvane_end")",
                R"(SUBSYSTEM!="hidraw", GOTO="tokvane_end")",
                R"(KERNEL!="hidraw*", GOTO="tokvane_end")",
                R"(SUBSYSTEMS=="usb", ATTRS{idVendor}=="1209|20a0|000a", GOTO="tokvane_usb")",
                R"(GOTO="tokvane_end")",
                R"(LABEL="tokvane_usb")",
                R"(IMPORT{builtin}="usb_id")",
                R"(ENV{ID_VENDOR_ID}=="1209", TAG+="uaccess")",
                R"(ENV{ID_VENDOR_ID}=="20a0", ENV{ID_MODEL_ID}=="beef", TAG+="uaccess")",
                R"(ENV{ID_VENDOR_ID}=="000a", ENV{ID_MODEL_ID}=="0001", TAG+="uaccess")",
                R"(LABEL="tokvane_end")",
            }));
}

TEST(HidUdevRulesTest, ARuleThatGrantsAWholeVendorComesRightAfterAWarningAndIsReported) {
  const std::vector<VidPidEntry> entries{VidPidEntry::Make(0x20A0, 0x4287), VidPidEntry::Make(0x1209, 0),
                                         VidPidEntry::Make(0x1209, 0x0001), VidPidEntry::Make(0x1209, 0)};
  const std::vector<std::string> lines = Lines(MakeUdevRules(entries), true);
  int warnings = 0;
  for (std::size_t i = 1; i < lines.size(); ++i) {
    if (lines[i].rfind("ENV{ID_VENDOR_ID}", 0) != 0) continue;
    const bool wholeVendor = lines[i].find("ID_MODEL_ID") == std::string::npos;
    // The warning comment is the block of comment lines right above the rule.
    std::string comment;
    for (std::size_t j = i; j > 0 && lines[j - 1].rfind('#', 0) == 0; --j) comment = lines[j - 1] + "\n" + comment;
    EXPECT_EQ(comment.find("WARNING") != std::string::npos, wholeVendor) << lines[i];
    if (wholeVendor) {
      EXPECT_NE(comment.find("EVERY device of vendor 1209"), std::string::npos) << comment;
      ++warnings;
    }
  }
  EXPECT_EQ(warnings, 1);
  EXPECT_EQ(EntriesGrantingWholeVendor(entries), std::vector<VidPidEntry>{VidPidEntry::Make(0x1209, 0)});
  EXPECT_TRUE(EntriesGrantingWholeVendor({VidPidEntry::Make(0x1209, 0x0001)}).empty());
}

}  // namespace
