#include <gtest/gtest.h>
#include <openssl/crypto.h>
#include <openssl/rand.h>

#include <array>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>

namespace {

bool CryptoLibraryMapped() {
  std::ifstream maps("/proc/self/maps");
  for (std::string line; std::getline(maps, line);) {
    if (line.find("libcrypto.so") != std::string::npos) return true;
  }
  return false;
}

// What the fresh program checks: it starts without libcrypto, the first wipe opens it and
// wipes, and the functions after it reach the same library. Its exit code names the first fault.
[[noreturn]] void CheckFirstUseAndExit() {
  if (CryptoLibraryMapped()) std::_Exit(1);
  std::array<std::uint8_t, 32> secret;
  secret.fill(0xA5);
  OPENSSL_cleanse(secret.data(), secret.size());
  for (const std::uint8_t byte : secret) {
    if (byte != 0) std::_Exit(2);
  }
  if (!CryptoLibraryMapped()) std::_Exit(3);
  std::array<std::uint8_t, 32> random{};
  if (RAND_bytes(random.data(), static_cast<int>(random.size())) != 1) std::_Exit(4);
  if (random == std::array<std::uint8_t, 32>{}) std::_Exit(5);
  std::_Exit(0);
}

// The "threadsafe" style starts the test program anew with only this test, so nothing else has
// called OpenSSL in it yet.
TEST(CryptoOnFirstUse, LibcryptoIsOpenedByTheFirstCallAndServesEveryCall) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(CheckFirstUseAndExit(), ::testing::ExitedWithCode(0), "");
}

}  // namespace
