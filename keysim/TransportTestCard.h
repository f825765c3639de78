#pragma once
// A card for transport tests: it answers from a script and remembers every command it was given,
// so a test can see the exact bytes a reader delivered. It speaks T=0 or T=1 (chosen by its ATR),
// can hand out a long answer in 61 xx / GET RESPONSE pieces, and reassembles a command that
// arrives in ENVELOPE pieces.
#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <vector>

#include "keysim/EnvelopeAssembly.h"
#include "keysim/T0ResponseChain.h"
#include "keysim/VirtualCard.h"

class TransportTestCard : public VirtualCard {
 public:
  using Bytes = std::vector<std::uint8_t>;

  enum class Protocol { T0, T1 };

  // No TD1: a reader connects it as T=0.
  static const Bytes kT0Atr;
  // TD1 names T=1 as the only protocol, with its check byte.
  static const Bytes kT1Atr;

  explicit TransportTestCard(Protocol protocol = Protocol::T1);

  Bytes Atr() override;
  void PowerOn() override;
  void PowerOff() override;
  void Reset() override;
  Bytes ProcessApdu(const Bytes& command) override;

  void SetAtr(Bytes atr);

  // The answer (data and status word) to exactly these command bytes.
  void SetAnswer(const Bytes& command, Bytes answer);
  // The answer to a command without a scripted answer; 6D 00 at first.
  void SetDefaultAnswer(Bytes answer);
  // Answers `command` with 61 xx and serves `data` to GET RESPONSE (INS C0) commands, at most
  // `pieceLimit` bytes per piece (1 to 256), ending with the status word `finalStatus`.
  void SetChainedAnswer(const Bytes& command, Bytes data, std::uint16_t finalStatus = 0x9000,
                        std::size_t pieceLimit = 256);

  // Every command APDU received, in order, ENVELOPE and GET RESPONSE commands included.
  std::vector<Bytes> Received() const;
  // The commands reassembled from ENVELOPE pieces, in order.
  std::vector<Bytes> EnvelopedCommands() const;
  // Power-on and reset events seen, so a test can tell that a reader reset the card.
  int ResetCount() const;
  void ClearRecord();

 private:
  struct Chain {
    Bytes data;
    std::uint16_t finalStatus = 0x9000;
    std::size_t pieceLimit = 256;
  };
  struct ScriptedAnswer {
    Bytes answer;
    std::optional<Chain> chain;
  };

  // The following run with mutex_ held.
  Bytes Answer(const Bytes& command);
  Bytes ServeEnvelope(const Bytes& command);
  Bytes ServeGetResponse(const Bytes& command);
  Bytes StartAnswer(const ScriptedAnswer& scripted);

  mutable std::mutex mutex_;
  Bytes atr_;
  // Commands are only looked up, so any strict order will do; this one keeps GCC 12 from a false
  // -Wstringop-overread on the memcmp of std::vector's own ordering in optimised builds.
  struct ShorterFirst {
    bool operator()(const Bytes& a, const Bytes& b) const {
      if (a.size() != b.size()) return a.size() < b.size();
      for (std::size_t i = 0; i < a.size(); ++i) {
        if (a[i] != b[i]) return a[i] < b[i];
      }
      return false;
    }
  };
  std::map<Bytes, ScriptedAnswer, ShorterFirst> script_;
  Bytes defaultAnswer_{0x6D, 0x00};
  T0ResponseChain chain_;
  EnvelopeAssembly envelope_;
  std::vector<Bytes> received_;
  std::vector<Bytes> enveloped_;
  int resetCount_ = 0;
};
