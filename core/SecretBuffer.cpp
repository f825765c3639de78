#include "core/SecretBuffer.h"

#include <openssl/crypto.h>

#include <algorithm>
#include <utility>

namespace {
constexpr std::size_t kFirstCapacity = 64;
}

SecretBuffer::~SecretBuffer() { Release(); }

SecretBuffer::SecretBuffer(SecretBuffer&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)),
      size_(std::exchange(other.size_, 0)),
      capacity_(std::exchange(other.capacity_, 0)) {}

SecretBuffer& SecretBuffer::operator=(SecretBuffer&& other) noexcept {
  if (this != &other) {
    Release();
    data_ = std::exchange(other.data_, nullptr);
    size_ = std::exchange(other.size_, 0);
    capacity_ = std::exchange(other.capacity_, 0);
  }
  return *this;
}

void SecretBuffer::Append(std::uint8_t byte) {
  Grow(size_ + 1);
  data_[size_++] = byte;
}

void SecretBuffer::Append(std::span<const std::uint8_t> bytes) {
  if (bytes.empty()) return;
  Grow(size_ + bytes.size());
  std::copy(bytes.begin(), bytes.end(), data_ + size_);
  size_ += bytes.size();
}

void SecretBuffer::Clear() {
  if (data_ != nullptr) OPENSSL_cleanse(data_, capacity_);
  size_ = 0;
}

void SecretBuffer::Grow(std::size_t needed) {
  if (needed <= capacity_) return;
  std::size_t capacity = std::max(capacity_ * 2, kFirstCapacity);
  while (capacity < needed) capacity *= 2;
  auto* grown = new std::uint8_t[capacity]();
  if (size_ > 0) std::copy(data_, data_ + size_, grown);
  Release();  // wipes the old block before it goes back to the allocator
  data_ = grown;
  capacity_ = capacity;
}

// Frees the block, wiped; the size is the caller's to keep or reset.
void SecretBuffer::Release() {
  if (data_ != nullptr) {
    OPENSSL_cleanse(data_, capacity_);
    delete[] data_;
  }
  data_ = nullptr;
  capacity_ = 0;
}
