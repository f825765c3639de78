// tokvane-cli: the key operations of Tokvane from a terminal, for scripts.
#include <unistd.h>

#include <clocale>
#include <exception>
#include <iostream>
#include <string>
#include <vector>

#include "cli/CliApp.h"
#include "cli/CliExitCode.h"
#include "cli/Confirmation.h"
#include "core/CoreDumps.h"

int main(int argc, char** argv) {
  if (std::string reason; !DisableCoreDumps(reason)) std::cerr << "tokvane-cli: " << reason << "\n";
  // Reader names and credential names pass through the locale's encoding, as in the desktop program.
  std::setlocale(LC_ALL, "");
  try {
    const std::vector<std::string> args(argv + 1, argv + argc);
    cli::TouchCountdownStyle countdown;
    countdown.terminal = cli::IsTerminal(STDERR_FILENO);
    return cli::RunCli(args, cli::CliStreams{STDIN_FILENO, std::cout, std::cerr, countdown});
  } catch (const std::exception& failure) {
    // Only running out of memory throws here; say so rather than abort.
    std::cerr << "tokvane-cli: " << failure.what() << "\n";
    return static_cast<int>(cli::ExitCode::NoDevice);
  }
}
