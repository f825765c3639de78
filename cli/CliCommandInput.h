#pragma once
// What a subcommand gets: its arguments, the reporter, and the input gathered before any key
// is touched.
#include "cli/CliArguments.h"
#include "cli/CliExitCode.h"
#include "cli/CliReporter.h"
#include "cli/SecretParsers.h"

namespace cli {

// What the subcommand needs besides its arguments, gathered before the key is touched.
struct CommandInput {
  const CliArguments& args;
  CliReporter& reporter;
  // oath add: the secret with its digits and moving factor, checked already.
  const CredentialSecret* secret = nullptr;
  // oath reset: the operator confirmed (--yes or at the terminal).
  bool operatorAgreed = false;
};

}  // namespace cli
