#pragma once
// The subcommands about readers and the key itself: readers, info, mode show and mode set.
#include "cli/CliCommandInput.h"

namespace cli {

ExitCode RunReaders(const CommandInput& input);
ExitCode RunInfo(const CommandInput& input);
ExitCode RunModeShow(const CommandInput& input);
// The interface-mode switch of the reader panel: a fresh connection, the touch prompt where the
// key wants one, then 80 E1 FF 00 01 mode; the key takes the new set at its next plug-in.
ExitCode RunModeSet(const CommandInput& input);

}  // namespace cli
