#include "device/SCardInterface.h"

#include <algorithm>
#include <cstring>

#include "core/SecureBytes.h"
#include "core/Translate.h"

using tokvane::Tr;

namespace {

constexpr const char* kNoErrorText = N_("No error.");
constexpr const char* kResponseTooLongText = N_("The card's response is longer than 65535 bytes.");
constexpr const char* kChainEndlessText = N_("The card's response chain did not end.");

constexpr std::uint8_t kMoreDataSw1 = 0x61;
constexpr std::uint8_t kGetResponseIns = 0xC0;
constexpr const char* kEnvelopeHeaderHex = "00C20000";
// Interindustry class for the chaining commands: bit 8 of the caller's class cleared.
constexpr std::uint8_t kInterindustryClassMask = 0x7F;
// A round that brings data moves the chain on (and the data limit bounds those); a card that
// keeps answering 61 xx with nothing is stuck, and is given up after this many such rounds in a row.
constexpr std::size_t kMaxEmptyChainRounds = 16;
// A card that hands out its answer a byte or two per round stays inside the data limit for up to
// 65,535 rounds; a whole 65,535-byte answer in 256-byte pieces needs 256, so this is plenty.
constexpr std::size_t kMaxChainRounds = 1024;

// A short length byte 00 stands for 256.
unsigned ShortLength(unsigned value) { return value == 0 ? 256 : value; }

CApduCommand MakeGetResponse(const CApduCommand& command) {
  CApduCommand getResponse;
  getResponse.Cla = command.Cla & kInterindustryClassMask;
  getResponse.Ins = kGetResponseIns;
  getResponse.Le = command.Le;
  return getResponse;
}

std::vector<std::uint8_t> Header(const CApduCommand& command) {
  return {command.Cla, command.Ins, command.P1, command.P2};
}

// Under T=0 an extended Le-only command goes out as header + P3: Le itself for 1 to 255,
// 00 (that is, 256) for 256, for "no Le" and for anything longer.
std::vector<std::uint8_t> ShortFormOfExtendedLe(const CApduCommand& command) {
  std::vector<std::uint8_t> bytes = Header(command);
  bytes.push_back(command.Le <= 255 ? static_cast<std::uint8_t>(command.Le) : 0);
  return bytes;
}

// Header, one-byte Lc and the data; an Le is dropped (the chain after 61 xx fetches the answer).
std::vector<std::uint8_t> ShortFormOfExtendedLc(const CApduCommand& command) {
  std::vector<std::uint8_t> bytes = Header(command);
  bytes.push_back(static_cast<std::uint8_t>(command.Lc));
  const std::size_t available = std::min<std::size_t>(command.Data.size(), command.Lc);
  bytes.insert(bytes.end(), command.Data.begin(), command.Data.begin() + available);
  bytes.resize(bytes.size() + (command.Lc - available), 0);
  return bytes;
}

}  // namespace

bool CSCardInterface::Exchange(const CApduCommand& command, CApduResponse& response) {
  if (GetProtocol() != ProtocolT0) return Transmit(command, response);

  if (command.Case == ApduCaseUnrecognised) return ExchangeInEnvelopes(command, response);
  if (!command.Extended) {
    if (!Transmit(command, response)) return false;
    return GetResponseChain(command, response);
  }
  if (command.Case == ApduCaseExtendedLe) {
    return TransmitShortForm(ShortFormOfExtendedLe(command), command, response);
  }
  const bool extendedWithData =
      command.Case == ApduCaseExtendedLc || command.Case == ApduCaseExtendedLcLe;
  if (extendedWithData && command.Lc < 256) {
    return TransmitShortForm(ShortFormOfExtendedLc(command), command, response);
  }
  // Long data, and extended commands of any other case, travel as ENVELOPE pieces.
  return ExchangeInEnvelopes(command, response);
}

bool CSCardInterface::TransmitShortForm(std::vector<std::uint8_t> shortForm, const CApduCommand& command,
                                        CApduResponse& response) {
  // The command's data may be a secret: neither copy made here stays behind.
  ScopedWipe wipeShortForm(shortForm);
  CApduCommand shortCommand;
  shortCommand.Parse(shortForm.data(), shortForm.size());
  ScopedWipe wipeShortData(shortCommand.Data);
  CApduResponse shortResponse;
  if (!Transmit(shortCommand, shortResponse)) return false;
  response = shortResponse;
  return GetResponseChain(command, response);
}

bool CSCardInterface::GetResponseChain(const CApduCommand& command, CApduResponse& response) {
  if (!AutoGetResponse || GetProtocol() != ProtocolT0 || response.SW1 != kMoreDataSw1) return true;
  CApduCommand getResponse = MakeGetResponse(command);
  std::vector<std::uint8_t> collected;
  if (!CollectChain(getResponse, response, true, collected)) return false;
  response.SetData(collected.data(), collected.size());
  return true;
}

