#pragma once
// A card the virtual readers can hold: an ATR, power control and one APDU at a time.
// Implementations are called from a reader's thread while tests inspect them from another,
// so each guards its own state.
#include <cstdint>
#include <vector>

class VirtualCard {
 public:
  virtual ~VirtualCard() = default;
  virtual std::vector<std::uint8_t> Atr() = 0;
  virtual void PowerOn() = 0;
  virtual void PowerOff() = 0;
  virtual void Reset() = 0;
  // One command APDU in, one response APDU (data and status word) out.
  virtual std::vector<std::uint8_t> ProcessApdu(const std::vector<std::uint8_t>& command) = 0;
};
