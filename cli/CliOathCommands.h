#pragma once
// The oath subcommands (list, code, add, delete, default, reset): each is the credentials panel's
// action sequence, run against the chosen key through the terminal's host.
#include "cli/CliCommandInput.h"

namespace cli {

ExitCode RunOath(const CommandInput& input);

}  // namespace cli
