#include "cli/KeySession.h"

#include <algorithm>
#include <chrono>

#include "cli/CliOutput.h"
#include "core/Translate.h"

namespace cli {

using tokvane::Substitute;
using tokvane::Tr;

const char* ReaderKindName(ReaderKind kind) {
  switch (kind) {
    case ReaderKind::Ccid: return "CCID";
    case ReaderKind::Pcsc: return "PCSC";
    case ReaderKind::Otp: return "OTP";
    case ReaderKind::U2f: return "U2F";
  }
  return "";
}

ReaderKind ProbeReaderKind(const DeviceBackends& backends, const std::string& name) {
  if (readers::HasHidMarker(name)) return readers::IsOtpHidName(backends, name) ? ReaderKind::Otp : ReaderKind::U2f;
  return readers::PcscReaderOpens(backends, name) ? ReaderKind::Ccid : ReaderKind::Pcsc;
}

ReaderScan ScanReaders(const DeviceBackends& backends) {
  ReaderScan scan;
  scan.listing = readers::ListAll(backends);
  readers::KindProbe probe(backends);
  scan.present = readers::ComputePresentInterfaces(scan.listing.names, probe);
  // Every reader is new to a program that has just started; the readers are there already, so
  // the pause the desktop program makes for a reader that has just appeared is not needed.
  const readers::AddedKinds kinds = readers::ProbeAdded(scan.listing.names, probe, std::chrono::milliseconds(0));
  scan.preferred = readers::ChooseTarget(scan.present, kinds);
  return scan;
}

bool KeySession::Choose(const std::optional<std::string>& requested, ExitCode& code, std::string& error) {
  if (requested) {
    // A named reader is the only one reached: the others are listed, never connected to or opened.
    scan_ = ReaderScan{};
    scan_.listing = readers::ListAll(backends_);
    const auto& names = scan_.listing.names;
    if (std::find(names.begin(), names.end(), *requested) == names.end()) {
      code = ExitCode::Usage;
      error = Substitute(Tr("unknown reader '%1' (see tokvane-cli readers)"), {PrintableText(*requested)});
      return false;
    }
    scan_.present = readers::ComputePresentInterfaces(backends_, {*requested});
    readerName_ = *requested;
  } else {
    scan_ = ScanReaders(backends_);
    if (scan_.preferred.empty()) {
      code = ExitCode::NoDevice;
      error = Tr("no key found");
      const std::string hint = readers::FixItHint(scan_.listing);
      if (!hint.empty()) error += ": " + hint.substr(0, hint.find('\n'));
      return false;
    }
    readerName_ = scan_.preferred;
  }
  readers::Transport transport = readers::CreateTransport(backends_, readerName_);
  if (transport.device == nullptr) {
    code = ExitCode::NoDevice;
    error = Substitute(Tr("cannot create a transport for '%1'"), {PrintableText(readerName_)});
    return false;
  }
  isHid_ = transport.isHid;
  device_ = std::move(transport.device);
  return true;
}

}  // namespace cli
