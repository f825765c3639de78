#include "cli/DemoKey.h"

#include "device/HidApi.h"
#include "device/PcscApi.h"
#include "keysim/DemoKeySetup.h"
#include "keysim/VirtualHidApi.h"
#include "keysim/VirtualKey.h"
#include "keysim/VirtualPcscApi.h"

namespace cli {

DemoKey::DemoKey(const std::string& stateFile) : stateFile_(stateFile) {}

DemoKey::~DemoKey() {
  if (installed_) {
    InstallPcscApi(nullptr);
    InstallHidApi(nullptr);
  }
}

bool DemoKey::Install(std::string& error) {
  rig_ = demo_key::DemoKeyRig::Create(stateFile_, error);
  if (rig_ == nullptr) return false;
  // As at a plug-in: the key presents the interface set it has stored.
  rig_->PlugIn();
  InstallPcscApi(rig_->Pcsc());
  InstallHidApi(rig_->Hid());
  installed_ = true;
  return true;
}

VirtualKey& DemoKey::Key() { return *rig_->Key(); }

}  // namespace cli
