#pragma once
// Serves a VirtualCard to pcscd's vpcd reader driver over TCP. vpcd listens; this client connects,
// and while the connection lasts pcscd sees a card in the reader. Every message, both ways, is a
// two-byte big-endian length and a payload: a one-byte payload from vpcd is a control code
// (power off, power on, reset, get ATR), a longer one a command APDU answered by the response APDU.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "keysim/VirtualCard.h"

class VpcdClient {
 public:
  explicit VpcdClient(std::shared_ptr<VirtualCard> card, std::string host = "127.0.0.1",
                      std::uint16_t port = 35963);
  ~VpcdClient();  // Stop()
  VpcdClient(const VpcdClient&) = delete;
  VpcdClient& operator=(const VpcdClient&) = delete;

  // Connects to vpcd and serves the card on a background thread; false when vpcd cannot be
  // reached within connectTimeout (retrying meanwhile).
  bool Start(std::chrono::milliseconds connectTimeout = std::chrono::seconds(5));
  void Stop();  // closes the connection: to pcscd the card is removed
  bool IsRunning() const;

 private:
  // A pipe whose read end becomes readable when Stop is called; every wait also watches it.
  class StopSignal;

  int ConnectWithin(std::chrono::steady_clock::time_point deadline);
  void Serve(int socket);

  std::shared_ptr<VirtualCard> card_;
  std::string host_;
  std::uint16_t port_;

  std::mutex lifecycleMutex_;  // serialises Start and Stop
  std::unique_ptr<StopSignal> stop_;
  std::thread worker_;
  std::atomic<bool> serving_{false};
};
