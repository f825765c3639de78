#include "cli/QrImageFile.h"

#define STB_IMAGE_IMPLEMENTATION
#define STBI_ONLY_PNG
#define STBI_ONLY_JPEG
#include <stb/stb_image.h>

#include <openssl/crypto.h>

#include <cstddef>
#include <cstdio>
#include <memory>
#include <string>

#include "oath/QrCode.h"
#include "core/Translate.h"

namespace cli {

using tokvane::Substitute;
using tokvane::Tr;

namespace {

// Frees the pixels stb_image loaded, wiped.
struct PixelsFree {
  std::size_t size = 0;
  void operator()(stbi_uc* pixels) const {
    OPENSSL_cleanse(pixels, size);
    stbi_image_free(pixels);
  }
};

}  // namespace

bool ReadQrImageFile(const std::string& path, SecretBuffer& uri, std::string& error) {
  uri.Clear();
  int width = 0;
  int height = 0;
  int channels = 0;
  // One open file for the header check and the decoding: what is decoded is what was checked.
  const std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(path.c_str(), "rb"), &std::fclose);
  if (!file) {
    error = Substitute(Tr("cannot read the image %1: can't fopen"), {path});
    return false;
  }
  if (stbi_info_from_file(file.get(), &width, &height, &channels) == 1 &&
      static_cast<std::size_t>(width) * static_cast<std::size_t>(height) > kMaxQrImagePixels) {
    error = Substitute(Tr("the image %1 has %2 x %3 pixels; at most %4 million are read"),
                       {path, std::to_string(width), std::to_string(height),
                        std::to_string(kMaxQrImagePixels / 1'000'000)});
    return false;
  }
  stbi_uc* loaded = stbi_load_from_file(file.get(), &width, &height, &channels, 1);
  if (loaded == nullptr) {
    error = Substitute(Tr("cannot read the image %1: %2"), {path, stbi_failure_reason()});
    return false;
  }
  const std::unique_ptr<stbi_uc, PixelsFree> pixels(
      loaded, PixelsFree{static_cast<std::size_t>(width) * static_cast<std::size_t>(height)});
  return ReadOtpauthQrCode(GreyImage{pixels.get(), width, height, width}, uri, error);
}

}  // namespace cli
