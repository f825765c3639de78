// Any bytes as the VID/PID configuration file: never a crash, never an empty list.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "device/VidPidConfig.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<VidPidEntry> entries;
  const bool parsed = ParseVidPidConfig(reinterpret_cast<const char*>(data), size, entries);
  if (entries.empty()) std::abort();
  if (!parsed && entries != std::vector<VidPidEntry>{DefaultVidPidEntry()}) std::abort();
  return 0;
}
