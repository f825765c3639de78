#pragma once
// Bytes of a secret, or of text that carries one (hex, base32, an otpauth URI). The buffer is never
// copied, and every block it has used is wiped with OPENSSL_cleanse before it is released, growth
// included, so no stray copy of the secret stays behind in freed memory.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

class SecretBuffer {
 public:
  SecretBuffer() = default;
  ~SecretBuffer();
  SecretBuffer(SecretBuffer&& other) noexcept;
  SecretBuffer& operator=(SecretBuffer&& other) noexcept;
  SecretBuffer(const SecretBuffer&) = delete;
  SecretBuffer& operator=(const SecretBuffer&) = delete;

  void Append(std::uint8_t byte);
  void Append(std::span<const std::uint8_t> bytes);
  // Wipes the content and empties the buffer (the storage is kept for reuse).
  void Clear();

  std::size_t Size() const { return size_; }
  bool Empty() const { return size_ == 0; }
  const std::uint8_t* Data() const { return data_; }
  std::span<const std::uint8_t> Bytes() const { return {data_, size_}; }
  std::string_view Text() const { return {reinterpret_cast<const char*>(data_), size_}; }

 private:
  void Grow(std::size_t needed);
  void Release();

  std::uint8_t* data_ = nullptr;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
};
