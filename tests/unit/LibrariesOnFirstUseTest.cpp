// Libraries the window does not need before its first paint are opened by their first call:
// a fresh program starts without them, the first call opens the library and gets its answer.
#include <gtest/gtest.h>
#include <openssl/crypto.h>
#include <openssl/rand.h>

#include <array>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <string>

#if __has_include(<libudev.h>)
#include <libudev.h>
#define TOKVANE_TEST_LIBUDEV 1
#endif

#include "device/HidApi.h"
#include "device/PcscApi.h"

namespace {

bool LibraryMapped(const char* name) {
  std::ifstream maps("/proc/self/maps");
  for (std::string line; std::getline(maps, line);) {
    if (line.find(name) != std::string::npos) return true;
  }
  return false;
}

// Exit codes of the fresh program: 1 the library was there at start, 2 the first use went wrong,
// 3 it did not open the library.
[[noreturn]] void CheckFirstUseAndExit(const char* library, const std::function<bool()>& firstUse) {
  if (LibraryMapped(library)) std::_Exit(1);
  if (!firstUse()) std::_Exit(2);
  if (!LibraryMapped(library)) std::_Exit(3);
  std::_Exit(0);
}

// The first wipe opens libcrypto and wipes; the functions after it reach the same library.
bool WipeThenDrawRandomBytes() {
  std::array<std::uint8_t, 32> secret;
  secret.fill(0xA5);
  OPENSSL_cleanse(secret.data(), secret.size());
  for (const std::uint8_t byte : secret) {
    if (byte != 0) return false;
  }
  std::array<std::uint8_t, 32> random{};
  return RAND_bytes(random.data(), static_cast<int>(random.size())) == 1 && random != std::array<std::uint8_t, 32>{};
}

// pcsc-lite answers for itself (a context, or "no service" without pcscd), never the internal
// error the forwarder gives without the library.
bool EstablishAPcscContext() {
  const auto pcsc = SystemPcscApi();
  SCARDCONTEXT context = 0;
  const LONG result = pcsc->EstablishContext(&context);
  if (result == SCARD_S_SUCCESS) pcsc->ReleaseContext(context);
  return result != SCARD_F_INTERNAL_ERROR && pcsc->ErrorText(result).find("could not be loaded") == std::string::npos;
}

// Making the HID seam opens nothing; its first listing sets hidapi up.
bool ListHidInterfaces() {
  const auto hid = SystemHidApi();
  if (LibraryMapped("libhidapi-hidraw.so")) return false;
  hid->Enumerate();
  return true;
}

#ifdef TOKVANE_TEST_LIBUDEV
// What the device-change monitor starts with.
bool MakeAUdevContext() {
  udev* context = udev_new();
  if (context == nullptr) return false;
  udev_unref(context);
  return true;
}
#endif

struct FirstUse {
  const char* library;
  bool (*use)();
};

// The "threadsafe" style starts the test program anew with only this test, so nothing else has
// called these libraries in it yet.
TEST(LibrariesOnFirstUse, EachLibraryIsOpenedByItsFirstCallAndAnswersIt) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const FirstUse cases[] = {
      {"libcrypto.so", &WipeThenDrawRandomBytes},
      {"libpcsclite.so", &EstablishAPcscContext},
      {"libhidapi-hidraw.so", &ListHidInterfaces},
#ifdef TOKVANE_TEST_LIBUDEV
      {"libudev.so", &MakeAUdevContext},
#endif
  };
  for (const FirstUse& firstUse : cases) {
    EXPECT_EXIT(CheckFirstUseAndExit(firstUse.library, firstUse.use), ::testing::ExitedWithCode(0), "")
        << firstUse.library;
  }
}

}  // namespace
