// A hostile reader in front of the virtual key: any sequence of command bytes and power events
// gets a status word back, never a crash, and the store keeps its limits.
//
// Input: one configuration byte (bit 0: T=0, bit 1: a COS version that wants a touch, bit 2: the
// touch comes, bit 3: select the OATH applet first), then records of one length byte and that many
// command bytes. Length FF powers the key off, FE plugs it in again.
#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "keysim/VirtualKey.h"
#include "oath/OathCommands.h"

namespace {

constexpr std::size_t kCapacity = 4;

void Check(bool condition) {
  if (!condition) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::uint8_t flags = data[0];
  VirtualKeyConfig config;
  config.useT0 = (flags & 0x01) != 0;
  if ((flags & 0x02) != 0) config.cosVersion = {0x43, 0x01, 0x01};
  config.touch = (flags & 0x04) != 0 ? TouchMode::Always : TouchMode::Never;
  config.touchWindow = std::chrono::milliseconds(0);  // a missing touch answers at once
  config.capacity = kCapacity;
  config.receivedLogLimit = 8;
  VirtualKey key(config);
  if ((flags & 0x08) != 0) key.ProcessApdu(BuildSelectOath());

  std::size_t offset = 1;
  while (offset < size) {
    const std::uint8_t length = data[offset++];
    if (length == 0xFF) {
      key.PowerOff();
      continue;
    }
    if (length == 0xFE) {
      key.PlugIn();
      continue;
    }
    const std::size_t count = std::min<std::size_t>(length, size - offset);
    const std::vector<std::uint8_t> command(data + offset, data + offset + count);
    offset += count;
    const std::vector<std::uint8_t> answer = key.ProcessApdu(command);
    Check(answer.size() >= 2);
  }

  const auto credentials = key.Credentials();
  Check(credentials.size() <= kCapacity);
  int defaults = 0;
  for (const auto& credential : credentials) {
    Check(!credential.name.empty());
    Check(credential.digits == 6 || credential.digits == 8);
    defaults += credential.isDefault ? 1 : 0;
  }
  Check(defaults <= 1);
  const std::uint8_t mode = key.StoredInterfaceMode();
  Check(mode != 0 && (mode & ~card_os::kInterfaceAll) == 0);
  return 0;
}
