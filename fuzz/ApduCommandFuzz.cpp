// Command APDUs from arbitrary bytes: every recognised command encodes back to its input (an Le
// field of 00 00 is the one thing dropped), an unrecognised one is sent byte for byte, the
// re-encoding reads as the same command, and a buffer one byte short is never written.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "device/ApduCommand.h"

namespace {

void Check(bool condition) {
  if (!condition) __builtin_trap();
}

bool SameFields(const CApduCommand& a, const CApduCommand& b) {
  return a.Cla == b.Cla && a.Ins == b.Ins && a.P1 == b.P1 && a.P2 == b.P2 && a.Lc == b.Lc && a.Le == b.Le &&
         a.Data == b.Data && a.Extended == b.Extended && a.Case == b.Case && a.RawBody == b.RawBody;
}

// The input as the encoder gives it back: an extended Le of 00 00 means "no Le" once parsed.
std::vector<std::uint8_t> ExpectedEncoding(const CApduCommand& command, const std::uint8_t* data, std::size_t size) {
  std::vector<std::uint8_t> expected(data, data + size);
  if (command.Case == ApduCaseExtendedLe && command.Le == 0) expected.resize(5);
  if (command.Case == ApduCaseExtendedLcLe && command.Le == 0) expected.resize(size - 2);
  return expected;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > CApduCommand::kMaxEncodedLength) return 0;
  CApduCommand command;
  const bool recognised = command.Parse(data, size);
  if (size < 4) {
    Check(!recognised);
    Check(SameFields(command, CApduCommand{}));
    return 0;
  }
  Check(recognised == (command.Case != ApduCaseUnrecognised));
  Check(command.Data.size() == command.Lc);
  Check(command.Case != ApduCaseUnrecognised || command.RawBody.size() == size - 4);

  const std::vector<std::uint8_t> encoded = command.Serialize();
  Check(encoded.size() == command.Serialize(nullptr, 0));
  Check(encoded == ExpectedEncoding(command, data, size));

  // A buffer one byte short is left untouched.
  auto shortBuffer = std::make_unique<std::uint8_t[]>(encoded.size());
  std::memset(shortBuffer.get(), 0xA5, encoded.size());
  Check(command.Serialize(shortBuffer.get(), encoded.size() - 1) == 0);
  for (std::size_t i = 0; i < encoded.size(); ++i) Check(shortBuffer[i] == 0xA5);

  // The encoding reads back as the same command, and its hex text does too.
  CApduCommand again;
  Check(again.Parse(encoded.data(), encoded.size()) == recognised || encoded.size() != size);
  if (encoded.size() == size) Check(SameFields(again, command));
  CApduCommand fromHex;
  fromHex.ParseHex(command.ToHex());
  Check(fromHex.Serialize() == encoded);
  return 0;
}
