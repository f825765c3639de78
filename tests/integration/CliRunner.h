#pragma once
// Running tokvane-cli for the end-to-end tests: in-process through cli::RunCli (with the system's
// backends or the test's), or as the built program in a child process.
#include <string>
#include <vector>

#include "device/DeviceBackends.h"

#include "tests/integration/CliProcess.h"

namespace tokvane::integration {

struct CliResult {
  int code = -1;
  std::string out;
  std::string err;
};

// cli::RunCli with `input` on a pipe as standard input.
CliResult RunCliInProcess(const std::vector<std::string>& args, const std::string& input = {});
CliResult RunCliInProcess(const DeviceBackends& backends, const std::vector<std::string>& args,
                          const std::string& input = {});

// The built tokvane-cli program; empty when the build did not say where it is.
std::string CliProgram();
// The built tokvane-keysim program; empty when the build has none.
std::string KeysimProgram();

CliResult RunCliProgram(const std::vector<std::string>& args, const std::string& input = {});

// The last line of `text` without its newline ("" for none).
std::string LastLine(const std::string& text);

}  // namespace tokvane::integration
