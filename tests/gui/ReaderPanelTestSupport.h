#pragma once
// What the reader-panel tests share: the real main window over the virtual key, reached through
// both seams (an in-process smart-card reader and virtual HID interfaces), with refreshes only
// when a test asks for one.
#include <QStringList>
#include <QTemporaryDir>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <optional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "GuiTestSupport.h"
#include "app/MainWnd.h"
#include "device/PcscApi.h"
#include "keysim/VirtualHidApi.h"
#include "keysim/VirtualKey.h"
#include "keysim/VirtualPcscApi.h"
#include "tests/support/ThreadCheckedSeams.h"

class QMessageBox;

namespace readertest {

inline constexpr const char* kKeyReader = "Tokvane Key CCID 00 00";
inline constexpr const char* kKbName = "VORTAN HID DEVICE KB 0";
inline constexpr const char* kU2fName = "VORTAN HID DEVICE U2F 1";
inline constexpr std::uint8_t kAllInterfaces = kVirtualOtpInterface | kVirtualU2fInterface | kVirtualCcidInterface;

// The virtual reader, except that reader changes are never reported: the main window's watcher
// stays quiet, and each test decides when a device change reaches the panel.
class QuietPcscApi final : public PcscApi {
 public:
  explicit QuietPcscApi(std::shared_ptr<PcscApi> inner) : inner_(std::move(inner)) {}
  // The service behind it stops or starts while the window holds on to this seam.
  void SetInner(std::shared_ptr<PcscApi> inner) {
    std::lock_guard lock(innerMutex_);
    inner_ = std::move(inner);
  }
  LONG EstablishContext(SCARDCONTEXT* context) override { return Inner()->EstablishContext(context); }
  LONG ReleaseContext(SCARDCONTEXT context) override { return Inner()->ReleaseContext(context); }
  LONG ListReaders(SCARDCONTEXT context, std::vector<char>& multiString) override {
    return Inner()->ListReaders(context, multiString);
  }
  LONG Connect(SCARDCONTEXT context, const std::string& readerName, DWORD shareMode, DWORD preferred,
               SCARDHANDLE* card, DWORD* active) override {
    return Inner()->Connect(context, readerName, shareMode, preferred, card, active);
  }
  LONG Disconnect(SCARDHANDLE card, DWORD disposition) override { return Inner()->Disconnect(card, disposition); }
  LONG Transmit(SCARDHANDLE card, DWORD protocol, const BYTE* send, DWORD sendLength, BYTE* receive,
                DWORD* receiveLength) override {
    return Inner()->Transmit(card, protocol, send, sendLength, receive, receiveLength);
  }
  LONG GetAttrib(SCARDHANDLE card, DWORD attributeId, std::vector<BYTE>& value) override {
    return Inner()->GetAttrib(card, attributeId, value);
  }
  LONG Status(SCARDHANDLE card, std::vector<BYTE>& atr, DWORD* state, DWORD* protocol) override {
    return Inner()->Status(card, atr, state, protocol);
  }
  // Waits out the time-out, or until cancelled, and reports no change.
  LONG GetStatusChange(SCARDCONTEXT context, DWORD timeoutMs, SCARD_READERSTATE* states, DWORD count) override;
  LONG Cancel(SCARDCONTEXT context) override;
  std::string ErrorText(LONG code) override { return Inner()->ErrorText(code); }

 private:
  std::shared_ptr<PcscApi> Inner() {
    std::lock_guard lock(innerMutex_);
    return inner_;
  }

  std::mutex innerMutex_;
  std::shared_ptr<PcscApi> inner_;
  std::mutex mutex_;
  std::condition_variable cancelled_;
  std::uint64_t cancels_ = 0;
};

// Answers the system's information boxes (QMessageBox) while it lives, recording each one.
class InformationBoxAnswerer {
 public:
  InformationBoxAnswerer();
  ~InformationBoxAnswerer();
  InformationBoxAnswerer(const InformationBoxAnswerer&) = delete;
  InformationBoxAnswerer& operator=(const InformationBoxAnswerer&) = delete;

  struct Seen {
    QString title;
    QString text;
  };
  const std::vector<Seen>& Shown() const { return shown_; }

 private:
  void AnswerOpenBoxes();
  std::vector<Seen> shown_;
  class QTimer* timer_;
};

// The virtual key with some of its answers replaced, and every command it was sent recorded.
class ScriptedAnswers final : public VirtualCard {
 public:
  using Bytes = std::vector<std::uint8_t>;
  // Returns the answer to give instead of the key's, or nothing to let the key answer.
  using Rule = std::function<std::optional<Bytes>(const Bytes& command)>;

  ScriptedAnswers(std::shared_ptr<VirtualKey> key, Rule rule) : key_(std::move(key)), rule_(std::move(rule)) {}
  Bytes Atr() override { return key_->Atr(); }
  void PowerOn() override { key_->PowerOn(); }
  void PowerOff() override { key_->PowerOff(); }
  void Reset() override { key_->Reset(); }
  Bytes ProcessApdu(const Bytes& command) override;
  std::vector<Bytes> Received() const;

 private:
  std::shared_ptr<VirtualKey> key_;
  Rule rule_;
  mutable std::mutex mutex_;
  std::vector<Bytes> received_;
};

// A VID/PID configuration naming the maker's vendor, written into `directory`; its path.
std::string WriteMakerConfig(const QTemporaryDir& directory);

class ReaderPanelWindow : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Plugs the key in with these interfaces (0x10 OTP, 0x20 U2F, 0x40 CCID): its HID interfaces
  // and its smart-card reader appear; no refresh yet.
  void PlugKey(std::uint8_t interfaces);
  void UnplugKey();
  // A reader of its own, without a card.
  void AddEmptyReader(const std::string& name);

  // Creates the main window; its start-up refresh sees what is plugged in now. The log is
  // cleared afterwards unless asked to keep it.
  void Start(bool keepLog = false);
  // One device change, as the window's monitors deliver it.
  void Refresh();
  void Click(const char* name);
  void SelectOption(const char* name);

  InitDemoToCardUI& Panel();
  QStringList Rows();
  std::vector<int> SelectedRows();
  // The names of every selected mode option.
  QStringList SelectedOptions();
  std::vector<guitest::LogEntry> Log();
  QWidget* Control(const char* name);
  template <class T>
  T* ControlAs(const char* name) {
    return qobject_cast<T*>(Control(name));
  }
  bool Enabled(const char* name);
  // A row of the credential list ("listview"), nullptr past its end; the names the rows show.
  QWidget* CredentialRow(int index);
  QStringList RowNames();
  std::string DeviceName();

  QTemporaryDir configDir;
  std::shared_ptr<VirtualKey> key;
  // What the key's interfaces reach; the key itself unless a test puts something in front of it.
  std::shared_ptr<VirtualCard> card;
  std::shared_ptr<VirtualPcscApi> pcsc;
  std::shared_ptr<VirtualHidApi> hid;
  // The window's backends: the virtual reader behind a quiet service seam, and the HID interfaces.
  std::shared_ptr<QuietPcscApi> service;
  // The seams the window gets: they note any call made on the GUI thread.
  std::shared_ptr<ThreadCheckedPcscApi> checkedPcsc;
  std::shared_ptr<ThreadCheckedHidApi> checkedHid;
  DeviceBackends backends;
  VirtualHidApi::KeyId hidKey = 0;
  std::unique_ptr<CMainWnd> window;
};

}  // namespace readertest
