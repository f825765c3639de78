#pragma once
// What a subcommand gets: its arguments, the reporter, and the input gathered before any key
// is touched.
#include "cli/CliArguments.h"
#include "cli/CliExitCode.h"
#include "cli/CliReporter.h"
#include "oath/SecretFormats.h"
#include "device/DeviceBackends.h"

namespace cli {

// What the subcommand needs besides its arguments, gathered before the key is touched.
struct CommandInput {
  const CliArguments& args;
  CliReporter& reporter;
  // What every reader listing and transport of the command goes through.
  const DeviceBackends& backends;
  // oath add: the secret with its digits and moving factor, checked already.
  const CredentialSecret* secret = nullptr;
  // oath reset: the operator confirmed (--yes or at the terminal).
  bool operatorAgreed = false;
};

}  // namespace cli
