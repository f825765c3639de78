#pragma once
// The seam between the PC/SC transport and the smart-card service. The default calls pcsc-lite;
// unit tests hand in a scripted fake, the demo mode and GUI tests an in-process virtual reader
// (see DeviceBackends).
#include <PCSC/winscard.h>
#include <PCSC/wintypes.h>

#include <memory>
#include <string>
#include <vector>

class PcscApi {
 public:
  virtual ~PcscApi() = default;

  // Scope user, no reserved arguments.
  virtual LONG EstablishContext(SCARDCONTEXT* context) = 0;
  virtual LONG ReleaseContext(SCARDCONTEXT context) = 0;
  // The readers as the service's multi-string: each name ended by a NUL, the whole ended by an
  // empty name. The buffer is owned by the caller (nothing to free).
  virtual LONG ListReaders(SCARDCONTEXT context, std::vector<char>& multiString) = 0;
  virtual LONG Connect(SCARDCONTEXT context, const std::string& readerName, DWORD shareMode,
                       DWORD preferredProtocols, SCARDHANDLE* card, DWORD* activeProtocol) = 0;
  virtual LONG Disconnect(SCARDHANDLE card, DWORD disposition) = 0;
  // `protocol` is SCARD_PROTOCOL_T0, SCARD_PROTOCOL_T1 or SCARD_PROTOCOL_RAW and picks the send PCI.
  // On entry *receiveLength is the capacity of `receive`.
  virtual LONG Transmit(SCARDHANDLE card, DWORD protocol, const BYTE* send, DWORD sendLength,
                        BYTE* receive, DWORD* receiveLength) = 0;
  virtual LONG GetAttrib(SCARDHANDLE card, DWORD attributeId, std::vector<BYTE>& value) = 0;
  // The ATR the service holds for the card, and the card's state and active protocol.
  virtual LONG Status(SCARDHANDLE card, std::vector<BYTE>& atr, DWORD* state, DWORD* protocol) = 0;
  virtual LONG GetStatusChange(SCARDCONTEXT context, DWORD timeoutMs, SCARD_READERSTATE* states,
                               DWORD count) = 0;
  virtual LONG Cancel(SCARDCONTEXT context) = 0;
  // Text for a PC/SC result code.
  virtual std::string ErrorText(LONG code) = 0;
};

// The pcsc-lite implementation.
std::shared_ptr<PcscApi> SystemPcscApi();
