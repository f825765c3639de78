#pragma once
// What marks a HID interface as one of our keys, and what the last enumeration found: the
// configured VID/PID entries, the model the enumeration locked on to, and the interfaces of a
// configured key that the user may not open. One instance belongs to one set of device backends;
// a worker thread may read it while the GUI thread reloads the configuration, so every member is
// guarded.
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "device/VidPidConfig.h"

class KeyModels {
 public:
  // The default entry, and the maker's vendor ID with PID 0 as the current model.
  KeyModels();
  explicit KeyModels(std::vector<VidPidEntry> entries);

  std::vector<VidPidEntry> Entries() const;
  void SetEntries(std::vector<VidPidEntry> entries);

  // The model the last enumeration locked on to, both IDs read together; a PID of 0 here is the
  // product 0, not "any".
  VidPidEntry CurrentModel() const;
  void LockOn(std::uint16_t vid, std::uint16_t pid);

  // Paths of interfaces of a configured product that the last enumeration could not open for
  // lack of permission (the udev rules are not installed); empty when every one could be opened.
  std::vector<std::string> PermissionDeniedPaths() const;
  bool PermissionDenied() const;
  void SetPermissionDeniedPaths(std::vector<std::string> paths);

 private:
  mutable std::mutex mutex_;
  std::vector<VidPidEntry> entries_;
  VidPidEntry current_;
  std::vector<std::string> deniedPaths_;
};

// The VID/PID configuration files in the order both programs try them: beside the running
// executable, then in the installed data directory `dataDirectory`.
std::vector<std::string> VidPidConfigSearchPath(const std::string& dataDirectory);
// Puts the entries of the first of `paths` that loads into `models`; when none loads, the default
// entry is in force. True when a file was loaded (the window warns otherwise). `error`: why the
// first file that was there but not used was passed over (LoadVidPidConfig), or empty.
bool LoadKeyModels(const std::vector<std::string>& paths, KeyModels& models, std::string* error = nullptr);
