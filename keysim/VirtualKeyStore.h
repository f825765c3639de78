#pragma once
// What the virtual key keeps across power cycles and, with a state file, across restarts: its
// credentials with their secrets and counters, the default credential and the stored interface mode.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct VirtualKeyCredential {
  std::vector<std::uint8_t> name;
  std::vector<std::uint8_t> secret;
  std::uint8_t digits = 6;
  std::uint64_t counter = 0;  // the 8-byte moving factor, big-endian

  VirtualKeyCredential() = default;
  VirtualKeyCredential(const VirtualKeyCredential&) = default;
  VirtualKeyCredential(VirtualKeyCredential&&) noexcept = default;
  VirtualKeyCredential& operator=(const VirtualKeyCredential& other);
  VirtualKeyCredential& operator=(VirtualKeyCredential&& other) noexcept;
  ~VirtualKeyCredential();  // wipes the secret
};

struct VirtualKeyStore {
  std::vector<VirtualKeyCredential> credentials;  // in the order they were first written
  std::optional<std::vector<std::uint8_t>> defaultName;
  std::uint8_t interfaceMode = 0x70;

  VirtualKeyCredential* Find(const std::vector<std::uint8_t>& name);
  const VirtualKeyCredential* Find(const std::vector<std::uint8_t>& name) const;
  bool Remove(const std::vector<std::uint8_t>& name);
};

// The store as text, one item per line, names and secrets in hex. The text holds the secrets:
// callers wipe it (OPENSSL_cleanse) when done.
std::string SerializeVirtualKeyStore(const VirtualKeyStore& store);
// Nothing for text that is not a store written by SerializeVirtualKeyStore.
std::optional<VirtualKeyStore> ParseVirtualKeyStore(std::string_view text);

// Far above a full key's state (32 credentials of a few hundred bytes each).
inline constexpr std::size_t kMaxStateFileSize = 64 * 1024;

enum class StateFileRead { Loaded, Missing, Failed };
// Reads `path` into `content`; Missing when nothing has that name, Failed with `error` otherwise.
// Only a regular file of the user's own, named directly (not through a symbolic link) and of at most
// kMaxStateFileSize bytes is read; a FIFO or device is refused at once rather than waited on.
// `content` holds the secrets: the caller wipes it (OPENSSL_cleanse) when done.
StateFileRead ReadStateFile(const std::string& path, std::string& content, std::string& error);
// Writes `content` to a temporary file beside `path` (mode 0600: it holds secrets), flushes it
// and renames it over `path`, so a crash leaves either the old or the new state, never a mix.
bool WriteStateFileAtomically(const std::string& path, std::string_view content, std::string& error);
