// tokvane-cli: the key operations of Tokvane from a terminal, for scripts.
#include <unistd.h>

#include <clocale>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>
#include <iostream>
#include <string>
#include <vector>

#include "cli/CliApp.h"
#include "cli/CliExitCode.h"
#include "cli/Confirmation.h"
#include "core/CoreDumps.h"
#include "core/Translate.h"
#include "device/PcscApi.h"
#include "keysim/VirtualHidApi.h"

int main(int argc, char** argv) {
  if (std::string reason; !DisableCoreDumps(reason)) std::cerr << "tokvane-cli: " << reason << "\n";
  // Reader names and credential names pass through the locale's encoding, as in the desktop program.
  tokvane::InitTranslations();
  try {
    const std::vector<std::string> args(argv + 1, argv + argc);
    cli::TouchCountdownStyle countdown;
    countdown.terminal = cli::IsTerminal(STDERR_FILENO);
    const cli::CliStreams streams{STDIN_FILENO, std::cout, std::cerr, countdown};
    // TOKVANE_NO_SYSTEM_HID=1: the HID interfaces of the machine are left alone (none are listed),
    // so a test run through pcscd's virtual reader cannot reach a key plugged into the machine.
    if (const char* noHid = std::getenv("TOKVANE_NO_SYSTEM_HID"); noHid != nullptr && std::strcmp(noHid, "1") == 0) {
      return cli::RunCli(args, streams, MakeDeviceBackends(SystemPcscApi(), std::make_shared<VirtualHidApi>()));
    }
    return cli::RunCli(args, streams);
  } catch (const std::exception& failure) {
    // Only running out of memory throws here; say so rather than abort.
    std::cerr << "tokvane-cli: " << failure.what() << "\n";
    return static_cast<int>(cli::ExitCode::NoDevice);
  }
}
