#pragma once
// How a card under T=0 hands out an answer with data: what does not go out at once waits behind
// 61 xx (xx the bytes left, 00 for 256 or more) and leaves in pieces, one per GET RESPONSE, the
// answer's status word following the last piece. The virtual key and the transport test card both
// answer through it; each reads its own GET RESPONSE commands. Not thread-safe: the card guards it.
#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <vector>

class T0ResponseChain {
 public:
  using Bytes = std::vector<std::uint8_t>;

  // A short Le of 00 (or none) asks for this many bytes, and 61 xx can announce no more.
  static constexpr std::size_t kShortMaximum = 256;
  static constexpr std::size_t kNoPieceLimit = std::numeric_limits<std::size_t>::max();

  // How much of an answer goes out at once: under T=0 only a command that announced an answer
  // length and sent no data gets its data directly (up to that length); any other waits behind 61 xx.
  static std::size_t SentAtOnce(std::optional<std::size_t> expectedLength, bool commandHasData,
                                std::size_t answerLength);

  T0ResponseChain() = default;
  ~T0ResponseChain();
  T0ResponseChain(const T0ResponseChain&) = delete;
  T0ResponseChain& operator=(const T0ResponseChain&) = delete;

  // Answers with `data` and `finalStatus`: the first `atOnce` bytes, then the status word, or
  // 61 xx when data is left, which then waits for GET RESPONSE in pieces of at most `pieceLimit`
  // bytes. An answer still waiting is dropped first.
  Bytes Start(Bytes data, std::uint16_t finalStatus, std::size_t atOnce = 0,
              std::size_t pieceLimit = kNoPieceLimit);
  bool Waiting() const;
  // The next piece for a GET RESPONSE asking for `requested` bytes, followed by 61 xx or, after the
  // last piece, the status word; 69 85 when no answer waits.
  Bytes Next(std::size_t requested);
  // Forgets an answer still waiting; its bytes (a code, a name) are wiped.
  void Drop();

 private:
  // The rest of the answer from the current offset, up to `count` bytes, with its trailer.
  Bytes Hand(std::size_t count);

  Bytes data_;
  std::size_t offset_ = 0;
  std::uint16_t finalStatus_ = 0x9000;
  std::size_t pieceLimit_ = kNoPieceLimit;
  bool waiting_ = false;
};
