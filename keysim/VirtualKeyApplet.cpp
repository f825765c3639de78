#include "keysim/VirtualKeyApplet.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <algorithm>
#include <array>
#include <optional>
#include <string_view>
#include <utility>

#include "BuildConfig.h"
#include "device/CardOsCommands.h"
#include "keysim/ReceivedCommand.h"
#include "oath/OathCommands.h"

namespace {

using Bytes = VirtualKeyApplet::Bytes;
using Response = VirtualKeyApplet::Response;

constexpr std::uint16_t kSwOk = 0x9000;
constexpr std::uint16_t kSwMemoryFailure = 0x6581;
constexpr std::uint16_t kSwWrongLength = 0x6700;
constexpr std::uint16_t kSwTouchTimeout = 0x6984;
constexpr std::uint16_t kSwNotAllowed = 0x6985;  // no applet selected
constexpr std::uint16_t kSwWrongData = 0x6A80;
constexpr std::uint16_t kSwNotFound = 0x6A82;
constexpr std::uint16_t kSwStoreFull = 0x6A84;
constexpr std::uint16_t kSwWrongP1P2 = 0x6A86;
constexpr std::uint16_t kSwUnknownIns = 0x6D00;
constexpr std::uint16_t kSwUnknownCla = 0x6E00;
constexpr std::uint16_t kSwNoPreciseDiagnosis = 0x6F00;

// The first eight bytes of the applet-version answer; the version follows in bytes 8 and 9.
constexpr std::uint8_t kAppletVersionPrefix[] = {'T', 'K', 'V', 'O', 'A', 'T', 'H', 0x00};

Bytes OathAid() {
  Bytes aid;
  aid.reserve(tokvane::build::kOathRid.size() + std::size(card_os::kOathPix));
  aid.insert(aid.end(), tokvane::build::kOathRid.begin(), tokvane::build::kOathRid.end());
  aid.insert(aid.end(), std::begin(card_os::kOathPix), std::end(card_os::kOathPix));
  return aid;
}

// The key keeps its own HOTP arithmetic, apart from the desktop program's, so a test that compares
// the two compares two computations. The 8-byte moving factor, big-endian.
using CounterBlock = std::array<std::uint8_t, 8>;
// At most this many bytes of the initial moving factor count: the low half of the counter.
constexpr std::size_t kImfBytes = 4;

// The counter a credential starts at: its IMF bytes, big-endian, as the counter's low four bytes
// (missing bytes are zero, so "12 34" starts at 0x12340000).
std::uint64_t InitialCounter(const Bytes& imf) {
  std::uint64_t value = 0;
  for (std::size_t i = 0; i < kImfBytes; ++i) value = value << 8 | (i < imf.size() ? imf[i] : 0u);
  return value;
}

CounterBlock BlockFromCounter(std::uint64_t counter) {
  CounterBlock block{};
  for (std::size_t i = block.size(); i-- > 0;) {
    block[i] = static_cast<std::uint8_t>(counter);
    counter >>= 8;
  }
  return block;
}

// A body that is exactly one name TLV (delete, set default).
std::optional<Bytes> ReadNameBody(const Bytes& data) {
  std::size_t offset = 0;
  auto name = ReadTlv(data, offset, oath::kTagName);
  if (!name || name->empty() || offset != data.size()) return std::nullopt;
  return name;
}

// The truncated HOTP value (RFC 4226) of the secret at `counter`, through OpenSSL's own HMAC.
std::optional<std::uint32_t> TruncatedHotp(const Bytes& secret, std::uint64_t counter) {
  const CounterBlock block = BlockFromCounter(counter);
  static const std::uint8_t kNoKey = 0;
  std::uint8_t mac[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (HMAC(EVP_sha1(), secret.empty() ? &kNoKey : secret.data(), static_cast<int>(secret.size()),
           block.data(), block.size(), mac, &length) == nullptr ||
      length != 20) {
    return std::nullopt;
  }
  const unsigned offset = mac[19] & 0x0F;
  const std::uint32_t value = ((mac[offset] & 0x7Fu) << 24) | (std::uint32_t{mac[offset + 1]} << 16) |
                              (std::uint32_t{mac[offset + 2]} << 8) | mac[offset + 3];
  OPENSSL_cleanse(mac, sizeof mac);
  return value;
}

Response Sw(std::uint16_t sw) { return Response{{}, sw}; }

}  // namespace

VirtualKeyApplet::VirtualKeyApplet(Host& host, std::array<std::uint8_t, 2> appletVersion, std::size_t capacity)
    : host_(host), appletVersion_(appletVersion), capacity_(capacity) {}

bool VirtualKeyApplet::IsOathSelected() const { return oathSelected_; }

void VirtualKeyApplet::Deselect() { oathSelected_ = false; }

VirtualKeyApplet::Response VirtualKeyApplet::Process(const CApduCommand& command) {
  using Handler = Response (VirtualKeyApplet::*)(const CApduCommand&);
  struct Route {
    std::uint8_t cla;
    std::uint8_t ins;
    bool needsOath;
    Handler handler;
  };
  static const Route kRoutes[] = {
      {card_os::kClaIso, card_os::kInsSelect, false, &VirtualKeyApplet::Select},
      {card_os::kClaProprietary, card_os::kInsCosCommand, false, &VirtualKeyApplet::CosCommand},
      {card_os::kClaProprietary, card_os::kInsSetInterfaceMode, false, &VirtualKeyApplet::SetInterfaceMode},
      {card_os::kClaProprietary, oath::kInsAppletVersion, true, &VirtualKeyApplet::AppletVersion},
      {card_os::kClaIso, oath::kInsPut, true, &VirtualKeyApplet::Put},
      {card_os::kClaIso, oath::kInsList, true, &VirtualKeyApplet::List},
      {card_os::kClaIso, oath::kInsCalculate, true, &VirtualKeyApplet::Calculate},
      {card_os::kClaIso, oath::kInsDelete, true, &VirtualKeyApplet::Delete},
      {card_os::kClaIso, oath::kInsSetDefault, true, &VirtualKeyApplet::SetDefault},
      {card_os::kClaIso, oath::kInsGetDefault, true, &VirtualKeyApplet::GetDefault},
      {card_os::kClaIso, oath::kInsReset, true, &VirtualKeyApplet::ResetApplet},
  };
  bool insKnown = false;
  for (const Route& route : kRoutes) {
    if (route.ins != command.Ins) continue;
    insKnown = true;
    if (route.cla != command.Cla) continue;
    if (route.needsOath && !oathSelected_) return Sw(kSwNotAllowed);
    return (this->*route.handler)(command);
  }
  return Sw(insKnown ? kSwUnknownCla : kSwUnknownIns);
}

VirtualKeyApplet::Response VirtualKeyApplet::Select(const CApduCommand& command) {
  if (command.P1 != 0x04 || command.P2 != 0x00) return Sw(kSwWrongP1P2);
  if (command.Data.empty()) return Sw(kSwWrongLength);
  static const Bytes kOathAid = OathAid();
  static const Bytes kFido(std::begin(card_os::kFidoAid), std::end(card_os::kFidoAid));
  if (command.Data == kOathAid) {
    oathSelected_ = true;
    return Sw(kSwOk);
  }
  if (command.Data == kFido) {
    oathSelected_ = false;
    return Sw(kSwOk);
  }
  return Sw(kSwNotFound);  // the current selection stays
}

VirtualKeyApplet::Response VirtualKeyApplet::CosCommand(const CApduCommand& command) {
  if (command.P2 != 0x00) return Sw(kSwWrongP1P2);
  if (command.P1 == 0x01) return Sw(kSwOk);
  if (command.P1 != 0x00) return Sw(kSwWrongP1P2);
  if (!command.Data.empty()) return Sw(kSwWrongLength);
  const std::array<std::uint8_t, 3> version = host_.CosVersion();
  return Response{Bytes(version.begin(), version.end()), kSwOk};
}

VirtualKeyApplet::Response VirtualKeyApplet::SetInterfaceMode(const CApduCommand& command) {
  if (command.P1 != 0xFF || command.P2 != 0x00) return Sw(kSwWrongP1P2);
  if (command.Data.size() != 1) return Sw(kSwWrongLength);
  const std::uint8_t mode = command.Data[0];
  // No other bits, and at least one interface: a key presenting none could never be reached again.
  if (mode == 0 || (mode & ~card_os::kInterfaceAll) != 0) return Sw(kSwWrongData);
  if (!host_.AwaitTouch()) return Sw(kSwTouchTimeout);

  VirtualKeyStore updated = host_.SnapshotStore();
  updated.interfaceMode = mode;
  if (!host_.Commit(std::move(updated))) return Sw(kSwMemoryFailure);
  host_.InterfaceModeStored(mode);
  return Sw(kSwOk);
}

VirtualKeyApplet::Response VirtualKeyApplet::AppletVersion(const CApduCommand& command) {
  if (command.P1 != 0x80 || command.P2 != 0x00) return Sw(kSwWrongP1P2);
  if (command.Data.empty()) return Sw(kSwWrongLength);
  if (!std::equal(command.Data.begin(), command.Data.end(), std::begin(oath::kAppletVersionQuery),
                  std::end(oath::kAppletVersionQuery))) {
    return Sw(kSwWrongData);
  }
  Response response{Bytes(std::begin(kAppletVersionPrefix), std::end(kAppletVersionPrefix)), kSwOk};
  response.data.insert(response.data.end(), appletVersion_.begin(), appletVersion_.end());
  return response;
}

VirtualKeyApplet::Response VirtualKeyApplet::Put(const CApduCommand& command) {
  if (command.P1 != 0x00 || command.P2 != 0x00) return Sw(kSwWrongP1P2);
  const Bytes& data = command.Data;
  if (data.empty()) return Sw(kSwWrongLength);

  // 53, k + 2, 01, 10, digits, key (k bytes), 51, n, name, and optionally 5A, m, imf.
  if (data.size() < 5 || data[0] != oath::kTagKey || data[1] < 2) return Sw(kSwWrongData);
  const std::size_t keyLength = data[1] - 2u;
  if (data.size() < 5 + keyLength) return Sw(kSwWrongData);
  if (data[2] != oath::kPutAlgorithm || data[3] != oath::kPutHash) return Sw(kSwWrongData);
  VirtualKeyCredential credential;
  credential.digits = data[4];
  if (credential.digits != 6 && credential.digits != 8) return Sw(kSwWrongData);
  credential.secret.assign(data.begin() + 5, data.begin() + static_cast<std::ptrdiff_t>(5 + keyLength));
  std::size_t offset = 5 + keyLength;
  auto name = ReadTlv(data, offset, oath::kTagName);
  if (!name || name->empty()) return Sw(kSwWrongData);
  credential.name = std::move(*name);
  Bytes imf;
  if (offset < data.size()) {
    auto value = ReadTlv(data, offset, oath::kTagImf);
    if (!value) return Sw(kSwWrongData);
    imf = std::move(*value);
  }
  if (offset != data.size()) return Sw(kSwWrongData);
  credential.counter = InitialCounter(imf);

  VirtualKeyStore updated = host_.SnapshotStore();
  VirtualKeyCredential* existing = updated.Find(credential.name);
  if (existing == nullptr && updated.credentials.size() >= capacity_) return Sw(kSwStoreFull);
  if (!host_.AwaitTouch()) return Sw(kSwTouchTimeout);

  if (existing != nullptr) {
    // Rewriting keeps the credential's place and the default.
    *existing = std::move(credential);
  } else {
    // A new credential becomes the default.
    updated.defaultName = credential.name;
    updated.credentials.push_back(std::move(credential));
  }
  return host_.Commit(std::move(updated)) ? Sw(kSwOk) : Sw(kSwMemoryFailure);
}

VirtualKeyApplet::Response VirtualKeyApplet::List(const CApduCommand& command) {
  if (command.P1 != 0x00 || command.P2 != 0x00) return Sw(kSwWrongP1P2);
  if (!command.Data.empty()) return Sw(kSwWrongLength);
  Response response;
  const VirtualKeyStore store = host_.SnapshotStore();
  for (const auto& credential : store.credentials) {
    response.data.push_back(kListEntryTag);
    response.data.push_back(static_cast<std::uint8_t>(credential.name.size() + 1));
    response.data.push_back(credential.digits);  // the kind byte: the key's own choice
    response.data.insert(response.data.end(), credential.name.begin(), credential.name.end());
  }
  return response;
}

VirtualKeyApplet::Response VirtualKeyApplet::Calculate(const CApduCommand& command) {
  if (command.P1 != 0x01 || command.P2 != 0x00) return Sw(kSwWrongP1P2);
  const Bytes& data = command.Data;
  if (data.empty()) return Sw(kSwWrongLength);
  std::size_t offset = 0;
  auto challenge = ReadTlv(data, offset, oath::kTagChallenge);
  auto name = challenge ? ReadTlv(data, offset, oath::kTagName) : std::nullopt;
  if (!name || name->empty() || offset != data.size()) return Sw(kSwWrongData);
  // Event-based credentials count their own events; they take no challenge.
  if (!challenge->empty()) return Sw(kSwWrongData);

  VirtualKeyStore updated = host_.SnapshotStore();
  VirtualKeyCredential* credential = updated.Find(*name);
  if (credential == nullptr) return Sw(kSwNotFound);
  if (!host_.AwaitTouch()) return Sw(kSwTouchTimeout);

  const auto value = TruncatedHotp(credential->secret, credential->counter);
  if (!value) return Sw(kSwNoPreciseDiagnosis);
  ++credential->counter;
  const std::uint8_t digits = credential->digits;
  if (!host_.Commit(std::move(updated))) return Sw(kSwMemoryFailure);
  return Response{{kCalculateAnswerTag, 0x05, digits, static_cast<std::uint8_t>(*value >> 24),
                   static_cast<std::uint8_t>(*value >> 16), static_cast<std::uint8_t>(*value >> 8),
                   static_cast<std::uint8_t>(*value)},
                  kSwOk};
}

VirtualKeyApplet::Response VirtualKeyApplet::ChangeNamedCredential(
    const CApduCommand& command, const std::function<void(VirtualKeyStore&, const Bytes&)>& change) {
  if (command.P1 != 0x00 || command.P2 != 0x00) return Sw(kSwWrongP1P2);
  if (command.Data.empty()) return Sw(kSwWrongLength);
  const auto name = ReadNameBody(command.Data);
  if (!name) return Sw(kSwWrongData);
  VirtualKeyStore updated = host_.SnapshotStore();
  if (updated.Find(*name) == nullptr) return Sw(kSwNotFound);
  if (!host_.AwaitTouch()) return Sw(kSwTouchTimeout);
  change(updated, *name);
  return host_.Commit(std::move(updated)) ? Sw(kSwOk) : Sw(kSwMemoryFailure);
}

VirtualKeyApplet::Response VirtualKeyApplet::Delete(const CApduCommand& command) {
  return ChangeNamedCredential(command, [](VirtualKeyStore& store, const Bytes& name) { store.Remove(name); });
}

VirtualKeyApplet::Response VirtualKeyApplet::SetDefault(const CApduCommand& command) {
  return ChangeNamedCredential(command,
                               [](VirtualKeyStore& store, const Bytes& name) { store.defaultName = name; });
}

VirtualKeyApplet::Response VirtualKeyApplet::GetDefault(const CApduCommand& command) {
  if (command.P1 != 0x00 || command.P2 != 0x00) return Sw(kSwWrongP1P2);
  if (!command.Data.empty()) return Sw(kSwWrongLength);
  return Response{host_.SnapshotStore().defaultName.value_or(Bytes{}), kSwOk};
}

VirtualKeyApplet::Response VirtualKeyApplet::ResetApplet(const CApduCommand& command) {
  if (command.P1 != 0x00 || command.P2 != 0x00) return Sw(kSwWrongP1P2);
  if (!command.Data.empty()) return Sw(kSwWrongLength);
  if (!host_.AwaitTouch()) return Sw(kSwTouchTimeout);
  // A reset keeps only the interface mode: a store built afresh has no credential and no default.
  VirtualKeyStore updated;
  updated.interfaceMode = host_.SnapshotStore().interfaceMode;
  return host_.Commit(std::move(updated)) ? Sw(kSwOk) : Sw(kSwMemoryFailure);
}
