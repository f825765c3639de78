#include "keysim/ReceivedCommand.h"

#include "core/SecureBytes.h"

namespace {

// The parser holds a short Le of 00 as 256 already; an extended one of 00 00 stays 0.
constexpr std::size_t kExtendedLeZero = 65536;

}  // namespace

std::optional<ReceivedCommand> ReceivedCommand::From(const Bytes& bytes) {
  ReceivedCommand command;
  if (!command.apdu_.Parse(bytes.data(), bytes.size())) return std::nullopt;  // the destructor wipes
  return command;
}

ReceivedCommand::~ReceivedCommand() {
  WipeBuffer(apdu_.Data);
  WipeBuffer(apdu_.RawBody);
}

std::optional<std::size_t> ReceivedCommand::ExpectedLength() const {
  switch (apdu_.Case) {
    case ApduCaseShortLe:
    case ApduCaseShortLcLe:
      return apdu_.Le;
    case ApduCaseExtendedLe:
    case ApduCaseExtendedLcLe:
      return apdu_.Le == 0 ? kExtendedLeZero : apdu_.Le;
    default:
      return std::nullopt;
  }
}

CommandCompleteness CompletenessOf(const std::vector<std::uint8_t>& b) {
  const std::size_t n = b.size();
  if (n < 4) return CommandCompleteness::Incomplete;
  if (n <= 5) return CommandCompleteness::Complete;
  if (b[4] != 0) {
    const std::size_t lc = b[4];
    if (n == 5 + lc || n == 6 + lc) return CommandCompleteness::Complete;
    return n < 5 + lc ? CommandCompleteness::Incomplete : CommandCompleteness::Invalid;
  }
  if (n < 7) return CommandCompleteness::Incomplete;
  if (n == 7) return CommandCompleteness::Complete;
  const std::size_t lc = static_cast<std::size_t>(b[5]) << 8 | b[6];
  if (lc == 0) return CommandCompleteness::Invalid;
  if (n == 7 + lc || n == 9 + lc) return CommandCompleteness::Complete;
  return n < 7 + lc ? CommandCompleteness::Incomplete : CommandCompleteness::Invalid;
}

std::optional<std::vector<std::uint8_t>> ReadTlv(const std::vector<std::uint8_t>& data, std::size_t& offset,
                                                 std::uint8_t tag) {
  if (data.size() - offset < 2 || data[offset] != tag) return std::nullopt;
  const std::size_t length = data[offset + 1];
  if (data.size() - offset - 2 < length) return std::nullopt;
  std::vector<std::uint8_t> value(data.begin() + static_cast<std::ptrdiff_t>(offset + 2),
                                  data.begin() + static_cast<std::ptrdiff_t>(offset + 2 + length));
  offset += 2 + length;
  return value;
}
