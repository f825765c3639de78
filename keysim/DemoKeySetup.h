#pragma once
// What the desktop program's and the command-line program's demo modes share: the demo key's
// reader name and USB IDs, its sample credentials, and how its HID side follows its interfaces.
#include <cstdint>
#include <memory>
#include <string>

#include "keysim/VirtualKey.h"

class VirtualHidApi;

namespace demo_key {

inline constexpr const char* kReaderName = "Tokvane Demo Key CCID 00 00";
inline constexpr std::uint16_t kProductId = 0x0001;

// The demo key's settings: `stateFile` as given, and no record of received commands (only tests
// read that record, and it would keep every written secret in memory).
VirtualKeyConfig KeyConfig(const std::string& stateFile = {});

// Writes the two sample credentials (random secrets, wiped after use) and leaves the key
// powered off with an empty command record, as if it came out of the box.
void SeedSampleCredentials(VirtualKey& key);

// Presents the key's HID interfaces under the maker's vendor ID; which interfaces are present
// follows the key's interface set at every plug-in. Returns the HID key id.
int AddToHid(VirtualHidApi& hid, const std::shared_ptr<VirtualKey>& key);

}  // namespace demo_key
