#pragma once
// A transport whose key is a VirtualCard in this process: no reader, no service, just the card.
// Tests make it fail on purpose (open, every exchange, or the exchanges of one instruction) and
// count what it was asked.
#include <memory>
#include <string>
#include <utility>

#include "device/DeviceInterface.h"
#include "keysim/VirtualCard.h"

class CardDevice final : public IDeveiceInterface {
 public:
  explicit CardDevice(std::shared_ptr<VirtualCard> card) : card_(std::move(card)) {}
  bool Open() override;
  bool IsOpen() override;
  bool Close() override;
  bool Exchange(const CApduCommand& command, CApduResponse& response) override;
  std::string GetLastErrorText() override { return error_; }
  void SetName(const std::wstring& name) override { name_ = name; }
  std::wstring GetName() override { return name_; }

  bool failOpen = false;
  bool failExchange = false;
  int failIns = -1;    // exchanges of commands with this instruction byte fail
  int silentIns = -1;  // exchanges of commands with this instruction byte bring back nothing
  // The reason a failing exchange leaves.
  std::string failureText = "The card was removed.";
  int opens = 0;
  int closes = 0;
  int calls = 0;  // every call of the interface, so a test can tell that the device was left alone

 private:
  std::shared_ptr<VirtualCard> card_;
  bool open_ = false;
  std::string error_;
  std::wstring name_;
};
