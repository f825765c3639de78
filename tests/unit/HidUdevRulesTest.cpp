// The udev rules made from the VID/PID list: one rule per distinct entry, in the form udev
// matches against the hidraw node's USB parent.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "device/HidUdevRules.h"

namespace {

std::vector<std::string> RuleLines(const std::string& rules) {
  std::vector<std::string> lines;
  std::istringstream in(rules);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line[0] != '#') lines.push_back(line);
  }
  return lines;
}

TEST(HidUdevRulesTest, OneRulePerDistinctEntryWithTheProductOnlyWhenOneIsNamed) {
  const std::vector<VidPidEntry> entries{VidPidEntry::Make(0x1209, 0), VidPidEntry::Make(0x20A0, 0xBEEF),
                                         VidPidEntry::Make(0x1209, 0), VidPidEntry::Make(0x000A, 0x0001)};
  EXPECT_EQ(RuleLines(MakeUdevRules(entries)),
            (std::vector<std::string>{
                R"(KERNEL=="hidraw*", SUBSYSTEM=="hidraw", ATTRS{idVendor}=="1209", TAG+="uaccess")",
                R"(KERNEL=="hidraw*", SUBSYSTEM=="hidraw", ATTRS{idVendor}=="20a0", ATTRS{idProduct}=="beef", TAG+="uaccess")",
                R"(KERNEL=="hidraw*", SUBSYSTEM=="hidraw", ATTRS{idVendor}=="000a", ATTRS{idProduct}=="0001", TAG+="uaccess")",
            }));
}

}  // namespace
