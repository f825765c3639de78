// The pcsc-lite, hidapi and libudev functions Tokvane calls, defined here and handed on to the
// libraries, each opened the first time one of its functions is called rather than when the
// program starts (see core/LibraryOnFirstUse.h).
//
// Why: the window lists the readers and starts watching for devices only after its first paint,
// so linking these libraries directly made every start map and relocate them for nothing the
// operator sees first. Without a library every call fails the way the library reports failure,
// which the seams above already handle.
#include <PCSC/pcsclite.h>
#include <PCSC/winscard.h>
#include <hidapi/hidapi.h>
#ifdef TOKVANE_HAVE_LIBUDEV
#include <libudev.h>
#endif

#include "core/LibraryOnFirstUse.h"

namespace {

// Opened once, by whichever thread comes first (the key worker, the reader watcher or the
// window); a library stays loaded until the process ends. hidapi brings libudev in too; dlopen
// then hands back that one.
void* PcscLibrary() {
  static void* const library = tokvane::OpenLibrary("libpcsclite.so.1");
  return library;
}

void* HidapiLibrary() {
  static void* const library = tokvane::OpenLibrary("libhidapi-hidraw.so.0");
  return library;
}

#ifdef TOKVANE_HAVE_LIBUDEV
void* UdevLibrary() {
  static void* const library = tokvane::OpenLibrary("libudev.so.1");
  return library;
}
#endif

}  // namespace

#define TOKVANE_PCSC(name, parameters, arguments) \
  TOKVANE_CALL_ON_FIRST_USE(PcscLibrary(), LONG, name, SCARD_F_INTERNAL_ERROR, parameters, arguments)

// The protocol headers SCARD_PCI_T0 and friends point to, as pcsc-lite defines them: the library
// reads the protocol and the length from them.
const SCARD_IO_REQUEST g_rgSCardT0Pci = {SCARD_PROTOCOL_T0, sizeof(SCARD_IO_REQUEST)};
const SCARD_IO_REQUEST g_rgSCardT1Pci = {SCARD_PROTOCOL_T1, sizeof(SCARD_IO_REQUEST)};
const SCARD_IO_REQUEST g_rgSCardRawPci = {SCARD_PROTOCOL_RAW, sizeof(SCARD_IO_REQUEST)};

TOKVANE_PCSC(SCardEstablishContext, (DWORD scope, LPCVOID reserved1, LPCVOID reserved2, LPSCARDCONTEXT context),
             (scope, reserved1, reserved2, context))
TOKVANE_PCSC(SCardReleaseContext, (SCARDCONTEXT context), (context))
TOKVANE_PCSC(SCardListReaders, (SCARDCONTEXT context, LPCSTR groups, LPSTR readers, LPDWORD length),
             (context, groups, readers, length))
TOKVANE_PCSC(SCardFreeMemory, (SCARDCONTEXT context, LPCVOID memory), (context, memory))
TOKVANE_PCSC(SCardConnect,
             (SCARDCONTEXT context, LPCSTR reader, DWORD shareMode, DWORD preferredProtocols, LPSCARDHANDLE card,
              LPDWORD activeProtocol),
             (context, reader, shareMode, preferredProtocols, card, activeProtocol))
TOKVANE_PCSC(SCardDisconnect, (SCARDHANDLE card, DWORD disposition), (card, disposition))
TOKVANE_PCSC(SCardTransmit,
             (SCARDHANDLE card, const SCARD_IO_REQUEST* sendPci, LPCBYTE send, DWORD sendLength,
              SCARD_IO_REQUEST* receivePci, LPBYTE receive, LPDWORD receiveLength),
             (card, sendPci, send, sendLength, receivePci, receive, receiveLength))
TOKVANE_PCSC(SCardGetAttrib, (SCARDHANDLE card, DWORD attributeId, LPBYTE attribute, LPDWORD length),
             (card, attributeId, attribute, length))
TOKVANE_PCSC(SCardStatus,
             (SCARDHANDLE card, LPSTR readerName, LPDWORD readerLength, LPDWORD state, LPDWORD protocol, LPBYTE atr,
              LPDWORD atrLength),
             (card, readerName, readerLength, state, protocol, atr, atrLength))
