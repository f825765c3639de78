#include "tests/support/VirtualOnlyBackends.h"

#include <cstring>

#include "keysim/VirtualHidApi.h"

namespace tokvane::integration {

namespace {

// The name pcsc-lite watches to tell a reader was added or removed; it reaches no reader.
constexpr const char* kPnpNotification = "\\\\?PnP?\\Notification";

}  // namespace

bool IsVirtualReaderName(const std::string& name) { return name.rfind("Virtual PCD ", 0) == 0; }

LONG VirtualReadersOnlyPcscApi::ListReaders(SCARDCONTEXT context, std::vector<char>& multiString) {
  std::vector<char> all;
  const LONG listed = inner_->ListReaders(context, all);
  multiString.clear();
  if (listed != SCARD_S_SUCCESS) return listed;
  all.push_back('\0');  // the walk below stops even on a list without its final NUL
  for (const char* name = all.data(); *name != '\0'; name += std::strlen(name) + 1) {
    if (!IsVirtualReaderName(name)) continue;
    multiString.insert(multiString.end(), name, name + std::strlen(name) + 1);
  }
  if (multiString.empty()) return SCARD_E_NO_READERS_AVAILABLE;
  multiString.push_back('\0');
  return SCARD_S_SUCCESS;
}

LONG VirtualReadersOnlyPcscApi::Connect(SCARDCONTEXT context, const std::string& readerName, DWORD shareMode,
                                        DWORD preferredProtocols, SCARDHANDLE* card, DWORD* activeProtocol) {
  if (!IsVirtualReaderName(readerName)) return SCARD_E_UNKNOWN_READER;
  return inner_->Connect(context, readerName, shareMode, preferredProtocols, card, activeProtocol);
}

LONG VirtualReadersOnlyPcscApi::GetStatusChange(SCARDCONTEXT context, DWORD timeoutMs, SCARD_READERSTATE* states,
                                                DWORD count) {
  for (DWORD i = 0; i < count; ++i) {
    const char* name = states[i].szReader;
    if (name == nullptr || std::strcmp(name, kPnpNotification) == 0) continue;
    if (!IsVirtualReaderName(name)) return SCARD_E_UNKNOWN_READER;
  }
  return inner_->GetStatusChange(context, timeoutMs, states, count);
}

DeviceBackends VirtualOnlySystemBackends() {
  return MakeDeviceBackends(std::make_shared<VirtualReadersOnlyPcscApi>(SystemPcscApi()),
                            std::make_shared<VirtualHidApi>());
}

}  // namespace tokvane::integration
