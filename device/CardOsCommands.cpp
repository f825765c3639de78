#include "device/CardOsCommands.h"

#include <iterator>

#include "BuildConfig.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Header(std::uint8_t cla, std::uint8_t ins, std::uint8_t p1, std::uint8_t p2) { return {cla, ins, p1, p2}; }

}  // namespace

Bytes BuildSelectOath() {
  Bytes out = Header(card_os::kClaIso, card_os::kInsSelect, 0x04, 0x00);
  out.push_back(static_cast<std::uint8_t>(tokvane::build::kOathRid.size() + sizeof card_os::kOathPix));
  out.insert(out.end(), tokvane::build::kOathRid.begin(), tokvane::build::kOathRid.end());
  out.insert(out.end(), std::begin(card_os::kOathPix), std::end(card_os::kOathPix));
  return out;
}

Bytes BuildSelectFido() {
  Bytes out = Header(card_os::kClaIso, card_os::kInsSelect, 0x04, 0x00);
  out.push_back(static_cast<std::uint8_t>(sizeof card_os::kFidoAid));
  out.insert(out.end(), std::begin(card_os::kFidoAid), std::end(card_os::kFidoAid));
  return out;
}

Bytes BuildGetCosVersion() {
  Bytes out = Header(card_os::kClaProprietary, card_os::kInsCosCommand, 0x00, 0x00);
  out.push_back(0x03);  // Le: the three version bytes
  return out;
}

Bytes BuildE3P1Command() { return Header(card_os::kClaProprietary, card_os::kInsCosCommand, 0x01, 0x00); }

Bytes BuildSetInterfaceMode(std::uint8_t mode) {
  Bytes out = Header(card_os::kClaProprietary, card_os::kInsSetInterfaceMode, 0xFF, 0x00);
  out.push_back(0x01);
  out.push_back(mode);
  return out;
}
