#include "device/DeviceBackends.h"

#include <utility>

#include "device/HidApi.h"
#include "device/KeyModels.h"
#include "device/PcscApi.h"

DeviceBackends SystemDeviceBackends() { return MakeDeviceBackends(SystemPcscApi(), SystemHidApi()); }

DeviceBackends MakeDeviceBackends(std::shared_ptr<PcscApi> pcsc, std::shared_ptr<HidApi> hid,
                                  std::vector<VidPidEntry> entries) {
  if (entries.empty()) entries.push_back(DefaultVidPidEntry());
  return DeviceBackends{std::move(pcsc), std::move(hid), std::make_shared<KeyModels>(std::move(entries))};
}
