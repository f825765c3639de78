#pragma once
// Finding the readers a key shows up as, judging what kind each one is, and choosing the one to
// connect to: the part of the reader panel that needs no window, shared with the command-line
// program. A reader is a PC/SC reader the smart-card service lists, or a HID pseudo-reader
// ("VORTAN HID DEVICE KB 0", "VORTAN HID DEVICE U2F 1") standing for one HID interface of a key.
// Every function reaches readers and interfaces only through the backends it is given.
#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "device/DeviceBackends.h"
#include "device/DeviceInterface.h"

namespace readers {

// A name is a HID pseudo-reader exactly when this text occurs anywhere in it (case matters).
inline constexpr const char* kHidMarker = "VORTAN HID DEVICE";
bool HasHidMarker(const std::string& name);
bool HasHidMarker(const std::wstring& name);

// Kind probes. A name without the marker is neither. Otherwise the interface is found by its name
// and its handles closed again at once (nothing is sent to it): an interface that opens with a single
// handle is an OTP keyboard interface, one with separate read and write handles a U2F interface. An interface
// that cannot be found any more counts as OTP, so exactly one of the two accepts a marked name.
bool IsOtpHidName(const DeviceBackends& backends, const std::string& name);
bool IsOtpHidName(const DeviceBackends& backends, const std::wstring& name);
bool IsU2fHidName(const DeviceBackends& backends, const std::string& name);
bool IsU2fHidName(const DeviceBackends& backends, const std::wstring& name);

// The kind probes of one refresh over one set of backends: each name is opened at most once,
// however often its kind is asked.
class KindProbe {
 public:
  explicit KindProbe(DeviceBackends backends) : backends_(std::move(backends)) {}
  bool IsOtp(const std::string& name);
  bool IsU2f(const std::string& name);
  const DeviceBackends& Backends() const { return backends_; }

 private:
  bool OpensWithOneHandle(const std::string& name);
  DeviceBackends backends_;
  std::map<std::string, bool> oneHandle_;
};

// The names of `a` that do not occur in `b`, in the order of `a`, repeated names included. Names
// are equal when their bytes are.
std::vector<std::string> NamesMissingFrom(const std::vector<std::string>& a, const std::vector<std::string>& b);

struct Listing {
  // The PC/SC readers in the service's order, then the HID pseudo-readers in enumeration order.
  std::vector<std::string> names;
  // The smart-card service is not running (its readers cannot be listed).
  bool smartCardServiceMissing = false;
  // An interface of a configured key exists but the user may not open its hidraw node.
  bool hidPermissionDenied = false;
};
Listing ListAll(const DeviceBackends& backends);

// What an operator can do about what kept readers out of the listing (start the service, install
// the udev rules), one line per cause; empty when nothing did.
std::string FixItHint(const Listing& listing);

// Which key interfaces a reader list offers.
using PresentInterfaces = std::uint8_t;
inline constexpr PresentInterfaces kPresentCcid = 0x01;  // a PC/SC reader to which a connection opens
inline constexpr PresentInterfaces kPresentOtp = 0x02;   // a name IsOtpHidName accepts
inline constexpr PresentInterfaces kPresentU2f = 0x04;   // a name IsU2fHidName accepts

// Opens every PC/SC reader of `names` once (closing it again) and probes the HID names, through
// the given backends or the probe's.
PresentInterfaces ComputePresentInterfaces(const DeviceBackends& backends, const std::vector<std::string>& names);
PresentInterfaces ComputePresentInterfaces(const std::vector<std::string>& names, KindProbe& probe);
// The interface-mode byte presenting the same set (0x40 CCID, 0x10 OTP, 0x20 U2F); 0 for none.
std::uint8_t ModeByteOf(PresentInterfaces present);

// The fixed pauses of a refresh: before each PC/SC probe, and before the wake-up exchange.
inline constexpr std::chrono::milliseconds kPcscProbeWait{100};
inline constexpr std::chrono::milliseconds kWakeUpWait{30};

// The last name of each kind among newly added readers; empty when none of that kind was added.
struct AddedKinds {
  std::string lastOtp;
  std::string lastU2f;
  std::string lastCcid;
};
// Probes the added names in order: the HID kinds first, anything else is taken for a PC/SC reader
// and counts as CCID when a connection opens after `pcscWait`.
AddedKinds ProbeAdded(const DeviceBackends& backends, const std::vector<std::string>& added,
                      std::chrono::milliseconds pcscWait = kPcscProbeWait);
AddedKinds ProbeAdded(const std::vector<std::string>& added, KindProbe& probe,
                      std::chrono::milliseconds pcscWait = kPcscProbeWait);

// True when a connection to the PC/SC reader opens; it is closed again.
bool PcscReaderOpens(const DeviceBackends& backends, const std::string& name);

// The reader to connect to: U2F first, then CCID, then OTP, by the kinds present in the whole list,
// taken from the added names. Empty when the preferred kind was not among them, or nothing is present.
std::string ChooseTarget(PresentInterfaces present, const AddedKinds& added);

// Wakes a PC/SC key that needs it after plug-in: after `wait`, connects, disconnects, connects
// again and sends the OATH applet selection, then, on 90 00, 80 E3 01 00. Nothing is reported;
// a reader that does not open (any HID pseudo-reader) ends it quietly.
void WakeUpPcscReader(const DeviceBackends& backends, const std::string& name,
                      std::chrono::milliseconds wait = kWakeUpWait);

// A new, unopened transport for the reader, already carrying its name: the HID transport for a
// marked name, the PC/SC transport otherwise.
struct Transport {
  std::unique_ptr<IDeveiceInterface> device;
  bool isHid = false;
};
Transport CreateTransport(const DeviceBackends& backends, const std::wstring& name);
// The same for a name as the listing gave it: a PC/SC reader keeps these exact bytes, whether or
// not the locale can decode them.
Transport CreateTransport(const DeviceBackends& backends, const std::string& name);

}  // namespace readers
