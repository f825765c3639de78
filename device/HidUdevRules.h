#pragma once
// udev rules that let the logged-in user open the hidraw nodes of the configured keys, made from
// the same VID/PID list the program reads.
#include <string>
#include <vector>

#include "device/VidPidConfig.h"

// One rule per distinct entry: the vendor, and the product when the entry names one (PID 0 means
// any product of that vendor). The seat's logged-in user gets access through the "uaccess" tag,
// so the file must sort before udev's 73-seat-late.rules.
std::string MakeUdevRules(const std::vector<VidPidEntry>& entries);

inline constexpr const char* kUdevRulesFileName = "70-tokvane.rules";
