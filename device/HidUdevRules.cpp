#include "device/HidUdevRules.h"

#include <algorithm>
#include <cstdio>

namespace {

// sysfs, and so udev's usb_id, show idVendor and idProduct as four lower-case hex digits.
std::string Hex4(std::uint16_t value) {
  char text[5];
  std::snprintf(text, sizeof text, "%04x", value);
  return text;
}

std::vector<VidPidEntry> Distinct(const std::vector<VidPidEntry>& entries) {
  std::vector<VidPidEntry> distinct;
  for (const VidPidEntry& entry : entries) {
    if (std::find(distinct.begin(), distinct.end(), entry) == distinct.end()) distinct.push_back(entry);
  }
  return distinct;
}

// ATTRS{idVendor} matches on any device above the node, a hub of a listed vendor included, and
// so would grant every device plugged into it: it only narrows which nodes are looked at closer.
// usb_id reads the IDs of the USB device that owns the node's interface, and nothing else, into
// ID_VENDOR_ID and ID_MODEL_ID, which the rules then match.
std::string Header(const std::vector<VidPidEntry>& entries) {
  std::vector<std::uint16_t> vids;
  std::string vendors;
  for (const VidPidEntry& entry : entries) {
    if (std::find(vids.begin(), vids.end(), entry.Vid()) != vids.end()) continue;
    vids.push_back(entry.Vid());
    if (!vendors.empty()) vendors += '|';
    vendors += Hex4(entry.Vid());
  }
  return "# Tokvane: lets the user logged in at the seat open the hidraw nodes of the keys listed in\n"
         "# Pid_Vid_Config.xml, and no other node. Generated from that file; regenerate it after editing\n"
         "# the list.\n"
         "ACTION==\"remove\", GOTO=\"tokvane_end\"\n"
         "SUBSYSTEM!=\"hidraw\", GOTO=\"tokvane_end\"\n"
         "KERNEL!=\"hidraw*\", GOTO=\"tokvane_end\"\n"
         "SUBSYSTEMS==\"usb\", ATTRS{idVendor}==\"" + vendors + "\", GOTO=\"tokvane_usb\"\n"
         "GOTO=\"tokvane_end\"\n"
         "LABEL=\"tokvane_usb\"\n"
         "# The IDs of the USB device the node's own interface belongs to, never those of a hub above it.\n"
         "IMPORT{builtin}=\"usb_id\"\n";
}

constexpr const char* kFooter = "LABEL=\"tokvane_end\"\n";

}  // namespace

std::vector<VidPidEntry> EntriesGrantingWholeVendor(const std::vector<VidPidEntry>& entries) {
  std::vector<VidPidEntry> whole = Distinct(entries);
  std::erase_if(whole, [](VidPidEntry entry) { return entry.Pid() != 0; });
  return whole;
}

std::string MakeUdevRules(const std::vector<VidPidEntry>& entries) {
  const std::vector<VidPidEntry> distinct = Distinct(entries);
  std::string rules = Header(distinct);
  for (const VidPidEntry& entry : distinct) {
    const std::string vid = Hex4(entry.Vid());
    if (entry.Pid() == 0) {
      rules += "# WARNING: this entry of Pid_Vid_Config.xml names no product, so this rule lets the user\n"
               "# open the hidraw nodes of EVERY device of vendor " + vid + ". A vendor ID may be shared by\n"
               "# unrelated devices, keyboards among them, whose raw input any process of the user could\n"
               "# then read. Give the entry a PID.\n";
      rules += "ENV{ID_VENDOR_ID}==\"" + vid + "\", TAG+=\"uaccess\"\n";
    } else {
      rules += "ENV{ID_VENDOR_ID}==\"" + vid + "\", ENV{ID_MODEL_ID}==\"" + Hex4(entry.Pid()) +
               "\", TAG+=\"uaccess\"\n";
    }
  }
  rules += kFooter;
  return rules;
}
