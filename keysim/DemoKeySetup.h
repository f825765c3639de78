#pragma once
// What the desktop program's and the command-line program's demo modes share: the demo key's
// reader name and USB IDs, its sample credentials, how its HID side follows its interfaces, and
// the key with its interfaces itself (DemoKeyRig).
#include <cstdint>
#include <memory>
#include <string>

#include "device/DeviceBackends.h"
#include "keysim/VirtualKey.h"

class VirtualHidApi;
class VirtualPcscApi;

namespace demo_key {

inline constexpr const char* kReaderName = "Tokvane Demo Key CCID 00 00";
inline constexpr std::uint16_t kProductId = 0x0001;

// The demo key's settings: `stateFile` as given, and no record of received commands (only tests
// read that record, and it would keep every written secret in memory).
VirtualKeyConfig KeyConfig(const std::string& stateFile = {});

// Writes the two sample credentials (random secrets, wiped after use) and leaves the key
// powered off with an empty command record, as if it came out of the box. False, with nothing
// written, when the random generator fails: a demo key must never hold predictable secrets.
// `random` is RAND_bytes's contract (1 on success); tests pass a failing one.
using DemoRandomSource = int (*)(unsigned char* buffer, int count);
bool SeedSampleCredentials(VirtualKey& key, DemoRandomSource random = nullptr);

// Presents the key's HID interfaces under the maker's vendor ID; which interfaces are present
// follows the key's interface set at every plug-in. Returns the HID key id.
int AddToHid(VirtualHidApi& hid, const std::shared_ptr<VirtualKey>& key);

// The demo key with its in-process smart-card reader and HID interfaces, as both demo modes use
// it. It starts unplugged; each plug-in presents the interface set the key holds then.
class DemoKeyRig {
 public:
  // A fresh key holds the sample credentials; with a state file that exists, the key it stores.
  // Null with a one-line reason when the state file cannot be used or written, or the sample
  // secrets cannot be drawn.
  static std::unique_ptr<DemoKeyRig> Create(const std::string& stateFile, std::string& error);

  DemoKeyRig(const DemoKeyRig&) = delete;
  DemoKeyRig& operator=(const DemoKeyRig&) = delete;

  void PlugIn();
  void Unplug();
  bool IsPluggedIn() const { return pluggedIn_; }

  const std::shared_ptr<VirtualKey>& Key() const { return key_; }
  const std::shared_ptr<VirtualPcscApi>& Pcsc() const { return pcsc_; }
  const std::shared_ptr<VirtualHidApi>& Hid() const { return hid_; }
  // The key's reader and interfaces as backends for transports and listings, with key models of
  // their own (the default VID/PID entry until a configuration is loaded into them).
  const DeviceBackends& Backends() const { return backends_; }

 private:
  explicit DemoKeyRig(std::shared_ptr<VirtualKey> key);

  std::shared_ptr<VirtualKey> key_;
  std::shared_ptr<VirtualPcscApi> pcsc_;
  std::shared_ptr<VirtualHidApi> hid_;
  DeviceBackends backends_;
  int hidKey_ = 0;
  bool pluggedIn_ = false;
};

}  // namespace demo_key