bool CSCardInterface::ExchangeInEnvelopes(const CApduCommand& command, CApduResponse& response) {
  std::vector<std::uint8_t> body = command.Serialize();
  ScopedWipe wipeBody(body);
  if (command.Case == ApduCaseExtendedLcLe && body.size() >= 2) body.resize(body.size() - 2);

  CApduCommand envelope;
  envelope.ParseHex(kEnvelopeHeaderHex);
  // Every piece is at most kEnvelopePiece bytes: reserved once, the pieces share one allocation,
  // which is wiped on every way out.
  envelope.Data.reserve(kEnvelopePiece);
  ScopedWipe wipePieces(envelope.Data);
  envelope.Cla = command.Cla & kInterindustryClassMask;
  CApduCommand getResponse = MakeGetResponse(command);

  CApduResponse last;
  std::vector<std::uint8_t> collected;
  for (std::size_t offset = 0; offset < body.size(); offset += kEnvelopePiece) {
    const std::size_t pieceLength = std::min(kEnvelopePiece, body.size() - offset);
    envelope.SetData(body.data() + offset, static_cast<std::uint16_t>(pieceLength));
    CApduResponse scratch;
    if (!Transmit(envelope, scratch)) return false;
    last = scratch;
    if (last.IsSuccess()) continue;
    if (last.SW1 == kMoreDataSw1 && !CollectChain(getResponse, last, false, collected)) {
      return false;
    }
    break;
  }
  response.SetData(collected.data(), collected.size());
  response.SW1 = last.SW1;
  response.SW2 = last.SW2;
  return true;
}

bool CSCardInterface::CollectChain(CApduCommand& getResponse, CApduResponse& last,
                                   bool appendFinalAlways, std::vector<std::uint8_t>& collected) {
  std::size_t emptyRounds = 0;
  std::size_t rounds = 0;
  while (last.SW1 == kMoreDataSw1) {
    if (!Append(collected, last)) return false;
    emptyRounds = last.Data.empty() ? emptyRounds + 1 : 0;
    if (emptyRounds > kMaxEmptyChainRounds || ++rounds > kMaxChainRounds) {
      ErrorText = Tr(kChainEndlessText);
      return false;
    }
    getResponse.Le = static_cast<std::uint16_t>(
        std::min(ShortLength(getResponse.Le), ShortLength(last.SW2)));
    // A fresh answer each round: one too short to parse must not leave the old 61 xx behind.
    CApduResponse next;
    if (!Transmit(getResponse, next)) return false;
    last = next;
  }
  if (appendFinalAlways || last.IsSuccess()) return Append(collected, last);
  return true;
}

bool CSCardInterface::Append(std::vector<std::uint8_t>& collected, const CApduResponse& piece) {
  if (piece.Data.size() > kMaxCollectedData - collected.size()) {
    ErrorText = Tr(kResponseTooLongText);
    return false;
  }
  collected.insert(collected.end(), piece.Data.begin(), piece.Data.end());
  return true;
}

std::string CSCardInterface::GetLastErrorText() {
  std::string text = ErrorText;
  ErrorText = Tr(kNoErrorText);
  return text;
}

void CSCardInterface::SetName(const std::wstring&) {}

std::wstring CSCardInterface::GetName() { return std::wstring(); }

int CSCardInterface::ReservedOperation(int, int, int, int) { return 0; }

std::uint32_t CSCardInterface::GetAtr(std::uint8_t* buffer, std::uint32_t capacity) {
  if (buffer == nullptr) return 0;
  const std::uint32_t count = std::min<std::uint32_t>(AtrLength, capacity);
  if (count != 0) std::memcpy(buffer, Atr, count);
  return count;
}

bool CSCardInterface::SetProtocol(int protocolSelector) {
  ProtocolSelector = protocolSelector;
  return true;
}

int CSCardInterface::GetProtocol() { return ProtocolSelector; }

bool CSCardInterface::SetAutoGetResponse(bool enabled) {
  const bool previous = AutoGetResponse;
  AutoGetResponse = enabled;
  return previous;
}

void CSCardInterface::StoreAtr(const std::uint8_t* atr, std::size_t length) {
  std::memset(Atr, 0, sizeof(Atr));
  const std::size_t stored = atr == nullptr ? 0 : std::min(length, kMaxStoredAtr);
  if (stored != 0) std::memcpy(Atr, atr, stored);
  AtrLength = static_cast<std::uint8_t>(stored);
}
