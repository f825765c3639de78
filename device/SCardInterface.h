#pragma once
// The smart-card side of a transport that every PC/SC reader shares: the stored ATR, the
// protocol selector, the text of the last failure, and the adaptation of any command to T=0
// (GET RESPONSE chaining, short forms of extended commands, ENVELOPE for the rest).
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "device/DeviceInterface.h"

class CSCardInterface : public ISCardInterface {
 public:
  static constexpr std::size_t kAtrCapacity = 33;
  static constexpr std::size_t kMaxStoredAtr = 32;
  // The most response data one exchange may collect, chained pieces included.
  static constexpr std::size_t kMaxCollectedData = 65535;
  // Body bytes per ENVELOPE command.
  static constexpr std::size_t kEnvelopePiece = 250;

  CSCardInterface() = default;
  ~CSCardInterface() override = default;
  CSCardInterface(const CSCardInterface&) = delete;
  CSCardInterface& operator=(const CSCardInterface&) = delete;

  bool Exchange(const CApduCommand& command, CApduResponse& response) override;
  std::string GetLastErrorText() override;
  void SetName(const std::wstring& name) override;
  std::wstring GetName() override;

  int ReservedOperation(int, int, int, int) override;
  std::uint32_t GetAtr(std::uint8_t* buffer, std::uint32_t capacity) override;
  bool SetProtocol(int protocolSelector) override;
  int GetProtocol() override;
  bool SetAutoGetResponse(bool enabled) override;

 protected:
  // Keeps at most the first 32 bytes.
  void StoreAtr(const std::uint8_t* atr, std::size_t length);

  std::uint8_t Atr[kAtrCapacity] = {};
  std::uint8_t AtrLength = 0;
  std::string ErrorText = "No error.";
  int ProtocolSelector = ProtocolAnyOrRaw;
  bool AutoGetResponse = true;

 private:
  bool TransmitShortForm(std::vector<std::uint8_t> shortForm, const CApduCommand& command,
                         CApduResponse& response);
  bool GetResponseChain(const CApduCommand& command, CApduResponse& response);
  bool ExchangeInEnvelopes(const CApduCommand& command, CApduResponse& response);
  // Sends GET RESPONSE while `last` says 61 xx, appending each answer's data to `collected`;
  // `last` ends as the final answer. Its data is appended always, or only on 90 00.
  bool CollectChain(CApduCommand& getResponse, CApduResponse& last, bool appendFinalAlways,
                    std::vector<std::uint8_t>& collected);
  bool Append(std::vector<std::uint8_t>& collected, const CApduResponse& piece);
};
