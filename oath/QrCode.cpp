#include "oath/QrCode.h"

#include <ZXing/ReadBarcode.h>

#include <cstddef>
#include <string>

#include "core/SecureBytes.h"
#include "oath/SecretFormats.h"
#include "core/Translate.h"

using tokvane::Substitute;
using tokvane::Tr;

namespace {

// Wipes the decoded content of every result on every path: it may hold a secret.
class ResultsWipe {
 public:
  explicit ResultsWipe(ZXing::Results& results) : results_(results) {}
  ResultsWipe(const ResultsWipe&) = delete;
  ResultsWipe& operator=(const ResultsWipe&) = delete;
  ~ResultsWipe() {
    // The results are no const objects: their content may be written through the accessor.
    for (const ZXing::Result& result : results_) WipeBuffer(const_cast<ZXing::ByteArray&>(result.bytes()));
  }

 private:
  ZXing::Results& results_;
};

// The valid QR codes of the image; the first one's bytes go to `first`. False when ZXing failed
// (out of memory or any other fault inside it): nothing crosses this function but the result.
bool DecodeQrCodes(const GreyImage& image, SecretBuffer& first, std::size_t& count) noexcept {
  try {
    ZXing::DecodeHints hints;
    hints.setFormats(ZXing::BarcodeFormat::QRCode);
    hints.setTryHarder(true);
    hints.setTryRotate(true);
    ZXing::Results results = ZXing::ReadBarcodes(
        ZXing::ImageView(image.pixels, image.width, image.height, ZXing::ImageFormat::Lum, image.rowStride), hints);
    const ResultsWipe wipe(results);
    for (const ZXing::Result& result : results) {
      if (!result.isValid()) continue;
      if (++count == 1) first.Append({result.bytes().data(), result.bytes().size()});
    }
    return true;
  } catch (...) {
    return false;
  }
}

}  // namespace

bool ReadOtpauthQrCode(const GreyImage& image, SecretBuffer& uri, std::string& error) {
  uri.Clear();
  if (image.pixels == nullptr || image.width <= 0 || image.height <= 0 || image.rowStride < image.width) {
    error = Tr("the image is empty");
    return false;
  }
  std::size_t count = 0;
  if (!DecodeQrCodes(image, uri, count)) {
    uri.Clear();
    error = Tr("the QR decoder failed on the image");
    return false;
  }
  if (count == 0) {
    error = Tr("the image holds no QR code that can be read");
    return false;
  }
  if (count > 1) {
    uri.Clear();
    error =
        Substitute(Tr("the image holds %1 QR codes; crop it to the one of the credential"), {std::to_string(count)});
    return false;
  }
  if (!StartsWithOtpauthScheme(uri.Text())) {
    uri.Clear();
    error = Tr("the QR code holds no otpauth URI");
    return false;
  }
  return true;
}
