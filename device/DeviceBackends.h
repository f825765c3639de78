#pragma once
// Everything that reaches a key is handed the backends it reaches it through, as each device of
// a FIDO library carries its own I/O table: the PC/SC seam, the HID seam and the key models. Two
// sets of backends never see each other's seams or lists, so a test, the demo key and the real
// system can sit side by side, and no transport depends on process-wide state.
// The header stays free of pcsc-lite and hidapi, so the panels that hold backends never see them.
#include <memory>
#include <vector>

#include "device/VidPidConfig.h"

class HidApi;
class KeyModels;
class PcscApi;

struct DeviceBackends {
  std::shared_ptr<PcscApi> pcsc;
  std::shared_ptr<HidApi> hid;
  std::shared_ptr<KeyModels> models;
};

// pcsc-lite, hidapi and fresh key models holding the default VID/PID entry.
DeviceBackends SystemDeviceBackends();
// The given seams with fresh key models holding `entries` (the default entry when empty).
DeviceBackends MakeDeviceBackends(std::shared_ptr<PcscApi> pcsc, std::shared_ptr<HidApi> hid,
                                  std::vector<VidPidEntry> entries = {});
