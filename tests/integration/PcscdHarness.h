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

// A fixture whose tests all need pcscd: without it each fails with the reason (or, with
// TOKVANE_ALLOW_SKIPS=1, is skipped).
class PcscdTest : public ::testing::Test {
 protected:
  void SetUp() override;
};

}  // namespace tokvane::integration
