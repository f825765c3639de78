#include "tests/integration/PcscdHarness.h"

#include <cstdlib>
#include <cstring>
#include <iostream>

namespace tokvane::integration {

bool SkipsAllowed() {
  const char* allowed = std::getenv("TOKVANE_ALLOW_SKIPS");
  return allowed != nullptr && std::strcmp(allowed, "1") == 0;
}

void PcscdEnvironment::SetUp() {
  auto& service = PcscdService::Instance();
  if (!service.Ensure()) {
    std::cerr << "[ pcscd    ] unavailable: " << service.Reason() << '\n';
  } else if (service.StartedHere()) {
    std::cerr << "[ pcscd    ] started for this run\n";
  } else {
    std::cerr << "[ pcscd    ] reusing the running service\n";
  }
}

void PcscdEnvironment::TearDown() { PcscdService::Instance().Shutdown(); }

void PcscdTest::SetUp() {
  auto& service = PcscdService::Instance();
  if (service.Ensure()) return;
  if (!SkipsAllowed()) GTEST_FAIL() << "pcscd is required (TOKVANE_ALLOW_SKIPS=1 skips instead): " << service.Reason();
  GTEST_SKIP() << "pcscd unavailable: " << service.Reason();
}

}  // namespace tokvane::integration
