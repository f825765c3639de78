#pragma once
// One named PC/SC reader, reached through the PcscApi seam: connect, presence check,
// disconnect and one exchange at a time. Every Open starts a fresh context, so a restarted
// smart-card service is picked up without restarting the program.
#include <PCSC/winscard.h>
#include <PCSC/wintypes.h>

#include <memory>
#include <string>

#include "device/PcscApi.h"
#include "device/SCardInterface.h"

class CPcscInterface : public CSCardInterface {
 public:
  // The handle value that means "not connected".
  static constexpr SCARDHANDLE kNotConnected = ~static_cast<SCARDHANDLE>(0);

  explicit CPcscInterface(const std::string& readerName,
                          std::shared_ptr<PcscApi> api = ActivePcscApi());
  ~CPcscInterface() override;

  bool Open() override;
  bool IsOpen() override;
  bool Close() override;
  bool Transmit(const CApduCommand& command, CApduResponse& response) override;
  void SetName(const std::wstring& name) override;
  std::wstring GetName() override;
  bool SetProtocol(int protocolSelector) override;

 private:
  void SetErrorFromCode(LONG code);
  // Forgets a connection the service no longer honours and releases its context.
  void DropConnection();

  std::shared_ptr<PcscApi> Api;
  SCARDHANDLE CardHandle = kNotConnected;
  SCARDCONTEXT Context = 0;
  bool HasContext = false;
  // The protocol the card runs; picks the send PCI of every transmit.
  DWORD ActiveProtocol = SCARD_PROTOCOL_RAW;
  std::wstring ReaderName;
  // The name in the service's own encoding: connecting uses it as given, so a name that the
  // locale cannot turn into wide text still reaches its reader.
  std::string NarrowReaderName;
};
