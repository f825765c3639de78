#include "device/PcscApi.h"

#include <PCSC/pcsclite.h>
#include <PCSC/reader.h>

#include <algorithm>

namespace {

// pcsc-lite behind the seam. Buffers the service allocates are copied out and freed here,
// so callers only ever hold vectors they own.
class SystemPcscApiImpl final : public PcscApi {
 public:
  LONG EstablishContext(SCARDCONTEXT* context) override {
    return SCardEstablishContext(SCARD_SCOPE_USER, nullptr, nullptr, context);
  }

  LONG ReleaseContext(SCARDCONTEXT context) override { return SCardReleaseContext(context); }

  LONG ListReaders(SCARDCONTEXT context, std::vector<char>& multiString) override {
    multiString.clear();
    LPSTR names = nullptr;
    DWORD length = SCARD_AUTOALLOCATE;
    const LONG result =
        SCardListReaders(context, nullptr, reinterpret_cast<LPSTR>(&names), &length);
    if (result != SCARD_S_SUCCESS) return result;
    if (names != nullptr) {
      multiString.assign(names, names + length);
      SCardFreeMemory(context, names);
    }
    return result;
  }

  LONG Connect(SCARDCONTEXT context, const std::string& readerName, DWORD shareMode,
               DWORD preferredProtocols, SCARDHANDLE* card, DWORD* activeProtocol) override {
    return SCardConnect(context, readerName.c_str(), shareMode, preferredProtocols, card,
                        activeProtocol);
  }

  LONG Disconnect(SCARDHANDLE card, DWORD disposition) override {
    return SCardDisconnect(card, disposition);
  }

  LONG Transmit(SCARDHANDLE card, DWORD protocol, const BYTE* send, DWORD sendLength,
                BYTE* receive, DWORD* receiveLength) override {
    return SCardTransmit(card, SendPci(protocol), send, sendLength, nullptr, receive,
                         receiveLength);
  }

  LONG GetAttrib(SCARDHANDLE card, DWORD attributeId, std::vector<BYTE>& value) override {
    // A buffer of our own rather than an automatically allocated one: pcsc-lite 1.9 loses that
    // one when the reader refuses the attribute, and vpcd refuses the channel id on every
    // presence check. No attribute passes the service's message buffer of MAX_BUFFER_SIZE.
    value.assign(MAX_BUFFER_SIZE, 0);
    DWORD length = static_cast<DWORD>(value.size());
    const LONG result = SCardGetAttrib(card, attributeId, value.data(), &length);
    if (result != SCARD_S_SUCCESS) {
      value.clear();
      return result;
    }
    value.resize(std::min<std::size_t>(length, value.size()));
    return result;
  }

  LONG Status(SCARDHANDLE card, std::vector<BYTE>& atr, DWORD* state, DWORD* protocol) override {
    atr.clear();
    BYTE atrBuffer[MAX_ATR_SIZE] = {};
    DWORD atrLength = sizeof(atrBuffer);
    DWORD nameLength = 0;  // a null name buffer asks only for the length
    DWORD ignoredState = 0;
    DWORD ignoredProtocol = 0;
    const LONG result = SCardStatus(card, nullptr, &nameLength, state ? state : &ignoredState,
                                    protocol ? protocol : &ignoredProtocol, atrBuffer, &atrLength);
    if (result != SCARD_S_SUCCESS) return result;
    if (atrLength > sizeof(atrBuffer)) atrLength = sizeof(atrBuffer);
    atr.assign(atrBuffer, atrBuffer + atrLength);
    return result;
  }

  LONG GetStatusChange(SCARDCONTEXT context, DWORD timeoutMs, SCARD_READERSTATE* states,
                       DWORD count) override {
    return SCardGetStatusChange(context, timeoutMs, states, count);
  }

  LONG Cancel(SCARDCONTEXT context) override { return SCardCancel(context); }

  std::string ErrorText(LONG code) override {
    const char* text = pcsc_stringify_error(code);
    return text != nullptr ? std::string(text) : std::string();
  }

 private:
  static const SCARD_IO_REQUEST* SendPci(DWORD protocol) {
    if (protocol == SCARD_PROTOCOL_T0) return SCARD_PCI_T0;
    if (protocol == SCARD_PROTOCOL_T1) return SCARD_PCI_T1;
    return SCARD_PCI_RAW;
  }
};

}  // namespace

std::shared_ptr<PcscApi> SystemPcscApi() {
  static const std::shared_ptr<PcscApi> system = std::make_shared<SystemPcscApiImpl>();
  return system;
}
