#include "device/ReaderDiscovery.h"

#include <PCSC/pcsclite.h>

#include <algorithm>
#include <thread>

#include "core/Conversions.h"
#include "device/AppletSelection.h"
#include "device/CardOsCommands.h"
#include "device/HidDiscovery.h"
#include "device/KeyModels.h"
#include "device/PcscApi.h"
#include "device/PcscInterface.h"
#include "device/PcscReaderList.h"
#include "device/VnCosHidInterface.h"
#include "core/Translate.h"

namespace readers {

using tokvane::Tr;
namespace {

constexpr const char* kServiceMissingHint =
    N_("The smart-card service is not running, so no smart-card reader can be listed. "
    "Start it with: sudo systemctl start pcscd");
constexpr const char* kHidPermissionHint =
    N_("A connected key cannot be opened: your user may not open its /dev/hidraw node. "
    "Install the udev rules (see docs/hid.md), then plug the key in again.");

// True when the key's interface of that name opens with one handle for reading and writing, or
// cannot be found any more. Only the handles discovery returns decide it: no U2FHID INIT is sent,
// so a silent interface costs no exchange limit here.
bool InterfaceOpensWithOneHandle(const DeviceBackends& backends, const std::wstring& name) {
  HidApi& api = *backends.hid;
  HidHandle writeHandle = kInvalidHidHandle;
  HidHandle readHandle = kInvalidHidHandle;
  if (!FindHidDeviceByName(api, *backends.models, name, writeHandle, readHandle)) return true;
  const bool oneHandle = writeHandle == readHandle;
  api.Close(writeHandle);
  if (!oneHandle) api.Close(readHandle);
  return oneHandle;
}

// The service answers "no service" to a context or a listing when it is not running; an empty
// listing is otherwise just a host without readers.
bool SmartCardServiceMissing(PcscApi& api) {
  SCARDCONTEXT context = 0;
  const LONG established = api.EstablishContext(&context);
  if (established != SCARD_S_SUCCESS) return established == SCARD_E_NO_SERVICE;
  std::vector<char> multiString;
  const LONG listed = api.ListReaders(context, multiString);
  api.ReleaseContext(context);
  return listed == SCARD_E_NO_SERVICE;
}

}  // namespace

bool HasHidMarker(const std::string& name) { return name.find(kHidMarker) != std::string::npos; }

bool HasHidMarker(const std::wstring& name) { return IsHidReaderName(name); }

bool IsOtpHidName(const DeviceBackends& backends, const std::wstring& name) {
  return HasHidMarker(name) && InterfaceOpensWithOneHandle(backends, name);
}

bool IsOtpHidName(const DeviceBackends& backends, const std::string& name) {
  return HasHidMarker(name) && InterfaceOpensWithOneHandle(backends, AnsiToWide(name));
}

bool IsU2fHidName(const DeviceBackends& backends, const std::wstring& name) {
  return HasHidMarker(name) && !InterfaceOpensWithOneHandle(backends, name);
}

bool IsU2fHidName(const DeviceBackends& backends, const std::string& name) {
  return HasHidMarker(name) && !InterfaceOpensWithOneHandle(backends, AnsiToWide(name));
}

bool KindProbe::OpensWithOneHandle(const std::string& name) {
  const auto known = oneHandle_.find(name);
  if (known != oneHandle_.end()) return known->second;
  const bool oneHandle = InterfaceOpensWithOneHandle(backends_, AnsiToWide(name));
  oneHandle_.emplace(name, oneHandle);
  return oneHandle;
}

bool KindProbe::IsOtp(const std::string& name) { return HasHidMarker(name) && OpensWithOneHandle(name); }

bool KindProbe::IsU2f(const std::string& name) { return HasHidMarker(name) && !OpensWithOneHandle(name); }

std::vector<std::string> NamesMissingFrom(const std::vector<std::string>& a, const std::vector<std::string>& b) {
  std::vector<std::string> missing;
  for (const std::string& name : a) {
    if (std::find(b.begin(), b.end(), name) == b.end()) missing.push_back(name);
  }
  return missing;
}

Listing ListAll(const DeviceBackends& backends) {
  Listing listing;
  ListPcscReaderNamesNarrow(listing.names, backends.pcsc);
  if (listing.names.empty()) listing.smartCardServiceMissing = SmartCardServiceMissing(*backends.pcsc);

  std::vector<std::wstring> hidNames;
  EnumerateHidDevices(*backends.hid, *backends.models, hidNames);
  listing.hidPermissionDenied = backends.models->PermissionDenied();
  for (const std::wstring& name : hidNames) listing.names.push_back(WideToAnsi(name));
  return listing;
}

std::string FixItHint(const Listing& listing) {
  std::string hint;
  auto addLine = [&hint](const char* line) {
    if (!hint.empty()) hint += '\n';
    hint += line;
  };
  if (listing.smartCardServiceMissing) addLine(Tr(kServiceMissingHint));
  if (listing.hidPermissionDenied) addLine(Tr(kHidPermissionHint));
  return hint;
}

bool PcscReaderOpens(const DeviceBackends& backends, const std::string& name) {
  CPcscInterface reader(name, backends.pcsc);
  if (!reader.Open()) return false;
  reader.Close();
  return true;
}

PresentInterfaces ComputePresentInterfaces(const DeviceBackends& backends, const std::vector<std::string>& names) {
  KindProbe probe(backends);
  return ComputePresentInterfaces(names, probe);
}

PresentInterfaces ComputePresentInterfaces(const std::vector<std::string>& names, KindProbe& probe) {
  PresentInterfaces present = 0;
  for (const std::string& name : names) {
    if (PcscReaderOpens(probe.Backends(), name)) {
      present |= kPresentCcid;
    } else if (probe.IsOtp(name)) {
      present |= kPresentOtp;
    } else if (probe.IsU2f(name)) {
      present |= kPresentU2f;
    }
  }
  return present;
}

std::uint8_t ModeByteOf(PresentInterfaces present) {
  std::uint8_t mode = 0;
  if ((present & kPresentCcid) != 0) mode |= card_os::kInterfaceCcid;
  if ((present & kPresentOtp) != 0) mode |= card_os::kInterfaceOtp;
  if ((present & kPresentU2f) != 0) mode |= card_os::kInterfaceU2f;
  return mode;
}

AddedKinds ProbeAdded(const DeviceBackends& backends, const std::vector<std::string>& added,
                      std::chrono::milliseconds pcscWait) {
  KindProbe probe(backends);
  return ProbeAdded(added, probe, pcscWait);
}

AddedKinds ProbeAdded(const std::vector<std::string>& added, KindProbe& probe, std::chrono::milliseconds pcscWait) {
  AddedKinds kinds;
  for (const std::string& name : added) {
    if (probe.IsOtp(name)) {
      kinds.lastOtp = name;
    } else if (probe.IsU2f(name)) {
      kinds.lastU2f = name;
    } else {
      // A reader that has just appeared may need a moment before its card answers.
      std::this_thread::sleep_for(pcscWait);
      if (PcscReaderOpens(probe.Backends(), name)) kinds.lastCcid = name;
    }
  }
  return kinds;
}

std::string ChooseTarget(PresentInterfaces present, const AddedKinds& added) {
  if ((present & kPresentU2f) != 0) return added.lastU2f;
  if ((present & kPresentCcid) != 0) return added.lastCcid;
  if ((present & kPresentOtp) != 0) return added.lastOtp;
  return {};
}

void WakeUpPcscReader(const DeviceBackends& backends, const std::string& name, std::chrono::milliseconds wait) {
  std::this_thread::sleep_for(wait);
  if (!PcscReaderOpens(backends, name)) return;
  CPcscInterface reader(name, backends.pcsc);
  if (!reader.Open()) return;
  const applets::SelectionAnswer selected = applets::Select(reader, applets::Applet::Oath);
  if (selected.exchanged && selected.response.IsSuccess()) {
    CApduResponse woken;
    reader.Exchange(CommandFromBytes(BuildE3P1Command()), woken);
  }
  reader.Close();
}

Transport CreateTransport(const DeviceBackends& backends, const std::wstring& name) {
  Transport transport;
  // The kind probes accept exactly the marked names, so the marker alone decides the transport.
  if (HasHidMarker(name)) {
    transport.device = std::make_unique<VnCosHidInterface>(backends, name);
    transport.isHid = true;
  } else {
    transport.device = std::make_unique<CPcscInterface>(WideToAnsi(name), backends.pcsc);
  }
  return transport;
}

Transport CreateTransport(const DeviceBackends& backends, const std::string& name) {
  if (HasHidMarker(name)) return CreateTransport(backends, AnsiToWide(name));
  Transport transport;
  transport.device = std::make_unique<CPcscInterface>(name, backends.pcsc);
  return transport;
}

}  // namespace readers
