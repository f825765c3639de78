#pragma once
// The otpauth URI of a QR code, as services show a credential, read from a grey image the front end
// loaded, decoded by ZXing-cpp.
#include <cstdint>
#include <string>

#include "core/SecretBuffer.h"

// One byte of lightness per pixel, rows `rowStride` bytes apart.
struct GreyImage {
  const std::uint8_t* pixels = nullptr;
  int width = 0;
  int height = 0;
  int rowStride = 0;
};

// Finds the image's one QR code and checks that it holds an otpauth: URI, whose text goes to `uri`
// (the URI itself is checked by ParseSecret). False with a one-line reason that never quotes the
// code: no QR code, several, or one that is no otpauth URI; or the decoder failed. The decoder's copy
// of the text is wiped.
bool ReadOtpauthQrCode(const GreyImage& image, SecretBuffer& uri, std::string& error);
