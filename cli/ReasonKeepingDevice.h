#pragma once
// A transport wrapper that remembers why the last Open or Exchange failed. The OATH actions read
// the transport's reason once for their own log (reading it may reset it); the CLI's one-line
// error wants it too.
#include <memory>
#include <string>

#include "device/DeviceInterface.h"

namespace cli {

class ReasonKeepingDevice : public IDeveiceInterface {
 public:
  explicit ReasonKeepingDevice(std::unique_ptr<IDeveiceInterface> inner) : inner_(std::move(inner)) {}

  bool Open() override;
  bool IsOpen() override { return inner_->IsOpen(); }
  bool Close() override { return inner_->Close(); }
  bool Exchange(const CApduCommand& command, CApduResponse& response) override;
  std::string GetLastErrorText() override { return lastReason_; }
  void SetName(const std::wstring& name) override { inner_->SetName(name); }
  std::wstring GetName() override { return inner_->GetName(); }

  // The reason of the last failed Open or Exchange, or of an answer without a status word; empty
  // when the transport gave none or nothing failed yet.
  const std::string& LastFailureReason() const { return lastReason_; }
  // Whether the last Exchange got no answer (some actions report that as a refusal).
  bool LastExchangeFailed() const { return lastExchangeFailed_; }

 private:
  std::unique_ptr<IDeveiceInterface> inner_;
  std::string lastReason_;
  bool lastExchangeFailed_ = false;
};

}  // namespace cli
