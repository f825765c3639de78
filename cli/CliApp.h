#pragma once
// tokvane-cli as a function: the program's arguments and streams in, the exit status out. The
// program's main calls it with the process's own; tests call it in-process.
#include <ostream>
#include <string>
#include <vector>

#include "cli/TouchCountdown.h"
#include "device/DeviceBackends.h"

namespace cli {

struct CliStreams {
  int inFd;  // standard input: secrets and confirmations are read from it
  std::ostream& out;
  std::ostream& err;
  // Whether `err` is a terminal (the touch countdown shows only there), and the touch window.
  TouchCountdownStyle countdown = {};
};

// `args` are the arguments after the program name. Returns the exit status (see CliExitCode.h).
// Keys are reached through `backends` (the VID/PID file is loaded into its key models), or through
// the demo key's with --demo.
int RunCli(const std::vector<std::string>& args, CliStreams streams, const DeviceBackends& backends);
// The same through the system's PC/SC service and HID interfaces.
int RunCli(const std::vector<std::string>& args, CliStreams streams);

}  // namespace cli
