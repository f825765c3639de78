#pragma once
// Reading what the virtual key receives: a command APDU through device/ApduCommand's parser (short
// or extended, ISO 7816-4) with the answer length its Le asks for, whether bytes collected from
// ENVELOPE pieces already make one whole command, and the tag-length-values inside a command's data.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "device/ApduCommand.h"

class ReceivedCommand {
 public:
  using Bytes = std::vector<std::uint8_t>;

  // Nothing for fewer than four bytes or a body whose lengths do not add up.
  static std::optional<ReceivedCommand> From(const Bytes& bytes);

  ReceivedCommand(ReceivedCommand&& other) noexcept = default;
  ReceivedCommand& operator=(ReceivedCommand&&) = delete;
  ReceivedCommand(const ReceivedCommand&) = delete;
  ReceivedCommand& operator=(const ReceivedCommand&) = delete;
  ~ReceivedCommand();  // wipes the data: a put carries a secret

  const CApduCommand& Apdu() const { return apdu_; }
  // The answer length the Le asks for, 256 or 65536 for an Le of zero; nothing without an Le.
  std::optional<std::size_t> ExpectedLength() const;

 private:
  ReceivedCommand() = default;

  CApduCommand apdu_;
};

enum class CommandCompleteness { Complete, Incomplete, Invalid };

// Whether these bytes (reassembled from ENVELOPE pieces) already form one whole command APDU,
// could still become one, or have run past the command their length fields announce.
CommandCompleteness CompletenessOf(const std::vector<std::uint8_t>& bytes);

// Reads one tag-length-value with a one-byte length at `offset` and moves past it; nothing when the
// tag differs or the value does not lie inside `data`.
std::optional<std::vector<std::uint8_t>> ReadTlv(const std::vector<std::uint8_t>& data, std::size_t& offset,
                                                 std::uint8_t tag);
