#pragma once
// Running tokvane-cli for the end-to-end tests: in-process through cli::RunCli (through pcscd's
// virtual readers or the test's backends), or as the built program in a child process.
#include <string>
#include <vector>

#include "cli/TouchCountdown.h"
#include "device/DeviceBackends.h"

#include "tests/integration/CliProcess.h"

namespace tokvane::integration {

struct CliResult {
  int code = -1;
  std::string out;
  std::string err;
};

// What the guard says about a run through pcscd before anything is sent: empty when its target is
// a virtual reader (the vpcd reader is named when `args` name none), else why it is refused.
std::string RefuseNonVirtualTarget(std::vector<std::string>& args);

// cli::RunCli through pcscd with VirtualOnlySystemBackends, `input` on a pipe as standard input.
// A target that is not a virtual reader fails the test and the CLI is not run (code -1).
CliResult RunCliInProcess(std::vector<std::string> args, const std::string& input = {});
// cli::RunCli through the test's own backends, standard error a terminal or not as `countdown` says.
CliResult RunCliInProcess(const DeviceBackends& backends, const std::vector<std::string>& args,
                          const std::string& input = {}, cli::TouchCountdownStyle countdown = {});

// The built tokvane-cli program; empty when the build did not say where it is.
std::string CliProgram();
// The built tokvane-keysim program; empty when the build has none.
std::string KeysimProgram();

// The built program through pcscd, under the same guard, with the system's HID interfaces left out
// (TOKVANE_NO_SYSTEM_HID=1); --demo runs need no guard.
CliResult RunCliProgram(std::vector<std::string> args, const std::string& input = {});

}  // namespace tokvane::integration
