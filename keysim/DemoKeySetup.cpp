#include "keysim/DemoKeySetup.h"

#include <openssl/crypto.h>
#include <openssl/rand.h>

#include <array>
#include <filesystem>
#include <system_error>

#include "BuildConfig.h"
#include "core/Translate.h"
#include "keysim/VirtualHidApi.h"
#include "keysim/VirtualKey.h"
#include "keysim/VirtualPcscApi.h"
#include "oath/OathCommands.h"

namespace demo_key {

namespace {

struct SampleCredential {
  const char* name;
  std::uint8_t digits;
};
constexpr std::array<SampleCredential, 2> kSamples{{{"0001234567890", 6}, {"0009876543210", 8}}};

}  // namespace

VirtualKeyConfig KeyConfig(const std::string& stateFile) {
  VirtualKeyConfig config;
  config.stateFile = stateFile;
  config.receivedLogLimit = 0;
  return config;
}

bool SeedSampleCredentials(VirtualKey& key, DemoRandomSource random) {
  if (random == nullptr) random = RAND_bytes;
  std::array<std::array<std::uint8_t, 20>, kSamples.size()> secrets{};
  bool drawn = true;
  for (auto& secret : secrets) drawn = drawn && random(secret.data(), static_cast<int>(secret.size())) == 1;
  if (drawn) {
    key.ProcessApdu(BuildSelectOath());
    for (std::size_t i = 0; i < kSamples.size(); ++i) {
      OathBytes put = BuildPut(oath::kInsPut, kSamples[i].name, secrets[i], kSamples[i].digits, "");
      key.ProcessApdu(put);
      OPENSSL_cleanse(put.data(), put.size());
    }
    key.PowerOff();
    key.ClearReceivedApdus();
  }
  for (auto& secret : secrets) OPENSSL_cleanse(secret.data(), secret.size());
  return drawn;
}

int AddToHid(VirtualHidApi& hid, const std::shared_ptr<VirtualKey>& key) {
  VirtualHidKeyOptions options;
  options.vendorId = tokvane::build::kMakerVendorId;
  options.productId = kProductId;
  std::weak_ptr<VirtualKey> weakKey = key;
  options.interfaceSource = [weakKey] {
    const auto held = weakKey.lock();
    return held != nullptr ? held->PresentInterfaces() : std::uint8_t{0};
  };
  return hid.AddKey(key, options);
}

std::unique_ptr<DemoKeyRig> DemoKeyRig::Create(const std::string& stateFile, std::string& error) {
  std::error_code ignored;
  const bool fresh = stateFile.empty() || !std::filesystem::exists(stateFile, ignored);
  auto key = std::make_shared<VirtualKey>(KeyConfig(stateFile));
  if (!key->StateFileError().empty()) {
    error = tokvane::Substitute(tokvane::Tr("cannot use the demo state file: %1"), {key->StateFileError()});
    return nullptr;
  }
  if (fresh && !SeedSampleCredentials(*key)) {
    error = tokvane::Tr("cannot make the demo key's secrets: the random generator failed");
    return nullptr;
  }
  if (!key->StateFileError().empty()) {
    error = tokvane::Substitute(tokvane::Tr("cannot write the demo state file: %1"), {key->StateFileError()});
    return nullptr;
  }
  return std::unique_ptr<DemoKeyRig>(new DemoKeyRig(std::move(key)));
}

DemoKeyRig::DemoKeyRig(std::shared_ptr<VirtualKey> key)
    : key_(std::move(key)),
      pcsc_(std::make_shared<VirtualPcscApi>()),
      hid_(std::make_shared<VirtualHidApi>()),
      backends_(MakeDeviceBackends(pcsc_, hid_)) {
  hidKey_ = AddToHid(*hid_, key_);
  hid_->Unplug(hidKey_);
}

void DemoKeyRig::PlugIn() {
  if (pluggedIn_) return;
  pluggedIn_ = true;
  key_->PlugIn();
  // The HID side presents whatever the key's interface set holds at this plug-in.
  hid_->PlugIn(hidKey_);
  if ((key_->PresentInterfaces() & card_os::kInterfaceCcid) != 0) {
    pcsc_->AddReader(kReaderName);
    pcsc_->InsertCard(kReaderName, key_);
  }
}

void DemoKeyRig::Unplug() {
  if (!pluggedIn_) return;
  pluggedIn_ = false;
  hid_->Unplug(hidKey_);
  pcsc_->RemoveReader(kReaderName);
}

}  // namespace demo_key
