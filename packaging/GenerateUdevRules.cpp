// tokvane-udev-rules CONFIG [RULES]: writes the udev rules for the keys listed in CONFIG (a
// Pid_Vid_Config.xml) to RULES, or to standard output. A configuration that cannot be read is an
// error, so a broken shipped file stops the build instead of installing rules for the default.
// An entry without a product is written, but warned about on standard error, so the build shows it.
#include <cstdio>
#include <fstream>
#include <iostream>

#include "device/HidUdevRules.h"
#include "device/VidPidConfig.h"

int main(int argc, char** argv) {
  if (argc < 2 || argc > 3) {
    std::cerr << "usage: tokvane-udev-rules Pid_Vid_Config.xml [output.rules]\n";
    return 2;
  }
  std::vector<VidPidEntry> entries;
  std::string error;
  if (!LoadVidPidConfig(argv[1], entries, &error)) {
    if (error.empty()) error = "cannot read " + std::string(argv[1]) + " as a VID/PID configuration";
    std::cerr << "tokvane-udev-rules: " << error << "\n";
    return 1;
  }
  for (const VidPidEntry& entry : EntriesGrantingWholeVendor(entries)) {
    char vid[5];
    std::snprintf(vid, sizeof vid, "%04x", entry.Vid());
    std::cerr << "tokvane-udev-rules: warning: " << argv[1] << " lists vendor " << vid
              << " with no product: its rule grants every device of that vendor; give the entry a PID\n";
  }
  const std::string rules = MakeUdevRules(entries);
  if (argc == 2) {
    std::cout << rules;
    return std::cout ? 0 : 1;
  }
  std::ofstream out(argv[2], std::ios::binary | std::ios::trunc);
  out << rules;
  out.close();
  if (!out) {
    std::cerr << "tokvane-udev-rules: cannot write " << argv[2] << "\n";
    return 1;
  }
  return 0;
}
