#pragma once
// What `tokvane-cli --help` and `tokvane-cli SUBCOMMAND --help` print.
#include <string>

#include "cli/CliArguments.h"

namespace cli {

// The help text of a subcommand, a group, or (None) the whole program; ends with a newline.
std::string HelpText(Command command);

}  // namespace cli
