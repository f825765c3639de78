#pragma once
// Which reader the CLI talks to: the one named with --reader, or the one the desktop program would
// connect to (the key's U2F interface, then its CCID reader, then its OTP interface), and the
// transport for it.
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "cli/CliExitCode.h"
#include "device/ReaderDiscovery.h"

namespace cli {

// What a reader is, as `readers` shows it.
enum class ReaderKind {
  Ccid,   // a PC/SC reader to which a connection opens: a key's smart-card interface
  Pcsc,   // a PC/SC reader with nothing that answers
  Otp,    // a key's OTP keyboard interface
  U2f,    // a key's U2F interface
};
const char* ReaderKindName(ReaderKind kind);
// Probes the reader once (a PC/SC connection, or opening the HID interface).
ReaderKind ProbeReaderKind(const DeviceBackends& backends, const std::string& name);

// Every reader, and the one the preference picks among them.
struct ReaderScan {
  readers::Listing listing;
  readers::PresentInterfaces present = 0;
  std::string preferred;  // empty when no key answers
};
ReaderScan ScanReaders(const DeviceBackends& backends);

class KeySession {
 public:
  explicit KeySession(DeviceBackends backends) : backends_(std::move(backends)) {}

  // Picks the reader: `requested` when given (it must be listed: otherwise Usage; no other reader
  // is reached, and Scan().present is that reader's interface alone), else the preferred one among
  // all readers probed (none: NoDevice). False with the exit code and a one-line reason.
  bool Choose(const std::optional<std::string>& requested, ExitCode& code, std::string& error);

  const ReaderScan& Scan() const { return scan_; }
  const std::string& ReaderName() const { return readerName_; }
  // The transport of the chosen reader (unopened at first); valid after a successful Choose.
  IDeveiceInterface& Device() { return *device_; }
  bool IsHid() const { return isHid_; }

 private:
  DeviceBackends backends_;
  ReaderScan scan_;
  std::string readerName_;
  std::unique_ptr<IDeveiceInterface> device_;
  bool isHid_ = false;
};

}  // namespace cli
