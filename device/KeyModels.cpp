#include "device/KeyModels.h"

#include <utility>

KeyModels::KeyModels() : KeyModels(std::vector<VidPidEntry>{DefaultVidPidEntry()}) {}

KeyModels::KeyModels(std::vector<VidPidEntry> entries)
    : entries_(std::move(entries)), current_(VidPidEntry::Make(DefaultVidPidEntry().Vid(), 0)) {}

std::vector<VidPidEntry> KeyModels::Entries() const {
  std::lock_guard lock(mutex_);
  return entries_;
}

void KeyModels::SetEntries(std::vector<VidPidEntry> entries) {
  std::lock_guard lock(mutex_);
  entries_ = std::move(entries);
}

VidPidEntry KeyModels::CurrentModel() const {
  std::lock_guard lock(mutex_);
  return current_;
}

void KeyModels::LockOn(std::uint16_t vid, std::uint16_t pid) {
  std::lock_guard lock(mutex_);
  current_ = VidPidEntry::Make(vid, pid);
}

std::vector<std::string> KeyModels::PermissionDeniedPaths() const {
  std::lock_guard lock(mutex_);
  return deniedPaths_;
}

bool KeyModels::PermissionDenied() const {
  std::lock_guard lock(mutex_);
  return !deniedPaths_.empty();
}

void KeyModels::SetPermissionDeniedPaths(std::vector<std::string> paths) {
  std::lock_guard lock(mutex_);
  deniedPaths_ = std::move(paths);
}

std::vector<std::string> VidPidConfigSearchPath(const std::string& dataDirectory) {
  std::vector<std::string> paths;
  // Without the executable's place there is no file beside it to try.
  if (std::string beside = VidPidConfigPath(); !beside.empty()) paths.push_back(std::move(beside));
  paths.push_back(dataDirectory + "/" + kVidPidConfigFileName);
  return paths;
}

bool LoadKeyModels(const std::vector<std::string>& paths, KeyModels& models, std::string* error) {
  if (error != nullptr) error->clear();
  std::vector<VidPidEntry> entries;
  bool loaded = false;
  for (const std::string& path : paths) {
    entries.clear();
    std::string problem;
    loaded = LoadVidPidConfig(path, entries, &problem);
    // The first file with a wrong entry is the one to tell about.
    if (error != nullptr && error->empty()) *error = problem;
    if (loaded) break;
  }
  // Whatever happened, the list holds at least the default entry.
  if (entries.empty()) entries.push_back(DefaultVidPidEntry());
  models.SetEntries(std::move(entries));
  return loaded;
}
