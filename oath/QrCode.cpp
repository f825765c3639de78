#include "oath/QrCode.h"

#include <ZXing/ReadBarcode.h>

#include <cstddef>
#include <vector>

#include "core/SecureBytes.h"
#include "oath/SecretFormats.h"

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

}  // namespace

bool ReadOtpauthQrCode(const GreyImage& image, SecretBuffer& uri, std::string& error) {
  uri.Clear();
  if (image.pixels == nullptr || image.width <= 0 || image.height <= 0 || image.rowStride < image.width) {
    error = "the image is empty";
    return false;
  }
  ZXing::DecodeHints hints;
  hints.setFormats(ZXing::BarcodeFormat::QRCode);
  hints.setTryHarder(true);
  hints.setTryRotate(true);
  ZXing::Results results = ZXing::ReadBarcodes(
      ZXing::ImageView(image.pixels, image.width, image.height, ZXing::ImageFormat::Lum, image.rowStride), hints);
  const ResultsWipe wipe(results);
  std::vector<const ZXing::Result*> found;
  for (const ZXing::Result& result : results) {
    if (result.isValid()) found.push_back(&result);
  }
  if (found.empty()) {
    error = "the image holds no QR code that can be read";
    return false;
  }
  if (found.size() > 1) {
    error = "the image holds " + std::to_string(found.size()) + " QR codes; crop it to the one of the credential";
    return false;
  }
  const ZXing::ByteArray& text = found.front()->bytes();
  uri.Append({text.data(), text.size()});
  if (!StartsWithOtpauthScheme(uri.Text())) {
    uri.Clear();
    error = "the QR code holds no otpauth URI";
    return false;
  }
  return true;
}
