#pragma once
// The window's current device as the panels see it: the transport itself belongs to the key
// worker, and every call on it runs there (see KeyWorker) while the window stays alive. Once the
// program is closing, a call that would reach the key fails at once, naming why.
#include <memory>
#include <string>

#include "device/DeviceInterface.h"

class KeyWorker;

class WorkerBoundDevice final : public IDeveiceInterface {
 public:
  WorkerBoundDevice(KeyWorker& worker, std::unique_ptr<IDeveiceInterface> transport);
  // The transport is let go of on the worker, behind any step still queued.
  ~WorkerBoundDevice() override;
  WorkerBoundDevice(const WorkerBoundDevice&) = delete;
  WorkerBoundDevice& operator=(const WorkerBoundDevice&) = delete;

  bool Open() override;
  bool IsOpen() override;
  bool Close() override;
  bool Exchange(const CApduCommand& command, CApduResponse& response) override;
  std::string GetLastErrorText() override;
  void SetName(const std::wstring& name) override;
  std::wstring GetName() override;

  // The worker its calls run on.
  KeyWorker& Worker() { return worker_; }

 private:
  // Runs `call` on the worker; false when the program is closing (the reason is kept).
  template <class Call>
  bool OnWorker(Call&& call);

  KeyWorker& worker_;
  std::unique_ptr<IDeveiceInterface> transport_;
  // Why a call was not run; read by GetLastErrorText before the transport's own reason.
  std::string notRunReason_;
  // Kept on the GUI side: the name is no key traffic, and tests and panels read it often.
  std::wstring name_;
  // Expires with this object; a call that finds it expired after its step leaves it alone.
  std::shared_ptr<int> alive_;
};

// The text a call gets when the program is closing and the key is left alone.
inline constexpr const char* kClosingText = "Tokvane is closing: the command was not sent to the key";
