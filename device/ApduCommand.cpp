#include "device/ApduCommand.h"

#include <cstring>

#include "core/Conversions.h"

namespace {
constexpr std::size_t kHeaderLength = 4;

// A short Le byte 00 stands for 256.
std::uint16_t ShortLe(std::uint8_t byte) { return byte == 0 ? 256 : byte; }
}  // namespace

bool CApduCommand::Parse(const std::uint8_t* bytes, std::size_t count) {
  if (bytes == nullptr || count < kHeaderLength) return false;

  Cla = bytes[0];
  Ins = bytes[1];
  P1 = bytes[2];
  P2 = bytes[3];
  Lc = 0;
  Le = 0;
  Data.clear();
  RawBody.clear();
  Extended = false;

  const std::size_t n = count;
  const std::uint8_t b = n > 4 ? bytes[4] : 0;
  const std::size_t l = n > 6 ? (static_cast<std::size_t>(bytes[5]) << 8) | bytes[6] : 0;

  if (n == 4) {
    Case = ApduCaseHeaderOnly;
  } else if (n == 5) {
    Case = ApduCaseShortLe;
    Le = ShortLe(b);
  } else if (b == 0 && n == 7) {
    Case = ApduCaseExtendedLe;
    Le = static_cast<std::uint16_t>(l);
    Extended = true;
  } else if (b != 0 && n == static_cast<std::size_t>(b) + 5) {
    Case = ApduCaseShortLc;
    Lc = b;
    Data.assign(bytes + 5, bytes + n);
  } else if (n > 7 && b == 0 && n == l + 7) {
    Case = ApduCaseExtendedLc;
    Lc = static_cast<std::uint16_t>(l);
    Data.assign(bytes + 7, bytes + n);
    Extended = true;
  } else if (b != 0 && n == static_cast<std::size_t>(b) + 6) {
    Case = ApduCaseShortLcLe;
    Lc = b;
    Data.assign(bytes + 5, bytes + n - 1);
    Le = ShortLe(bytes[n - 1]);
  } else if (n > 9 && b == 0 && n == l + 9) {
    Case = ApduCaseExtendedLcLe;
    Lc = static_cast<std::uint16_t>(l);
    Data.assign(bytes + 7, bytes + n - 2);
    Le = static_cast<std::uint16_t>((bytes[n - 2] << 8) | bytes[n - 1]);
    Extended = true;
  } else {
    Case = ApduCaseUnrecognised;
    Extended = true;
    RawBody.assign(bytes + 4, bytes + n);
    return false;
  }
  return true;
}

bool CApduCommand::ParseHex(const std::string& hexText) {
  std::vector<std::uint8_t> bytes(kMaxEncodedLength);
  const std::uint32_t count = HexToBytes(hexText, bytes.data(), kMaxEncodedLength);
  return Parse(bytes.data(), count);
}

std::size_t CApduCommand::Serialize(std::uint8_t* buffer, std::size_t capacity) const {
  std::size_t length = 0;
  if (Case == ApduCaseUnrecognised) {
    length = kHeaderLength + RawBody.size();
  } else if (Extended) {
    length = 5 + (Lc != 0 ? 2 + Lc : 0) + (Le != 0 ? 2 : 0);
  } else {
    length = 4 + (Le != 0 ? 1 : 0) + (Lc != 0 ? 1 + Lc : 0);
  }
  if (buffer == nullptr) return length;
  if (capacity < length) return 0;

  // Data is expected to hold Lc bytes; a shorter vector is padded with zeros rather than over-read.
  auto writeData = [this](std::uint8_t* out) {
    const std::size_t available = Data.size() < Lc ? Data.size() : Lc;
    if (available != 0) std::memcpy(out, Data.data(), available);
    if (available < Lc) std::memset(out + available, 0, Lc - available);
  };

  buffer[0] = Cla;
  buffer[1] = Ins;
  buffer[2] = P1;
  buffer[3] = P2;
  std::size_t pos = kHeaderLength;
  if (Case == ApduCaseUnrecognised) {
    if (!RawBody.empty()) std::memcpy(buffer + pos, RawBody.data(), RawBody.size());
    return length;
  }
  if (Extended) {
    buffer[pos++] = 0x00;
    if (Lc != 0) {
      buffer[pos++] = static_cast<std::uint8_t>(Lc >> 8);
      buffer[pos++] = static_cast<std::uint8_t>(Lc & 0xFF);
      writeData(buffer + pos);
      pos += Lc;
    }
    if (Le != 0) {
      buffer[pos++] = static_cast<std::uint8_t>(Le >> 8);
      buffer[pos++] = static_cast<std::uint8_t>(Le & 0xFF);
    }
    return length;
  }
  if (length > kHeaderLength) {
    buffer[pos++] = static_cast<std::uint8_t>((Lc != 0 ? Lc : Le) & 0xFF);
  }
  if (Lc != 0) {
    writeData(buffer + pos);
    pos += Lc;
    if (Le != 0) buffer[pos++] = static_cast<std::uint8_t>(Le & 0xFF);
  }
  return length;
}

std::vector<std::uint8_t> CApduCommand::Serialize() const {
  std::vector<std::uint8_t> bytes(Serialize(nullptr, 0));
  Serialize(bytes.data(), bytes.size());
  return bytes;
}

std::string CApduCommand::ToHex() const {
  const std::vector<std::uint8_t> bytes = Serialize();
  return BytesToHex(bytes.data(), static_cast<std::uint32_t>(bytes.size()));
}

bool CApduCommand::SetData(const std::uint8_t* bytes, std::uint16_t count) {
  if (count != 0 && bytes == nullptr) return false;
  Data.assign(bytes, bytes + count);
  Lc = count;
  Extended = count > 255;
  return true;
}

CApduCommand CommandFromBytes(const std::vector<std::uint8_t>& bytes) {
  CApduCommand command;
  command.Parse(bytes.data(), bytes.size());
  return command;
}
