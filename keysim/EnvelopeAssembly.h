#pragma once
// A command arriving in ENVELOPE pieces, as a T=0 reader sends one too long for a short command:
// the pieces are put back together, never past the longest command APDU, and every buffer that held
// them is wiped (a put carries a secret). When the command is whole is the card's own rule. Not
// thread-safe: the card guards it.
#include <cstddef>
#include <cstdint>
#include <vector>

class EnvelopeAssembly {
 public:
  using Bytes = std::vector<std::uint8_t>;

  // An extended case-7 command with 65,535 data bytes.
  static constexpr std::size_t kLongestCommand = 65544;

  EnvelopeAssembly() = default;
  ~EnvelopeAssembly();
  EnvelopeAssembly(const EnvelopeAssembly&) = delete;
  EnvelopeAssembly& operator=(const EnvelopeAssembly&) = delete;

  // Appends the data of one ENVELOPE command. False, with everything collected dropped, when the
  // command would grow past kLongestCommand.
  bool Add(const Bytes& piece);
  // The bytes collected since the last Drop.
  const Bytes& Collected() const;
  // Forgets (and wipes) the bytes collected.
  void Drop();

 private:
  Bytes collected_;
};
