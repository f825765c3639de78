#pragma once
// The transport contract the panels use: one command in, one response out, whether the key
// sits behind a PC/SC reader or is reached through HID reports.
#include <cstdint>
#include <string>

#include "device/ApduCommand.h"
#include "device/ApduResponse.h"
#include "core/Translate.h"

// What GetLastErrorText says after an Exchange that reported true for an answer shorter than a
// status word: the caller's response kept its 00 00, and the key said nothing rather than "no".
inline constexpr const char* kNoStatusWordText = N_("the key's answer has no status word");

class IDeveiceInterface {
 public:
  virtual ~IDeveiceInterface() = default;
  virtual bool Open() = 0;
  virtual bool IsOpen() = 0;
  virtual bool Close() = 0;
  // True when a response came back; whether the key accepted the command is the caller's
  // judgement on the status word.
  virtual bool Exchange(const CApduCommand& command, CApduResponse& response) = 0;
  // Why the last operation failed (narrow text); reading it may reset it.
  virtual std::string GetLastErrorText() = 0;
  virtual void SetName(const std::wstring& name) = 0;
  virtual std::wstring GetName() = 0;
};

// Protocol selector values of a smart-card transport.
enum ProtocolSelectorValue : int { ProtocolT0 = 0, ProtocolT1 = 1, ProtocolAnyOrRaw = 2 };

class ISCardInterface : public IDeveiceInterface {
 public:
  // Never called; every implementation returns 0.
  virtual int ReservedOperation(int, int, int, int) = 0;
  // Copies min(stored ATR length, capacity) bytes and returns that count.
  virtual std::uint32_t GetAtr(std::uint8_t* buffer, std::uint32_t capacity) = 0;
  virtual bool SetProtocol(int protocolSelector) = 0;
  virtual int GetProtocol() = 0;
  // Returns the previous value.
  virtual bool SetAutoGetResponse(bool enabled) = 0;
  // One exchange through the reader, without the T=0 adaptation.
  virtual bool Transmit(const CApduCommand& command, CApduResponse& response) = 0;
};
