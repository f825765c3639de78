#include "tests/integration/CliRunner.h"

#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

#include "cli/CliApp.h"
#include "tests/support/PcscdService.h"
#include "tests/support/VirtualOnlyBackends.h"

namespace tokvane::integration {

std::string RefuseNonVirtualTarget(std::vector<std::string>& args) {
  const auto end = std::find(args.begin(), args.end(), "--");
  if (std::find(args.begin(), end, "--demo") != end) return {};
  for (auto arg = args.begin(); arg != end; ++arg) {
    std::string reader;
    if (*arg == "--reader" && arg + 1 != end) {
      reader = *(arg + 1);
    } else if (arg->rfind("--reader=", 0) == 0) {
      reader = arg->substr(9);
    } else {
      continue;
    }
    if (IsVirtualReaderName(reader)) return {};
    return "refused before sending anything: '" + reader + "' is not a virtual reader";
  }
  args.insert(args.begin(), {"--reader", kVpcdReader});
  return {};
}

CliResult RunCliInProcess(std::vector<std::string> args, const std::string& input) {
  if (const std::string refused = RefuseNonVirtualTarget(args); !refused.empty()) {
    ADD_FAILURE() << refused;
    return CliResult{-1, {}, refused};
  }
  return RunCliInProcess(VirtualOnlySystemBackends(), args, input);
}

CliResult RunCliInProcess(const DeviceBackends& backends, const std::vector<std::string>& args,
                          const std::string& input, cli::TouchCountdownStyle countdown) {
  CliResult result;
  int fds[2] = {-1, -1};
  if (::pipe(fds) != 0) return result;
  // Secrets and confirmations are short: the pipe holds them without a reader.
  const ssize_t written = ::write(fds[1], input.data(), input.size());
  ::close(fds[1]);
  if (written != static_cast<ssize_t>(input.size())) {
    ::close(fds[0]);
    return result;
  }
  std::ostringstream out, err;
  result.code = cli::RunCli(args, cli::CliStreams{fds[0], out, err, countdown}, backends);
  ::close(fds[0]);
  result.out = out.str();
  result.err = err.str();
  return result;
}

std::string CliProgram() {
#ifdef TOKVANE_CLI_BINARY
  return TOKVANE_CLI_BINARY;
#else
  return {};
#endif
}

std::string KeysimProgram() {
#ifdef TOKVANE_CLI_TEST_KEYSIM_BINARY
  return TOKVANE_CLI_TEST_KEYSIM_BINARY;
#else
  return {};
#endif
}

CliResult RunCliProgram(std::vector<std::string> args, const std::string& input) {
  if (const std::string refused = RefuseNonVirtualTarget(args); !refused.empty()) {
    ADD_FAILURE() << refused;
    return CliResult{-1, {}, refused};
  }
  const ProcessResult process =
      RunProcess(CliProgram(), args, input, std::chrono::seconds(30), {"TOKVANE_NO_SYSTEM_HID=1"});
  return CliResult{process.exitCode, process.out, process.err};
}

}  // namespace tokvane::integration
