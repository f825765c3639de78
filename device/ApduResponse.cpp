#include "device/ApduResponse.h"

#include "core/Conversions.h"

bool CApduResponse::Parse(const std::uint8_t* bytes, std::size_t count) {
  if (bytes == nullptr || count < 2 || count > kMaxEncodedLength) return false;
  DataLength = static_cast<std::uint16_t>(count - 2);
  Data.assign(bytes, bytes + (count - 2));
  SW1 = bytes[count - 2];
  SW2 = bytes[count - 1];
  return true;
}

bool CApduResponse::ParseHex(const std::string& hexText) {
  std::vector<std::uint8_t> bytes(kMaxEncodedLength + 3);
  const std::uint32_t count =
      HexToBytes(hexText, bytes.data(), static_cast<std::uint32_t>(bytes.size()));
  return Parse(bytes.data(), count);
}

bool CApduResponse::SetData(const std::uint8_t* bytes, std::size_t count) {
  if ((count != 0 && bytes == nullptr) || count > kMaxDataLength) return false;
  if (count == 0) {
    Data.clear();
  } else {
    Data.assign(bytes, bytes + count);
  }
  DataLength = static_cast<std::uint16_t>(count);
  return true;
}

std::string CApduResponse::ToHex() const {
  std::vector<std::uint8_t> bytes(Data.begin(), Data.end());
  bytes.push_back(SW1);
  bytes.push_back(SW2);
  return BytesToHex(bytes.data(), static_cast<std::uint32_t>(bytes.size()));
}
