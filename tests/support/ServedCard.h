#pragma once
// A virtual card put into the vpcd reader through a real pcscd: Insert starts a VpcdClient and
// waits until pcscd shows the card present, Remove stops it and waits until the reader is empty.
// Both waits are bounded. The destructor removes a card still inserted.
#include <chrono>
#include <memory>
#include <string>

#include "keysim/VirtualCard.h"
#include "keysim/VpcdClient.h"

namespace tokvane::integration {

// Waits until pcscd shows `reader` holding a responsive card (present true) or empty (present
// false), watching with SCardGetStatusChange; false when that does not happen within `limit`.
bool WaitForCardState(const std::string& reader, bool present, std::chrono::milliseconds limit);

class ServedCard {
 public:
  static constexpr std::chrono::milliseconds kDefaultLimit{10000};

  explicit ServedCard(std::shared_ptr<VirtualCard> card);
  ~ServedCard();
  ServedCard(const ServedCard&) = delete;
  ServedCard& operator=(const ServedCard&) = delete;

  bool Insert(std::chrono::milliseconds limit = kDefaultLimit);
  bool Remove(std::chrono::milliseconds limit = kDefaultLimit);
  bool Inserted() const { return client_.IsRunning(); }

 private:
  VpcdClient client_;
};

}  // namespace tokvane::integration
