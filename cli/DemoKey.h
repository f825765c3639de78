#pragma once
// The key of --demo: one virtual key with its smart-card reader, OTP keyboard and U2F interfaces,
// reached in-process through the PC/SC and HID seams in place of pcscd and hidraw. A fresh key
// holds two sample credentials; with a state file, what the key holds (credentials, counters,
// default, interface mode) carries over to the next run, so a session of several commands works
// as it would on a real key.
#include "keysim/DemoKeySetup.h"
#include <cstdint>
#include <memory>
#include <string>

class VirtualKey;

namespace cli {

class DemoKey {
 public:
  // Name of the key's smart-card reader (the same as in the desktop program's demo).
  static constexpr const char* kReaderName = demo_key::kReaderName;

  // `stateFile` empty: a fresh key that is forgotten at exit.
  explicit DemoKey(const std::string& stateFile);
  DemoKey(const DemoKey&) = delete;
  DemoKey& operator=(const DemoKey&) = delete;

  // Makes the key and plugs it in. False with a reason when the state file cannot be read or
  // written.
  bool PlugIn(std::string& error);

  // After a successful PlugIn: the key, and its reader and interfaces as the backends the
  // commands use in place of the system's.
  VirtualKey& Key();
  const DeviceBackends& Backends() const { return rig_->Backends(); }

 private:
  std::string stateFile_;
  std::unique_ptr<demo_key::DemoKeyRig> rig_;
};

}  // namespace cli
