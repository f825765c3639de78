#pragma once
// The one entry point of the QR decoder module (tokvane-qr-decoder.so), the only code that touches
// ZXing-cpp. The programs load it on the first QR code they read, so a start-up neither maps nor
// relocates ZXing. Plain C on purpose: no C++ type, allocation or exception crosses it.
#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

// Receives the bytes of one valid QR code. They are wiped when it returns (they may hold a
// secret): a sink copies what it keeps. A sink must not throw or unwind.
typedef void (*TokvaneQrCodeSink)(void* context, const unsigned char* bytes, size_t size);

// Reads the QR codes of a grey image (one byte of lightness per pixel, rows `row_stride` bytes
// apart) and hands each valid one to `sink`, in the decoder's order. 0 when the image was read
// (with or without codes), -1 when the arguments are unusable or the decoder failed (out of
// memory, or any other fault inside it); the sink is not called then.
typedef int (*TokvaneQrDecodeFunction)(const unsigned char* pixels, int width, int height, int row_stride,
                                       TokvaneQrCodeSink sink, void* context);

// The symbol's name carries the version of this interface, so that a module of another interface
// is refused when it is looked up instead of being called wrongly.
#define TOKVANE_QR_DECODE_SYMBOL "tokvane_qr_decode_v1"

#ifdef __cplusplus
}
#endif
