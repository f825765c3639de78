#pragma once
// A card in front of another card that passes everything through until a chosen command arrives,
// and then lets the test act at that very moment: pull the card out, stop the service. The
// command can reach the inner card first (the key did the work, its answer is lost) or not at all.
// The power events passed on to the inner card are recorded in order.
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "keysim/VirtualCard.h"

class FaultInjectingCard : public VirtualCard {
 public:
  using Bytes = std::vector<std::uint8_t>;
  using Trigger = std::function<bool(const Bytes& command)>;
  using Action = std::function<void()>;

  // Thrown by ThrowPulledOut: a vpcd session whose card throws ends as if the card was pulled out.
  struct PulledOut {};

  explicit FaultInjectingCard(std::shared_ptr<VirtualCard> inner) : inner_(std::move(inner)) {}

  // The next command `when` accepts runs `what` (once); with `keyFirst` the inner card processes
  // the command before. Whatever `what` does, the answer is empty unless it throws.
  void Arm(Trigger when, Action what, bool keyFirst) {
    std::lock_guard lock(mutex_);
    trigger_ = std::move(when);
    action_ = std::move(what);
    keyFirst_ = keyFirst;
    fired_ = false;
  }
  bool Fired() const {
    std::lock_guard lock(mutex_);
    return fired_;
  }

  static Trigger OnInstruction(std::uint8_t ins) {
    return [ins](const Bytes& command) { return command.size() >= 2 && command[1] == ins; };
  }
  static void ThrowPulledOut() { throw PulledOut{}; }

  Bytes Atr() override { return inner_->Atr(); }
  void PowerOn() override {
    Note("on");
    inner_->PowerOn();
  }
  void PowerOff() override {
    Note("off");
    inner_->PowerOff();
  }
  void Reset() override {
    Note("reset");
    inner_->Reset();
  }
  std::vector<std::string> PowerEvents() const {
    std::lock_guard lock(mutex_);
    return powerEvents_;
  }

  Bytes ProcessApdu(const Bytes& command) override {
    Action action;
    bool keyFirst = false;
    {
      std::lock_guard lock(mutex_);
      if (trigger_ && trigger_(command)) {
        action = std::move(action_);
        keyFirst = keyFirst_;
        trigger_ = nullptr;
        fired_ = true;
      }
    }
    if (!action) return inner_->ProcessApdu(command);
    if (keyFirst) inner_->ProcessApdu(command);
    action();
    return {};
  }

 private:
  void Note(const char* event) {
    std::lock_guard lock(mutex_);
    powerEvents_.emplace_back(event);
  }

  std::shared_ptr<VirtualCard> inner_;
  mutable std::mutex mutex_;
  Trigger trigger_;
  Action action_;
  bool keyFirst_ = false;
  bool fired_ = false;
  std::vector<std::string> powerEvents_;
};
