#pragma once
// Wiping, and holders for secrets (credential keys, the hex text they were typed or generated as, commands
// that carry them): every buffer they ever owned is wiped with OPENSSL_cleanse before it is
// released, whether by destruction, assignment or truncation.
#include <openssl/crypto.h>

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <utility>
#include <vector>

// Wipes the bytes in place (the size stays). Nothing to do for no bytes.
inline void WipeBytes(std::span<std::uint8_t> bytes) {
  if (!bytes.empty()) OPENSSL_cleanse(bytes.data(), bytes.size());
}

// Wipes a work buffer (a fixed array or a vector of its current size) when it goes out of scope,
// on every path: command bytes and key material do not stay behind in it.
template <typename Buffer>
class ScopedWipe {
 public:
  explicit ScopedWipe(Buffer& buffer) : buffer_(buffer) {}
  ScopedWipe(const ScopedWipe&) = delete;
  ScopedWipe& operator=(const ScopedWipe&) = delete;
  ~ScopedWipe() { OPENSSL_cleanse(buffer_.data(), buffer_.size() * sizeof(buffer_[0])); }

 private:
  Buffer& buffer_;
};

// Wipes the whole allocation of a string or byte buffer (not only its current size) and empties
// it. Growing to the capacity never reallocates, so no unwiped copy is left behind.
template <class Buffer>
void WipeBuffer(Buffer& buffer) {
  buffer.resize(buffer.capacity());
  if (!buffer.empty()) OPENSSL_cleanse(buffer.data(), buffer.size() * sizeof(buffer[0]));
  buffer.clear();
}

// Secret bytes of a fixed size chosen at construction (truncation only).
class SecureBytes {
 public:
  SecureBytes() = default;
  explicit SecureBytes(std::size_t size) : bytes_(size) {}
  SecureBytes(const std::uint8_t* data, std::size_t size) : bytes_(data, data + size) {}
  explicit SecureBytes(std::span<const std::uint8_t> bytes) : bytes_(bytes.begin(), bytes.end()) {}
  SecureBytes(const SecureBytes& other) : bytes_(other.bytes_) {}
  SecureBytes(SecureBytes&& other) noexcept : bytes_(std::move(other.bytes_)) { other.bytes_.clear(); }
  SecureBytes& operator=(const SecureBytes& other) {
    if (this != &other) {
      WipeBuffer(bytes_);
      bytes_.shrink_to_fit();
      bytes_ = other.bytes_;
    }
    return *this;
  }
  SecureBytes& operator=(SecureBytes&& other) noexcept {
    if (this != &other) {
      WipeBuffer(bytes_);
      bytes_ = std::move(other.bytes_);
      other.bytes_.clear();
    }
    return *this;
  }
  ~SecureBytes() { WipeBuffer(bytes_); }

  std::uint8_t* data() { return bytes_.data(); }
  const std::uint8_t* data() const { return bytes_.data(); }
  std::size_t size() const { return bytes_.size(); }
  bool empty() const { return bytes_.empty(); }
  std::span<const std::uint8_t> view() const { return bytes_; }
  // Keeps the first `size` bytes; the dropped tail is wiped at once.
  void Truncate(std::size_t size) {
    if (size >= bytes_.size()) return;
    OPENSSL_cleanse(bytes_.data() + size, bytes_.size() - size);
    bytes_.resize(size);
  }

 private:
  std::vector<std::uint8_t> bytes_;
};

// Secret narrow text (a key typed as hex). Moving copies and wipes the source, since a short
// string's characters would otherwise stay behind in the moved-from object.
class SecureString {
 public:
  SecureString() = default;
  // Takes the text and wipes the caller's temporary, whose short-string buffer would otherwise
  // keep the characters.
  explicit SecureString(std::string&& text) : text_(text) { WipeBuffer(text); }
  explicit SecureString(const std::string& text) : text_(text) {}
  SecureString(const SecureString& other) : text_(other.text_) {}
  SecureString(SecureString&& other) noexcept : text_(other.text_) { WipeBuffer(other.text_); }
  SecureString& operator=(const SecureString& other) {
    if (this != &other) Assign(other.text_);
    return *this;
  }
  SecureString& operator=(SecureString&& other) noexcept {
    if (this != &other) {
      Assign(other.text_);
      WipeBuffer(other.text_);
    }
    return *this;
  }
  ~SecureString() { WipeBuffer(text_); }

  const std::string& str() const { return text_; }
  std::string& str() { return text_; }
  bool empty() const { return text_.empty(); }
  std::size_t size() const { return text_.size(); }

 private:
  void Assign(const std::string& text) {
    WipeBuffer(text_);
    text_.shrink_to_fit();
    text_ = text;
  }
  std::string text_;
};
