#pragma once
// The GoogleTest side of the integration harness: an Environment that makes sure a pcscd with the
// vpcd reader runs for the whole run (and stops one it started), and the guard every test that
// needs it begins with. Without pcscd a test fails, with the reason; it is skipped instead only
// when the caller opted out with TOKVANE_ALLOW_SKIPS=1.
#include <gtest/gtest.h>

#include "tests/support/PcscdService.h"
#include "tests/support/ServedCard.h"

namespace tokvane::integration {

// True when the environment variable TOKVANE_ALLOW_SKIPS is exactly "1".
bool SkipsAllowed();

class PcscdEnvironment : public ::testing::Environment {
 public:
  void SetUp() override;
  void TearDown() override;
};

// A fixture whose tests all need pcscd.
class PcscdTest : public ::testing::Test {
 protected:
  void SetUp() override;
};

}  // namespace tokvane::integration

// Fails (or, with TOKVANE_ALLOW_SKIPS=1, skips) the current test when no pcscd with the vpcd reader
// runs. Use it at the top of a test body or a fixture's SetUp.
#define TOKVANE_REQUIRE_PCSCD()                                                                      \
  do {                                                                                               \
    auto& tokvanePcscd = ::tokvane::integration::PcscdService::Instance();                           \
    if (!tokvanePcscd.Ensure()) {                                                                    \
      if (!::tokvane::integration::SkipsAllowed()) {                                                 \
        GTEST_FAIL() << "pcscd is required (TOKVANE_ALLOW_SKIPS=1 skips instead): " << tokvanePcscd.Reason(); \
      } else {                                                                                       \
        GTEST_SKIP() << "pcscd unavailable: " << tokvanePcscd.Reason();                              \
      }                                                                                              \
    }                                                                                                \
  } while (false)
