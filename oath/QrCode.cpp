#include "oath/QrCode.h"

#include <dlfcn.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <filesystem>
#include <mutex>
#include <string_view>
#include <system_error>
#include <vector>

#include "core/LibraryOnFirstUse.h"
#include "oath/QrDecoderEntry.h"
#include "oath/SecretFormats.h"

namespace {

// Where the decoder module may be, in the order tried: ../lib/tokvane beside the running program's
// real path (the installed /usr/bin and /usr/lib/tokvane, and the build tree's program folders one
// level under it), then, only for a program inside the build tree, the build tree's own folder. No
// environment and no search path take part: the module runs in the program with its rights.
std::vector<std::filesystem::path> DecoderCandidates(std::string& whyNone) {
  std::vector<std::filesystem::path> candidates;
  std::error_code failed;
  const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", failed);
  if (failed || !program.is_absolute()) {
    whyNone = "cannot find the QR decoder " TOKVANE_QR_DECODER_FILE
              ": the program's own path cannot be read from /proc/self/exe";
    return candidates;
  }
  candidates.push_back(
      (program.parent_path() / ".." / TOKVANE_QR_DECODER_SUBDIR / TOKVANE_QR_DECODER_FILE).lexically_normal());
  const std::string_view buildTree = TOKVANE_QR_DECODER_BUILD_TREE;
  const std::string& programPath = program.native();
  if (programPath.size() > buildTree.size() + 1 && programPath.starts_with(buildTree) &&
      programPath[buildTree.size()] == '/') {
    candidates.push_back(std::filesystem::path(buildTree) / TOKVANE_QR_DECODER_SUBDIR / TOKVANE_QR_DECODER_FILE);
  }
  return candidates;
}

// dlerror()'s text without the file name it starts with, on one line.
std::string LoadFailure(const std::filesystem::path& file) {
  const char* text = ::dlerror();
  std::string reason = text != nullptr ? text : "unknown reason";
  const std::string prefix = file.native() + ": ";
  if (reason.starts_with(prefix)) reason.erase(0, prefix.size());
  for (char& c : reason) {
    if (c == '\n' || c == '\r') c = ' ';
  }
  return reason;
}

// The decoder's entry point, loaded on first use and kept for the life of the process: the module
// is never unloaded, so no thread can be left calling into unmapped code. A failed load is tried
// again on the next image (the package may have been reinstalled meanwhile).
TokvaneQrDecodeFunction LoadDecoder(std::string& error) {
  static std::mutex mutex;
  static TokvaneQrDecodeFunction decode = nullptr;
  const std::lock_guard lock(mutex);
  if (decode != nullptr) return decode;

  std::string whyNone;
  const std::vector<std::filesystem::path> candidates = DecoderCandidates(whyNone);
  if (candidates.empty()) {
    error = whyNone;
    return nullptr;
  }
  // Of the files that could not be used, the reason named is that of the first one that is there,
  // else that of the installed layout's file.
  struct Attempt {
    std::filesystem::path file;
    std::string reason;
    bool present = false;
  };
  std::vector<Attempt> attempts;
  for (const std::filesystem::path& file : candidates) {
    const bool present = ::access(file.c_str(), F_OK) == 0;
    void* module = tokvane::OpenLibrary(file.c_str());
    if (module == nullptr) {
      attempts.push_back({file, LoadFailure(file), present});
      continue;
    }
    if (void* entry = ::dlsym(module, TOKVANE_QR_DECODE_SYMBOL); entry != nullptr) {
      decode = reinterpret_cast<TokvaneQrDecodeFunction>(entry);
      return decode;
    }
    attempts.push_back({file, LoadFailure(file), present});
    ::dlclose(module);
  }
  const auto named = std::find_if(attempts.begin(), attempts.end(), [](const Attempt& a) { return a.present; });
  const Attempt& failed = named != attempts.end() ? *named : attempts.front();
  error = "cannot load the QR decoder " + failed.file.native() + ": " + failed.reason + "; reinstall the tokvane package";
  return nullptr;
}

// What the decoder hands over: the count of valid codes, and the first one's bytes.
struct FoundCodes {
  SecretBuffer& first;
  std::size_t count = 0;
  bool outOfMemory = false;
};

// Called from the module: nothing may unwind through it.
void KeepCode(void* context, const unsigned char* bytes, std::size_t size) noexcept {
  FoundCodes& found = *static_cast<FoundCodes*>(context);
  if (++found.count > 1) return;
  try {
    found.first.Append({bytes, size});
  } catch (...) {
    found.outOfMemory = true;
  }
}

}  // namespace

bool ReadOtpauthQrCode(const GreyImage& image, SecretBuffer& uri, std::string& error) {
  uri.Clear();
  if (image.pixels == nullptr || image.width <= 0 || image.height <= 0 || image.rowStride < image.width) {
    error = "the image is empty";
    return false;
  }
  const TokvaneQrDecodeFunction decode = LoadDecoder(error);
  if (decode == nullptr) return false;
  FoundCodes found{uri};
  if (decode(image.pixels, image.width, image.height, image.rowStride, &KeepCode, &found) != 0 ||
      found.outOfMemory) {
    uri.Clear();
    error = "the QR decoder failed on the image";
    return false;
  }
  if (found.count == 0) {
    error = "the image holds no QR code that can be read";
    return false;
  }
  if (found.count > 1) {
    uri.Clear();
    error = "the image holds " + std::to_string(found.count) + " QR codes; crop it to the one of the credential";
    return false;
  }
  if (!StartsWithOtpauthScheme(uri.Text())) {
    uri.Clear();
    error = "the QR code holds no otpauth URI";
    return false;
  }
  return true;
}
