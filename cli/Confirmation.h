#pragma once
// Asking the operator before an action that discards data.
#include <ostream>
#include <string_view>

namespace cli {

// True when `fd` is a terminal.
bool IsTerminal(int fd);

// Asks `question` on `prompt` and reads one line from the terminal `fd`; true for "y" or "yes"
// (any case). False for anything else, end of input, or when `fd` is not a terminal: a script
// confirms with an option instead of by accident through its input.
bool ConfirmOnTerminal(int fd, std::ostream& prompt, std::string_view question);

}  // namespace cli
