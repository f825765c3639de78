#include "tests/integration/CliRunner.h"

#include <unistd.h>

#include <sstream>

#include "cli/CliApp.h"

namespace tokvane::integration {

CliResult RunCliInProcess(const std::vector<std::string>& args, const std::string& input) {
  return RunCliInProcess(SystemDeviceBackends(), args, input);
}

CliResult RunCliInProcess(const DeviceBackends& backends, const std::vector<std::string>& args,
                          const std::string& input) {
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
  result.code = cli::RunCli(args, cli::CliStreams{fds[0], out, err}, backends);
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

CliResult RunCliProgram(const std::vector<std::string>& args, const std::string& input) {
  const ProcessResult process = RunProcess(CliProgram(), args, input);
  return CliResult{process.exitCode, process.out, process.err};
}

std::string LastLine(const std::string& text) {
  std::string trimmed = text;
  while (!trimmed.empty() && trimmed.back() == '\n') trimmed.pop_back();
  const auto newline = trimmed.rfind('\n');
  return newline == std::string::npos ? trimmed : trimmed.substr(newline + 1);
}

}  // namespace tokvane::integration
