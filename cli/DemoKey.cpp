#include "cli/DemoKey.h"

#include <openssl/crypto.h>
#include <openssl/rand.h>

#include <array>
#include <filesystem>
#include <system_error>

#include "BuildConfig.h"
#include "device/HidApi.h"
#include "device/PcscApi.h"
#include "keysim/DemoKeySetup.h"
#include "keysim/VirtualHidApi.h"
#include "keysim/VirtualKey.h"
#include "keysim/VirtualPcscApi.h"
#include "oath/OathCommands.h"

namespace cli {

DemoKey::DemoKey(const std::string& stateFile) : stateFile_(stateFile) {}

DemoKey::~DemoKey() {
  if (installed_) {
    InstallPcscApi(nullptr);
    InstallHidApi(nullptr);
  }
}

bool DemoKey::Install(std::string& error) {
  std::error_code ignored;
  const bool fresh = stateFile_.empty() || !std::filesystem::exists(stateFile_, ignored);
  key_ = std::make_shared<VirtualKey>(demo_key::KeyConfig(stateFile_));
  if (!key_->StateFileError().empty()) {
    error = "cannot use the demo state file: " + key_->StateFileError();
    return false;
  }
  if (fresh) demo_key::SeedSampleCredentials(*key_);
  if (!key_->StateFileError().empty()) {
    error = "cannot write the demo state file: " + key_->StateFileError();
    return false;
  }
  // As at a plug-in: the key presents the interface set it has stored.
  key_->PlugIn();

  pcsc_ = std::make_shared<VirtualPcscApi>();
  if ((key_->PresentInterfaces() & card_os::kInterfaceCcid) != 0) {
    pcsc_->AddReader(kReaderName);
    pcsc_->InsertCard(kReaderName, key_);
  }
  hid_ = std::make_shared<VirtualHidApi>();
  demo_key::AddToHid(*hid_, key_);

  InstallPcscApi(pcsc_);
  InstallHidApi(hid_);
  installed_ = true;
  return true;
}

}  // namespace cli
