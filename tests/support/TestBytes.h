#pragma once
// Byte strings the transport and card tests build their answers from.
#include <cstddef>
#include <cstdint>
#include <vector>

namespace test_bytes {

using Bytes = std::vector<std::uint8_t>;

// `count` bytes counting up from `first` (wrapping at 256), so every piece of a long answer is
// told apart by its content.
inline Bytes Sequence(std::size_t count, std::uint8_t first = 0) {
  Bytes bytes(count);
  for (std::size_t i = 0; i < count; ++i) bytes[i] = static_cast<std::uint8_t>(first + i);
  return bytes;
}

inline Bytes Concat(Bytes left, const Bytes& right) {
  left.insert(left.end(), right.begin(), right.end());
  return left;
}

}  // namespace test_bytes
