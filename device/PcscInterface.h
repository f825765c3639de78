#pragma once
// One named PC/SC reader, reached through the PcscApi seam: connect, presence check,
// disconnect and one exchange at a time. Every Open starts a fresh context, so a restarted
// smart-card service is picked up without restarting the program.
// The header stays free of pcsc-lite, so the panels that create readers never see it.
#include <cstdint>
#include <memory>
#include <string>

#include "device/SCardInterface.h"

class PcscApi;

class CPcscInterface : public CSCardInterface {
 public:
  // Card and context handles as the service gives them.
  using Handle = std::intptr_t;
  // The handle value that means "not connected": all bits set.
  static constexpr Handle kNotConnected = static_cast<Handle>(~std::uintptr_t{0});

  // Every call reaches the service through `api` (null: pcsc-lite).
  CPcscInterface(const std::string& readerName, std::shared_ptr<PcscApi> api);
  ~CPcscInterface() override;

  bool Open() override;
  bool IsOpen() override;
  bool Close() override;
  bool Transmit(const CApduCommand& command, CApduResponse& response) override;
  void SetName(const std::wstring& name) override;
  std::wstring GetName() override;
  bool SetProtocol(int protocolSelector) override;

 private:
  void SetErrorFromCode(long code);
  // Forgets a connection the service no longer honours and releases its context.
  void DropConnection();

  std::shared_ptr<PcscApi> Api;
  Handle CardHandle = kNotConnected;
  Handle Context = 0;
  bool HasContext = false;
  // The protocol the card runs (a ProtocolSelectorValue); picks the send PCI of every transmit.
  int ActiveProtocol = ProtocolAnyOrRaw;
  std::wstring ReaderName;
  // The name in the service's own encoding: connecting uses it as given, so a name that the
  // locale cannot turn into wide text still reaches its reader.
  std::string NarrowReaderName;
};
