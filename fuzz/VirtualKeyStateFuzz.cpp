// The virtual key's state file reader on arbitrary text: a state it accepts must write back to text
// that reads as the same state.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "keysim/VirtualKeyStore.h"

namespace {

void Check(bool condition) {
  if (!condition) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const auto store = ParseVirtualKeyStore(text);
  if (!store) return 0;
  const std::string written = SerializeVirtualKeyStore(*store);
  const auto again = ParseVirtualKeyStore(written);
  Check(again.has_value());
  Check(again->interfaceMode == store->interfaceMode);
  Check(again->defaultName == store->defaultName);
  Check(again->credentials.size() == store->credentials.size());
  for (std::size_t i = 0; i < store->credentials.size(); ++i) {
    const auto& a = store->credentials[i];
    const auto& b = again->credentials[i];
    Check(a.name == b.name && a.secret == b.secret && a.digits == b.digits && a.counter == b.counter);
  }
  Check(SerializeVirtualKeyStore(*again) == written);
  return 0;
}