TOKVANE_PCSC(SCardGetStatusChange, (SCARDCONTEXT context, DWORD timeout, SCARD_READERSTATE* states, DWORD count),
             (context, timeout, states, count))
TOKVANE_PCSC(SCardCancel, (SCARDCONTEXT context), (context))

const char* pcsc_stringify_error(const LONG code) {
  static const auto real =
      tokvane::FindInLibrary<decltype(&pcsc_stringify_error)>(PcscLibrary(), "pcsc_stringify_error");
  return real != nullptr ? real(code) : "The PC/SC library (libpcsclite.so.1) could not be loaded";
}

#define TOKVANE_HIDAPI(type, name, fail, parameters, arguments) \
  TOKVANE_CALL_ON_FIRST_USE(HidapiLibrary(), type, name, fail, parameters, arguments)

TOKVANE_HIDAPI(int, hid_init, -1, (void), ())
TOKVANE_HIDAPI(int, hid_exit, -1, (void), ())
TOKVANE_HIDAPI(struct hid_device_info*, hid_enumerate, nullptr, (unsigned short vendorId, unsigned short productId),
               (vendorId, productId))
TOKVANE_HIDAPI(hid_device*, hid_open_path, nullptr, (const char* path), (path))
TOKVANE_HIDAPI(int, hid_write, -1, (hid_device* device, const unsigned char* data, size_t length),
               (device, data, length))
TOKVANE_HIDAPI(int, hid_read_timeout, -1, (hid_device* device, unsigned char* data, size_t length, int milliseconds),
               (device, data, length, milliseconds))
TOKVANE_HIDAPI(int, hid_send_feature_report, -1, (hid_device* device, const unsigned char* data, size_t length),
               (device, data, length))
TOKVANE_HIDAPI(int, hid_get_feature_report, -1, (hid_device* device, unsigned char* data, size_t length),
               (device, data, length))

// Nothing to free or close without the library: nothing was listed or opened.
void hid_free_enumeration(struct hid_device_info* devices) {
  static const auto real =
      tokvane::FindInLibrary<decltype(&hid_free_enumeration)>(HidapiLibrary(), "hid_free_enumeration");
  if (real != nullptr) real(devices);
}

void hid_close(hid_device* device) {
  static const auto real = tokvane::FindInLibrary<decltype(&hid_close)>(HidapiLibrary(), "hid_close");
  if (real != nullptr) real(device);
}

// Without libudev the device-change monitor does not start (udev_new fails) and the program
// notices device changes through pcscd alone, as on a system without udev.
#ifdef TOKVANE_HAVE_LIBUDEV
#define TOKVANE_UDEV(type, name, fail, parameters, arguments) \
  TOKVANE_CALL_ON_FIRST_USE(UdevLibrary(), type, name, fail, parameters, arguments)

TOKVANE_UDEV(struct udev*, udev_new, nullptr, (void), ())
TOKVANE_UDEV(struct udev*, udev_unref, nullptr, (struct udev * context), (context))
TOKVANE_UDEV(struct udev_monitor*, udev_monitor_new_from_netlink, nullptr, (struct udev * context, const char* name),
             (context, name))
TOKVANE_UDEV(struct udev_monitor*, udev_monitor_unref, nullptr, (struct udev_monitor * monitor), (monitor))
TOKVANE_UDEV(int, udev_monitor_filter_add_match_subsystem_devtype, -1,
             (struct udev_monitor * monitor, const char* subsystem, const char* devtype), (monitor, subsystem, devtype))
TOKVANE_UDEV(int, udev_monitor_enable_receiving, -1, (struct udev_monitor * monitor), (monitor))
TOKVANE_UDEV(int, udev_monitor_get_fd, -1, (struct udev_monitor * monitor), (monitor))
TOKVANE_UDEV(struct udev_device*, udev_monitor_receive_device, nullptr, (struct udev_monitor * monitor), (monitor))
TOKVANE_UDEV(struct udev_device*, udev_device_unref, nullptr, (struct udev_device * device), (device))
#endif
