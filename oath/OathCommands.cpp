#include "oath/OathCommands.h"

#include <cstddef>

namespace {

// Lc and every TLV length are single bytes.
constexpr std::size_t kMaxLengthByte = 255;

OathByteView AsBytes(std::string_view text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

void Append(OathBytes& out, OathByteView bytes) { out.insert(out.end(), bytes.begin(), bytes.end()); }

OathBytes Header(std::uint8_t cla, std::uint8_t ins, std::uint8_t p1, std::uint8_t p2) {
  return {cla, ins, p1, p2};
}

// Header, Lc, tag, n, name: the shape of delete and set default.
OathBytes BuildNameCommand(std::uint8_t ins, OathByteView name) {
  const std::size_t lc = name.size() + 2;
  if (lc > kMaxLengthByte) return {};
  OathBytes out = Header(card_os::kClaIso, ins, 0x00, 0x00);
  out.push_back(static_cast<std::uint8_t>(lc));
  out.push_back(oath::kTagName);
  out.push_back(static_cast<std::uint8_t>(name.size()));
  Append(out, name);
  return out;
}

}  // namespace

OathBytes BuildGetAppletVersion() {
  OathBytes out = Header(card_os::kClaProprietary, oath::kInsAppletVersion, 0x80, 0x00);
  out.push_back(static_cast<std::uint8_t>(sizeof oath::kAppletVersionQuery));
  Append(out, oath::kAppletVersionQuery);
  return out;
}

OathBytes BuildReset() { return Header(card_os::kClaIso, oath::kInsReset, 0x00, 0x00); }

OathBytes BuildList() { return Header(card_os::kClaIso, oath::kInsList, 0x00, 0x00); }

OathBytes BuildGetDefault() { return Header(card_os::kClaIso, oath::kInsGetDefault, 0x00, 0x00); }

OathBytes BuildDelete(OathByteView name) { return BuildNameCommand(oath::kInsDelete, name); }
OathBytes BuildDelete(std::string_view name) { return BuildDelete(AsBytes(name)); }

OathBytes BuildSetDefault(OathByteView name) { return BuildNameCommand(oath::kInsSetDefault, name); }
OathBytes BuildSetDefault(std::string_view name) { return BuildSetDefault(AsBytes(name)); }

OathBytes BuildCalculate(OathByteView name, OathByteView challenge) {
  const std::size_t lc = name.size() + challenge.size() + 4;
  if (lc > kMaxLengthByte) return {};
  OathBytes out = Header(card_os::kClaIso, oath::kInsCalculate, 0x01, 0x00);
  out.push_back(static_cast<std::uint8_t>(lc));
  out.push_back(oath::kTagChallenge);
  out.push_back(static_cast<std::uint8_t>(challenge.size()));
  Append(out, challenge);
  out.push_back(oath::kTagName);
  out.push_back(static_cast<std::uint8_t>(name.size()));
  Append(out, name);
  return out;
}

OathBytes BuildCalculate(std::string_view name, OathByteView challenge) {
  return BuildCalculate(AsBytes(name), challenge);
}

OathBytes BuildPut(std::uint8_t ins, OathByteView name, OathByteView key, std::uint8_t digits,
                   OathByteView imf) {
  std::size_t lc = key.size() + name.size() + 7;
  if (!imf.empty()) lc += imf.size() + 2;
  if (lc > kMaxLengthByte) return {};

  OathBytes out = Header(card_os::kClaIso, ins, 0x00, 0x00);
  out.reserve(5 + lc);
  out.push_back(static_cast<std::uint8_t>(lc));
  out.push_back(oath::kTagKey);
  // k + 2, not k + 3: the key reads its key length as this byte minus two.
  out.push_back(static_cast<std::uint8_t>(key.size() + 2));
  out.push_back(oath::kPutAlgorithm);
  out.push_back(oath::kPutHash);
  out.push_back(digits);
  Append(out, key);
  out.push_back(oath::kTagName);
  out.push_back(static_cast<std::uint8_t>(name.size()));
  Append(out, name);
  if (!imf.empty()) {
    out.push_back(oath::kTagImf);
    out.push_back(static_cast<std::uint8_t>(imf.size()));
    Append(out, imf);
  }
  return out;
}

OathBytes BuildPut(std::uint8_t ins, std::string_view name, OathByteView key, std::uint8_t digits,
                   std::string_view imf) {
  return BuildPut(ins, AsBytes(name), key, digits, AsBytes(imf));
}

OathByteRange PutKeyRange(OathByteView put) {
  // Header (4), Lc, key tag, its length, algorithm, hash, digits: then the key.
  constexpr std::size_t kLcOffset = 4;
  constexpr std::size_t kKeyTagOffset = 5;
  constexpr std::size_t kKeyLengthOffset = 6;
  constexpr std::size_t kKeyOffset = 10;
  constexpr std::size_t kBytesBeforeKeyCountedInTag = 2;  // see BuildPut: the tag length is k + 2
  if (put.size() <= kLcOffset + 1) return {put.size(), 0};
  const OathByteRange everythingAfterLc{kLcOffset + 1, put.size() - kLcOffset - 1};
  if (put.size() < kKeyOffset || put[kKeyTagOffset] != oath::kTagKey ||
      put[kKeyLengthOffset] < kBytesBeforeKeyCountedInTag) {
    return everythingAfterLc;
  }
  const std::size_t count = put[kKeyLengthOffset] - kBytesBeforeKeyCountedInTag;
  if (count > put.size() - kKeyOffset) return everythingAfterLc;
  return {kKeyOffset, count};
}
