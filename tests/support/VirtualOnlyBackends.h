#pragma once
// The backends every test that goes through the system's pcscd uses: pcsc-lite, but only the
// vpcd readers are listed or reached, and an empty set of HID interfaces in place of hidraw. A
// contributor's own key, plugged into the machine the tests run on, is never listed, connected
// or sent a command; an attempt to reach it is refused.
#include <memory>
#include <string>

#include "device/DeviceBackends.h"
#include "device/PcscApi.h"

namespace tokvane::integration {

// True for the names vpcd gives its readers ("Virtual PCD 00 00", ...).
bool IsVirtualReaderName(const std::string& name);

// A PcscApi that passes everything to `inner` for the vpcd readers only: other readers are left out
// of every listing, and connecting to them or watching them is refused (SCARD_E_UNKNOWN_READER).
class VirtualReadersOnlyPcscApi final : public PcscApi {
 public:
  explicit VirtualReadersOnlyPcscApi(std::shared_ptr<PcscApi> inner) : inner_(std::move(inner)) {}

  LONG EstablishContext(SCARDCONTEXT* context) override { return inner_->EstablishContext(context); }
  LONG ReleaseContext(SCARDCONTEXT context) override { return inner_->ReleaseContext(context); }
  LONG ListReaders(SCARDCONTEXT context, std::vector<char>& multiString) override;
  LONG Connect(SCARDCONTEXT context, const std::string& readerName, DWORD shareMode, DWORD preferredProtocols,
               SCARDHANDLE* card, DWORD* activeProtocol) override;
  LONG Disconnect(SCARDHANDLE card, DWORD disposition) override { return inner_->Disconnect(card, disposition); }
  LONG Transmit(SCARDHANDLE card, DWORD protocol, const BYTE* send, DWORD sendLength, BYTE* receive,
                DWORD* receiveLength) override {
    return inner_->Transmit(card, protocol, send, sendLength, receive, receiveLength);
  }
  LONG GetAttrib(SCARDHANDLE card, DWORD attributeId, std::vector<BYTE>& value) override {
    return inner_->GetAttrib(card, attributeId, value);
  }
  LONG Status(SCARDHANDLE card, std::vector<BYTE>& atr, DWORD* state, DWORD* protocol) override {
    return inner_->Status(card, atr, state, protocol);
  }
  LONG GetStatusChange(SCARDCONTEXT context, DWORD timeoutMs, SCARD_READERSTATE* states, DWORD count) override;
  LONG Cancel(SCARDCONTEXT context) override { return inner_->Cancel(context); }
  std::string ErrorText(LONG code) override { return inner_->ErrorText(code); }

 private:
  std::shared_ptr<PcscApi> inner_;
};

// pcsc-lite behind VirtualReadersOnlyPcscApi, and a VirtualHidApi without keys.
DeviceBackends VirtualOnlySystemBackends();

}  // namespace tokvane::integration
