#include "device/HidUdevRules.h"

#include <algorithm>
#include <cstdio>

namespace {

// sysfs shows idVendor and idProduct as four lower-case hex digits.
std::string Hex4(std::uint16_t value) {
  char text[5];
  std::snprintf(text, sizeof text, "%04x", value);
  return text;
}

}  // namespace

std::string MakeUdevRules(const std::vector<VidPidEntry>& entries) {
  std::string rules =
      "# Tokvane: lets the logged-in user open the HID interfaces of the keys listed in\n"
      "# Pid_Vid_Config.xml. Generated from that file; regenerate it after editing the list.\n";
  std::vector<VidPidEntry> written;
  for (const VidPidEntry& entry : entries) {
    if (std::find(written.begin(), written.end(), entry) != written.end()) continue;
    written.push_back(entry);
    rules += "KERNEL==\"hidraw*\", SUBSYSTEM==\"hidraw\", ATTRS{idVendor}==\"" + Hex4(entry.Vid()) + "\"";
    if (entry.Pid() != 0) rules += ", ATTRS{idProduct}==\"" + Hex4(entry.Pid()) + "\"";
    rules += ", TAG+=\"uaccess\"\n";
  }
  return rules;
}
