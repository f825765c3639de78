#pragma once
// The otpauth URI of a QR code in a PNG or JPEG file (oath add --qr).
#include <cstddef>
#include <string>

#include "core/SecretBuffer.h"

namespace cli {

// Images with more pixels are refused from their header, before any is decoded: a file of a few
// bytes can otherwise ask for gigabytes.
inline constexpr std::size_t kMaxQrImagePixels = 40'000'000;

// Loads `path` as a grey image and reads its one QR code's otpauth URI into `uri`. False with a
// one-line reason when the file is no readable PNG or JPEG, has more than kMaxQrImagePixels
// pixels, or for what ReadOtpauthQrCode refuses. The pixels are wiped before they are freed:
// the picture shows the secret.
bool ReadQrImageFile(const std::string& path, SecretBuffer& uri, std::string& error);

}  // namespace cli
