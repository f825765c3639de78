#include "cli/QrImageFile.h"

#define STB_IMAGE_IMPLEMENTATION
#define STBI_ONLY_PNG
#define STBI_ONLY_JPEG
#include <stb/stb_image.h>

#include <openssl/crypto.h>

#include <cstddef>
#include <memory>

#include "oath/QrCode.h"

namespace cli {

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
  stbi_uc* loaded = stbi_load(path.c_str(), &width, &height, &channels, 1);
  if (loaded == nullptr) {
    error = "cannot read the image " + path + ": " + stbi_failure_reason();
    return false;
  }
  const std::unique_ptr<stbi_uc, PixelsFree> pixels(
      loaded, PixelsFree{static_cast<std::size_t>(width) * static_cast<std::size_t>(height)});
  return ReadOtpauthQrCode(GreyImage{pixels.get(), width, height, width}, uri, error);
}

}  // namespace cli
