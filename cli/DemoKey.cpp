#include "cli/DemoKey.h"

#include <openssl/crypto.h>
#include <openssl/rand.h>

#include <array>
#include <filesystem>
#include <system_error>

#include "BuildConfig.h"
#include "device/HidApi.h"
#include "device/PcscApi.h"
#include "keysim/VirtualHidApi.h"
#include "keysim/VirtualKey.h"
#include "keysim/VirtualPcscApi.h"
#include "oath/OathCommands.h"

namespace cli {

namespace {

constexpr std::uint16_t kDemoProductId = 0x0001;

struct SampleCredential {
  const char* name;
  std::uint8_t digits;
};
constexpr std::array<SampleCredential, 2> kSamples{{{"0001234567890", 6}, {"0009876543210", 8}}};

VirtualKeyConfig DemoConfig(const std::string& stateFile) {
  VirtualKeyConfig config;
  config.stateFile = stateFile;
  return config;
}

}  // namespace

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
  key_ = std::make_shared<VirtualKey>(DemoConfig(stateFile_));
  if (!key_->StateFileError().empty()) {
    error = "cannot use the demo state file: " + key_->StateFileError();
    return false;
  }
  if (fresh) SeedCredentials();
  if (!key_->StateFileError().empty()) {
    error = "cannot write the demo state file: " + key_->StateFileError();
    return false;
  }
  // As at a plug-in: the key presents the interface set it has stored.
  key_->PlugIn();

  pcsc_ = std::make_shared<VirtualPcscApi>();
  if ((key_->PresentInterfaces() & oath::kInterfaceCcid) != 0) {
    pcsc_->AddReader(kReaderName);
    pcsc_->InsertCard(kReaderName, key_);
  }
  hid_ = std::make_shared<VirtualHidApi>();
  VirtualHidKeyOptions options;
  options.vendorId = tokvane::build::kMakerVendorId;
  options.productId = kDemoProductId;
  std::weak_ptr<VirtualKey> weakKey = key_;
  options.interfaceSource = [weakKey] {
    const auto key = weakKey.lock();
    return key != nullptr ? key->PresentInterfaces() : std::uint8_t{0};
  };
  hid_->AddKey(key_, options);

  InstallPcscApi(pcsc_);
  InstallHidApi(hid_);
  installed_ = true;
  return true;
}

void DemoKey::SeedCredentials() {
  key_->ProcessApdu(BuildSelectOath());
  for (const SampleCredential& sample : kSamples) {
    std::array<std::uint8_t, 20> secret{};
    RAND_bytes(secret.data(), static_cast<int>(secret.size()));
    OathBytes put = BuildPut(oath::kInsPut, sample.name, secret, sample.digits, "");
    key_->ProcessApdu(put);
    OPENSSL_cleanse(put.data(), put.size());
    OPENSSL_cleanse(secret.data(), secret.size());
  }
  key_->PowerOff();
  key_->ClearReceivedApdus();
}

}  // namespace cli
