// Response APDUs from arbitrary bytes and hex text: a response takes what fits its limits, keeps
// its old value otherwise, and its hex text reads back as the same response.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "device/ApduResponse.h"

namespace {

void Check(bool condition) {
  if (!condition) __builtin_trap();
}

bool Same(const CApduResponse& a, const CApduResponse& b) {
  return a.DataLength == b.DataLength && a.SW1 == b.SW1 && a.SW2 == b.SW2 && a.Data == b.Data;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider provider(data, size);
  const bool asText = provider.ConsumeBool();
  const std::vector<std::uint8_t> bytes = provider.ConsumeRemainingBytes<std::uint8_t>();

  CApduResponse previous;
  previous.SW1 = 0x6F;
  previous.SW2 = 0x01;
  CApduResponse response = previous;
  bool parsed = false;
  if (asText) {
    parsed = response.ParseHex(std::string(bytes.begin(), bytes.end()));
  } else {
    parsed = response.Parse(bytes.data(), bytes.size());
    Check(parsed == (bytes.size() >= 2 && bytes.size() <= CApduResponse::kMaxEncodedLength));
  }
  if (!parsed) {
    Check(Same(response, previous));
    return 0;
  }
  Check(response.DataLength == response.Data.size());
  Check(response.Data.size() + 2 <= CApduResponse::kMaxEncodedLength);
  if (!asText) {
    Check(std::equal(response.Data.begin(), response.Data.end(), bytes.begin()));
    Check(response.SW1 == bytes[bytes.size() - 2] && response.SW2 == bytes.back());
  }
  Check(response.IsSuccess() == (response.StatusWord() == 0x9000));

  CApduResponse again;
  Check(again.ParseHex(response.ToHex()));
  Check(Same(again, response));

  // Replacing the data keeps the status word.
  CApduResponse replaced = response;
  Check(replaced.SetData(bytes.data(), bytes.size()) == (bytes.size() <= CApduResponse::kMaxDataLength));
  Check(replaced.SW1 == response.SW1 && replaced.SW2 == response.SW2);
  return 0;
}
