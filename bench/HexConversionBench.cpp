// Hex conversion of the largest buffer the program converts (an extended APDU of 65,544 bytes)
// against copying the same bytes.
#include <cstring>
#include <string>
#include <vector>

#include "bench/RatioReporter.h"
#include "core/Conversions.h"

namespace {

constexpr std::uint32_t kBufferLength = 65544;

std::vector<std::uint8_t> MakeBuffer() {
  std::vector<std::uint8_t> bytes(kBufferLength);
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(i * 31 + 7);
  return bytes;
}

void RawMemcpy(benchmark::State& state) {
  const auto source = MakeBuffer();
  std::vector<std::uint8_t> target(kBufferLength);
  for (auto _ : state) {
    std::memcpy(target.data(), source.data(), source.size());
    benchmark::DoNotOptimize(target.data());
    benchmark::ClobberMemory();
  }
}
BENCHMARK(RawMemcpy);

void OursBytesToHex(benchmark::State& state) {
  const auto source = MakeBuffer();
  for (auto _ : state) {
    std::string text = BytesToHex(source.data(), kBufferLength);
    benchmark::DoNotOptimize(text.data());
  }
}
BENCHMARK(OursBytesToHex);

void OursHexToBytes(benchmark::State& state) {
  const auto source = MakeBuffer();
  const std::string text = BytesToHex(source.data(), kBufferLength);
  std::vector<std::uint8_t> target(kBufferLength);
  for (auto _ : state) {
    benchmark::DoNotOptimize(HexToBytes(text, target.data(), kBufferLength));
    benchmark::ClobberMemory();
  }
}
BENCHMARK(OursHexToBytes);

}  // namespace

int main(int argc, char** argv) {
  return tokvane::bench::RunAndPrintRatios(
      argc, argv,
      {{"BytesToHex (65,544 bytes) / memcpy", "OursBytesToHex", "RawMemcpy", 0.0},
       {"HexToBytes (65,544 bytes) / memcpy", "OursHexToBytes", "RawMemcpy", 20.0}});
}
