#include "keysim/DemoKeySetup.h"

#include <openssl/crypto.h>
#include <openssl/rand.h>

#include <array>

#include "BuildConfig.h"
#include "keysim/VirtualHidApi.h"
#include "keysim/VirtualKey.h"
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

void SeedSampleCredentials(VirtualKey& key) {
  key.ProcessApdu(BuildSelectOath());
  for (const SampleCredential& sample : kSamples) {
    std::array<std::uint8_t, 20> secret{};
    RAND_bytes(secret.data(), static_cast<int>(secret.size()));
    OathBytes put = BuildPut(oath::kInsPut, sample.name, secret, sample.digits, "");
    key.ProcessApdu(put);
    OPENSSL_cleanse(put.data(), put.size());
    OPENSSL_cleanse(secret.data(), secret.size());
  }
  key.PowerOff();
  key.ClearReceivedApdus();
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

}  // namespace demo_key
