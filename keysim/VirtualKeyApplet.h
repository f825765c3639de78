#pragma once
// The virtual key's card OS and OATH applet: one command in, one answer (data and status word) out.
// It keeps the applet selection and works over the key's credential store; the key around it
// supplies the COS version, the touch and the store, and chooses how the answer travels (T=0 or T=1).
//
// The key hands it one command at a time; IsOathSelected may be read from any thread.
#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "device/ApduCommand.h"
#include "keysim/VirtualKeyStore.h"

class VirtualKeyApplet {
 public:
  using Bytes = std::vector<std::uint8_t>;

  struct Response {
    Bytes data;
    std::uint16_t sw = 0x9000;
  };

  // Tags of the answers (their values are the key's own choice).
  static constexpr std::uint8_t kListEntryTag = 0x61;
  static constexpr std::uint8_t kCalculateAnswerTag = 0x62;

  // What the applet needs from the key around it, asked on the thread that runs the command.
  class Host {
   public:
    virtual std::array<std::uint8_t, 3> CosVersion() const = 0;
    // True when the key needs no touch or a touch came in time; false after the touch window.
    virtual bool AwaitTouch() = 0;
    virtual VirtualKeyStore SnapshotStore() const = 0;
    // Makes `updated` the store; false (store unchanged) when it cannot be kept.
    virtual bool Commit(VirtualKeyStore updated) = 0;
    // A new interface mode has been stored; the answer has not gone back yet.
    virtual void InterfaceModeStored(std::uint8_t mode) = 0;

   protected:
    ~Host() = default;
  };

  // `capacity`: how many credentials the applet can hold.
  VirtualKeyApplet(Host& host, std::array<std::uint8_t, 2> appletVersion, std::size_t capacity);
  VirtualKeyApplet(const VirtualKeyApplet&) = delete;
  VirtualKeyApplet& operator=(const VirtualKeyApplet&) = delete;

  Response Process(const CApduCommand& command);
  bool IsOathSelected() const;
  // As after power-on: no applet selected.
  void Deselect();

 private:
  Response Select(const CApduCommand& command);
  Response CosCommand(const CApduCommand& command);
  Response SetInterfaceMode(const CApduCommand& command);
  Response AppletVersion(const CApduCommand& command);
  Response Put(const CApduCommand& command);
  Response List(const CApduCommand& command);
  Response Calculate(const CApduCommand& command);
  Response Delete(const CApduCommand& command);
  Response SetDefault(const CApduCommand& command);
  // Delete and set-default alike: check the command and the name, wait for a touch, apply
  // `change` to a copy of the store and commit it.
  Response ChangeNamedCredential(const CApduCommand& command,
                                 const std::function<void(VirtualKeyStore&, const Bytes&)>& change);
  Response GetDefault(const CApduCommand& command);
  Response ResetApplet(const CApduCommand& command);

  Host& host_;
  const std::array<std::uint8_t, 2> appletVersion_;
  const std::size_t capacity_;
  std::atomic<bool> oathSelected_{false};
};
