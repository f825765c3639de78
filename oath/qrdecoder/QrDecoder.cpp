// The QR decoder module: ZXing-cpp behind the plain C entry point of oath/QrDecoderEntry.h.
#include <ZXing/ReadBarcode.h>

#include "core/SecureBytes.h"
#include "oath/QrDecoderEntry.h"

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

extern "C" __attribute__((visibility("default"))) int tokvane_qr_decode_v1(const unsigned char* pixels, int width,
                                                                          int height, int row_stride,
                                                                          TokvaneQrCodeSink sink, void* context) {
  if (pixels == nullptr || width <= 0 || height <= 0 || row_stride < width || sink == nullptr) return -1;
  try {
    ZXing::DecodeHints hints;
    hints.setFormats(ZXing::BarcodeFormat::QRCode);
    hints.setTryHarder(true);
    hints.setTryRotate(true);
    ZXing::Results results =
        ZXing::ReadBarcodes(ZXing::ImageView(pixels, width, height, ZXing::ImageFormat::Lum, row_stride), hints);
    const ResultsWipe wipe(results);
    for (const ZXing::Result& result : results) {
      if (!result.isValid()) continue;
      const ZXing::ByteArray& text = result.bytes();
      sink(context, text.data(), text.size());
    }
    return 0;
  } catch (...) {
    return -1;
  }
}

// The entry point has the type the programs call it through.
[[maybe_unused]] constexpr TokvaneQrDecodeFunction kEntryPoint = &tokvane_qr_decode_v1;
