#pragma once
// The USB vendor and product IDs that mark a HID interface as one of our keys, read from
// "Pid_Vid_Config.xml" beside the executable. The list in use belongs to KeyModels.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// One configured ID pair in one 32-bit value: the low 16 bits are the VID, the high 16 bits the
// PID (0 = any product of that vendor).
struct VidPidEntry {
  std::uint32_t Value = 0;

  static constexpr VidPidEntry Make(std::uint16_t vid, std::uint16_t pid) {
    return VidPidEntry{static_cast<std::uint32_t>(vid) | (static_cast<std::uint32_t>(pid) << 16)};
  }
  constexpr std::uint16_t Vid() const { return static_cast<std::uint16_t>(Value & 0xFFFF); }
  constexpr std::uint16_t Pid() const { return static_cast<std::uint16_t>(Value >> 16); }
  friend constexpr bool operator==(VidPidEntry, VidPidEntry) = default;
};

inline constexpr const char* kVidPidConfigFileName = "Pid_Vid_Config.xml";
// Larger files are not configuration files; they fall back to the default entry.
inline constexpr std::size_t kMaxVidPidConfigBytes = 1024 * 1024;

// The maker's vendor ID, any product: what the list holds when nothing usable was configured.
VidPidEntry DefaultVidPidEntry();

// The configuration file beside the running executable; empty when the executable's place is
// unknown (never a file of the current directory).
std::string VidPidConfigPath();
// The configuration file beside `executable`, an absolute path; empty for anything else.
std::string VidPidConfigPathBeside(const std::string& executable);

// Appends to `entries` one entry per child element of the root that has a non-empty "VID"
// attribute, in document order. True when the file was loaded and parsed as XML. A "PID" that is
// not hex from 0001 to FFFF fails the whole file (nothing appended), with `error` naming the file
// and the line. Afterwards the list is never empty: without a usable entry it holds the default one.
bool LoadVidPidConfig(std::vector<VidPidEntry>& entries);
bool LoadVidPidConfig(const std::string& path, std::vector<VidPidEntry>& entries, std::string* error = nullptr);
// The same, from text already in memory; `fileName` names it in `error`.
bool ParseVidPidConfig(const char* text, std::size_t length, std::vector<VidPidEntry>& entries,
                       std::string* error = nullptr, std::string_view fileName = kVidPidConfigFileName);
