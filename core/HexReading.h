#pragma once
// The reader behind HexToBytes (core/Conversions.h), whose rules are written out at the top of
// HexReading.cpp. Long runs of plain pairs go through the processor's vector unit; which one is a
// parameter here, so the unit tests and the fuzz target check every path this processor can run.
#include <cstdint>
#include <string_view>

enum class HexReadingPath {
  Scalar,  // one table look-up per character; every processor
  Ssse3,   // 16 bytes per step (x86 with SSSE3)
  Avx2,    // 32 bytes per step (x86 with AVX2)
};

inline constexpr HexReadingPath kAllHexReadingPaths[] = {HexReadingPath::Scalar, HexReadingPath::Ssse3,
                                                         HexReadingPath::Avx2};

bool CanRunHexReadingPath(HexReadingPath path);
// The widest path this processor runs; the one HexToBytes takes.
HexReadingPath FastestHexReadingPath();
// HexToBytes on `path`; a path this processor cannot run is read on the scalar path instead.
std::uint32_t ReadHexText(std::string_view hexText, std::uint8_t* output, std::uint32_t capacity,
                          HexReadingPath path);
