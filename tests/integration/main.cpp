// Entry point of the integration tests: one pcscd (started here when none with the vpcd reader
// runs) serves every suite of the run.
#include <gtest/gtest.h>

#include "tests/integration/PcscdHarness.h"

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  // GoogleTest owns and deletes the environment.
  ::testing::AddGlobalTestEnvironment(new tokvane::integration::PcscdEnvironment);
  return RUN_ALL_TESTS();
}
