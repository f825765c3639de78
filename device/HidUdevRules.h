#pragma once
// udev rules that let the logged-in user open the hidraw nodes of the configured keys, made from
// the same VID/PID list the program reads.
#include <string>
#include <vector>

#include "device/VidPidConfig.h"

// One rule per distinct entry. A rule matches the IDs of the USB device the hidraw node's own
// interface belongs to (never a hub or other device above it) and tags only hidraw nodes with
// "uaccess", so the seat's logged-in user may open them; the file must therefore sort before
// udev's 73-seat-late.rules. An entry without a product (PID 0) grants every device of its vendor:
// its rule carries a warning comment, since a shared vendor ID covers unrelated devices, keyboards
// among them.
std::string MakeUdevRules(const std::vector<VidPidEntry>& entries);

// The distinct entries that name no product, in list order: the ones whose rule grants a whole vendor.
std::vector<VidPidEntry> EntriesGrantingWholeVendor(const std::vector<VidPidEntry>& entries);

inline constexpr const char* kUdevRulesFileName = "70-tokvane.rules";
