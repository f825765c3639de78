#include "cli/DemoKey.h"

#include "keysim/DemoKeySetup.h"
#include "keysim/VirtualKey.h"

namespace cli {

DemoKey::DemoKey(const std::string& stateFile) : stateFile_(stateFile) {}

bool DemoKey::PlugIn(std::string& error) {
  rig_ = demo_key::DemoKeyRig::Create(stateFile_, error);
  if (rig_ == nullptr) return false;
  // As at a plug-in: the key presents the interface set it has stored.
  rig_->PlugIn();
  return true;
}

VirtualKey& DemoKey::Key() { return *rig_->Key(); }

}  // namespace cli
