#pragma once
// A software security key that keeps the whole key-side contract: the card OS (version bytes, the
// 80 E3 01 00 command, the interface-mode command), the OATH applet (put, list, calculate with each
// credential's own counter, delete, set and get the default, reset, applet version), the FIDO
// applet selection and the touch requirement of keys whose COS version asks for one.
//
// Readers call it from their own threads while tests inspect it: every public member is
// thread-safe. Commands are processed one at a time; a guarded command waiting for a touch does
// not block the inspecting members.
//
// It composes the parts that each have their own reason to change: ReceivedCommand reads the
// command bytes, VirtualKeyApplet answers them over the store, T0ResponseChain and EnvelopeAssembly
// carry long answers and commands under T=0; the key itself adds power and ATR, the touch, the
// store with its state file, the record of commands and the locking.
#include <array>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "keysim/EnvelopeAssembly.h"
#include "keysim/T0ResponseChain.h"
#include "keysim/VirtualCard.h"
#include "keysim/VirtualKeyApplet.h"
#include "keysim/VirtualKeyStore.h"

class ReceivedCommand;

enum class TouchMode {
  Always,    // every guarded command is touched at once
  Never,     // no touch comes: a guarded command waits its window and answers 69 84
  Callback,  // touchCallback is polled until it answers true or the window ends
};

struct VirtualKeyConfig {
  // Needs no touch by default (see CosVersionNeedsTouch); 43 01 xx would need one.
  std::array<std::uint8_t, 3> cosVersion{0x43, 0x00, 0x01};
  // Bytes 8 and 9 of the applet-version answer.
  std::array<std::uint8_t, 2> appletVersion{0x01, 0x05};
  // T=0 (ATR without TD1; answers with data come as 61 xx and GET RESPONSE) or T=1.
  bool useT0 = false;
  TouchMode touch = TouchMode::Always;
  // Called on the reader's thread; true means the key has been touched.
  std::function<bool()> touchCallback;
  std::chrono::milliseconds touchWindow{3000};
  // Empty: nothing persists beyond the object. Otherwise the state is loaded from this file when
  // it exists and rewritten (atomically) after every change.
  std::string stateFile;
  // Interfaces presented at the first plug-in: 0x10 OTP, 0x20 U2F, 0x40 CCID. A state file's
  // stored mode takes precedence.
  std::uint8_t interfaceMode = 0x70;
  std::size_t capacity = 32;          // credentials the applet can hold
  std::size_t receivedLogLimit = 10000;  // APDUs remembered by ReceivedApdus, the oldest dropped
};

struct VirtualCredentialState {
  std::vector<std::uint8_t> name;
  std::uint64_t counter = 0;  // the moving factor the next calculation uses
  std::uint8_t digits = 6;
  bool isDefault = false;
};

class VirtualKey : public VirtualCard, private VirtualKeyApplet::Host {
 public:
  using Bytes = std::vector<std::uint8_t>;

  // Historical bytes "TKVKEY"; the T=1 ATR names T=1 in TD1 and ends with its check byte.
  static const Bytes kT0Atr;
  static const Bytes kT1Atr;
  // Tags of the answers (their values are the key's own choice).
  static constexpr std::uint8_t kListEntryTag = VirtualKeyApplet::kListEntryTag;
  static constexpr std::uint8_t kCalculateAnswerTag = VirtualKeyApplet::kCalculateAnswerTag;

  explicit VirtualKey(VirtualKeyConfig config = {});
  ~VirtualKey() override;
  VirtualKey(const VirtualKey&) = delete;
  VirtualKey& operator=(const VirtualKey&) = delete;

  Bytes Atr() override;
  void PowerOn() override;
  void PowerOff() override;
  void Reset() override;
  Bytes ProcessApdu(const Bytes& command) override;

  // Interfaces in force since the last plug-in (0x10 OTP, 0x20 U2F, 0x40 CCID).
  std::uint8_t PresentInterfaces() const;
  // What the next plug-in will present.
  std::uint8_t StoredInterfaceMode() const;
  // As when the key is unplugged and plugged in again: powered off, applets deselected, and the
  // stored interface mode in force.
  void PlugIn();

  std::vector<VirtualCredentialState> Credentials() const;
  // Every APDU received, in order (GET RESPONSE and ENVELOPE pieces included).
  std::vector<Bytes> ReceivedApdus() const;
  void ClearReceivedApdus();
  bool IsOathSelected() const;
  // How many guarded commands asked for a touch.
  int TouchRequests() const;

  void SetCosVersion(const std::array<std::uint8_t, 3>& version);
  void SetTouchSource(TouchMode mode, std::function<bool()> callback = {});
  void SetTouchWindow(std::chrono::milliseconds window);
  // Called after a successful interface-mode command, with the stored mode, on the reader's thread
  // and before the answer goes back: a handler that unplugs the key should do so later.
  void SetModeChangedHook(std::function<void(std::uint8_t)> hook);

  // Why the state file could not be loaded or written; empty while all is well. After a failed
  // load the key starts empty and never writes the file, so a damaged file is not overwritten.
  std::string StateFileError() const;

  using Response = VirtualKeyApplet::Response;

 private:
  // These run with processMutex_ held, and take stateMutex_ for short stretches only.
  Bytes Answer(const ReceivedCommand& command);
  Bytes ServeGetResponse(const ReceivedCommand& command);
  Bytes ServeEnvelope(const ReceivedCommand& command);
  void Deselect();
  void Record(const Bytes& command);

  // VirtualKeyApplet::Host. Each takes stateMutex_ for short stretches only.
  std::array<std::uint8_t, 3> CosVersion() const override;
  bool AwaitTouch() override;
  VirtualKeyStore SnapshotStore() const override;
  // Makes `updated` the store, writing the state file first when there is one; false (store
  // unchanged) when it cannot be written.
  bool Commit(VirtualKeyStore updated) override;
  void InterfaceModeStored(std::uint8_t mode) override;

  std::mutex processMutex_;  // one command or power event at a time

  mutable std::mutex stateMutex_;
  VirtualKeyConfig config_;
  VirtualKeyStore store_;
  std::uint8_t presentInterfaces_ = 0x70;
  bool persist_ = false;
  std::string stateFileError_;
  std::atomic<int> touchRequests_{0};
  std::deque<Bytes> received_;
  std::function<void(std::uint8_t)> modeChangedHook_;

  // Guarded by processMutex_ (the applet's selection may also be read without it).
  VirtualKeyApplet applet_;
  T0ResponseChain chain_;    // a T=0 answer waiting for GET RESPONSE
  EnvelopeAssembly envelope_;  // a command arriving in ENVELOPE pieces
};
