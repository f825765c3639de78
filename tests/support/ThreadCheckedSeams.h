#pragma once
// Seams that note every call reaching a key from the thread that built them (in the GUI tests:
// the GUI thread, which must never wait on a key). Each forwards to the seam it wraps. Cancelling
// the reader watcher's wait and reading an error text reach no key and are not counted.
#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "device/HidApi.h"
#include "device/PcscApi.h"

class ForbiddenThreadCalls {
 public:
  ForbiddenThreadCalls() : forbidden_(std::this_thread::get_id()) {}
  // The calls made on the forbidden thread, by name, in order.
  std::vector<std::string> Seen() const {
    std::lock_guard lock(mutex_);
    return seen_;
  }

 protected:
  void Note(const char* call) {
    if (std::this_thread::get_id() != forbidden_) return;
    std::lock_guard lock(mutex_);
    seen_.emplace_back(call);
  }

 private:
  std::thread::id forbidden_;
  mutable std::mutex mutex_;
  std::vector<std::string> seen_;
};

class ThreadCheckedPcscApi final : public PcscApi, public ForbiddenThreadCalls {
 public:
  explicit ThreadCheckedPcscApi(std::shared_ptr<PcscApi> inner) : inner_(std::move(inner)) {}
  LONG EstablishContext(SCARDCONTEXT* context) override {
    Note("EstablishContext");
    return inner_->EstablishContext(context);
  }
  LONG ReleaseContext(SCARDCONTEXT context) override {
    Note("ReleaseContext");
    return inner_->ReleaseContext(context);
  }
  LONG ListReaders(SCARDCONTEXT context, std::vector<char>& multiString) override {
    Note("ListReaders");
    return inner_->ListReaders(context, multiString);
  }
  LONG Connect(SCARDCONTEXT context, const std::string& readerName, DWORD shareMode, DWORD preferred,
               SCARDHANDLE* card, DWORD* active) override {
    Note("Connect");
    return inner_->Connect(context, readerName, shareMode, preferred, card, active);
  }
  LONG Disconnect(SCARDHANDLE card, DWORD disposition) override {
    Note("Disconnect");
    return inner_->Disconnect(card, disposition);
  }
  LONG Transmit(SCARDHANDLE card, DWORD protocol, const BYTE* send, DWORD sendLength, BYTE* receive,
                DWORD* receiveLength) override {
    Note("Transmit");
    return inner_->Transmit(card, protocol, send, sendLength, receive, receiveLength);
  }
  LONG GetAttrib(SCARDHANDLE card, DWORD attributeId, std::vector<BYTE>& value) override {
    Note("GetAttrib");
    return inner_->GetAttrib(card, attributeId, value);
  }
  LONG Status(SCARDHANDLE card, std::vector<BYTE>& atr, DWORD* state, DWORD* protocol) override {
    Note("Status");
    return inner_->Status(card, atr, state, protocol);
  }
  LONG GetStatusChange(SCARDCONTEXT context, DWORD timeoutMs, SCARD_READERSTATE* states, DWORD count) override {
    Note("GetStatusChange");
    return inner_->GetStatusChange(context, timeoutMs, states, count);
  }
  LONG Cancel(SCARDCONTEXT context) override { return inner_->Cancel(context); }
  std::string ErrorText(LONG code) override { return inner_->ErrorText(code); }

 private:
  std::shared_ptr<PcscApi> inner_;
};

class ThreadCheckedHidApi final : public HidApi, public ForbiddenThreadCalls {
 public:
  explicit ThreadCheckedHidApi(std::shared_ptr<HidApi> inner) : inner_(std::move(inner)) {}
  std::vector<HidInterfaceInfo> Enumerate() override {
    Note("Enumerate");
    return inner_->Enumerate();
  }
  HidHandle OpenForWrite(const std::string& path) override {
    Note("OpenForWrite");
    return inner_->OpenForWrite(path);
  }
  HidHandle OpenForRead(const std::string& path) override {
    Note("OpenForRead");
    return inner_->OpenForRead(path);
  }
  HidOpenFailure LastOpenFailure() const override { return inner_->LastOpenFailure(); }
  bool SendFeatureReport(HidHandle handle, const std::uint8_t* report, std::size_t length) override {
    Note("SendFeatureReport");
    return inner_->SendFeatureReport(handle, report, length);
  }
  int GetFeatureReport(HidHandle handle, std::uint8_t* report, std::size_t length) override {
    Note("GetFeatureReport");
    return inner_->GetFeatureReport(handle, report, length);
  }
  int Write(HidHandle handle, const std::uint8_t* report, std::size_t length) override {
    Note("Write");
    return inner_->Write(handle, report, length);
  }
  int ReadTimeout(HidHandle handle, std::uint8_t* report, std::size_t length, int timeoutMs) override {
    Note("ReadTimeout");
    return inner_->ReadTimeout(handle, report, length, timeoutMs);
  }
  bool Flush(HidHandle handle) override {
    Note("Flush");
    return inner_->Flush(handle);
  }
  bool GetReportLengths(HidHandle handle, HidReportLengths& lengths) override {
    Note("GetReportLengths");
    return inner_->GetReportLengths(handle, lengths);
  }
  void Close(HidHandle handle) override {
    Note("Close");
    inner_->Close(handle);
  }

 private:
  std::shared_ptr<HidApi> inner_;
};
