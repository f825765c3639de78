#include "keysim/VirtualKey.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <algorithm>
#include <thread>
#include <utility>

#include "BuildConfig.h"
#include "core/SecureBytes.h"
#include "oath/LocalHotp.h"
#include "oath/OathAnswers.h"
#include "oath/OathCommands.h"

namespace {

using Bytes = VirtualKey::Bytes;
using Response = VirtualKey::Response;

constexpr std::uint16_t kSwOk = 0x9000;
constexpr std::uint16_t kSwMemoryFailure = 0x6581;
constexpr std::uint16_t kSwWrongLength = 0x6700;
constexpr std::uint16_t kSwTouchTimeout = 0x6984;
constexpr std::uint16_t kSwNotAllowed = 0x6985;  // no applet selected, nothing to GET RESPONSE
constexpr std::uint16_t kSwWrongData = 0x6A80;
constexpr std::uint16_t kSwNotFound = 0x6A82;
constexpr std::uint16_t kSwStoreFull = 0x6A84;
constexpr std::uint16_t kSwWrongP1P2 = 0x6A86;
constexpr std::uint16_t kSwUnknownIns = 0x6D00;
constexpr std::uint16_t kSwUnknownCla = 0x6E00;
constexpr std::uint16_t kSwNoPreciseDiagnosis = 0x6F00;

constexpr std::uint8_t kInsGetResponse = 0xC0;
constexpr std::uint8_t kInsEnvelope = 0xC2;
constexpr std::size_t kMaxEnvelope = 65544;  // the longest extended command
constexpr std::size_t kShortChunk = 256;
constexpr auto kTouchPoll = std::chrono::milliseconds(10);

// The first eight bytes of the applet-version answer; the version follows in bytes 8 and 9.
constexpr std::uint8_t kAppletVersionPrefix[] = {'T', 'K', 'V', 'O', 'A', 'T', 'H', 0x00};

Response Sw(std::uint16_t sw) { return Response{{}, sw}; }

// Appends to bytes that may hold a secret (a put arriving in ENVELOPE pieces): a growing buffer
// moves to a new block, and the old one is wiped before it is given back.
void AppendWiped(Bytes& to, const Bytes& piece) {
  if (to.size() + piece.size() > to.capacity()) {
    Bytes grown;
    grown.reserve(std::max(2 * to.capacity(), to.size() + piece.size()));
    grown.assign(to.begin(), to.end());
    WipeBuffer(to);
    to.swap(grown);
  }
  to.insert(to.end(), piece.begin(), piece.end());
}

Bytes OathAid() {
  Bytes aid;
  aid.reserve(tokvane::build::kOathRid.size() + std::size(card_os::kOathPix));
  aid.insert(aid.end(), tokvane::build::kOathRid.begin(), tokvane::build::kOathRid.end());
  aid.insert(aid.end(), std::begin(card_os::kOathPix), std::end(card_os::kOathPix));
  return aid;
}

std::uint64_t CounterFromBlock(const HotpCounterBlock& block) {
  std::uint64_t value = 0;
  for (std::uint8_t b : block) value = value << 8 | b;
  return value;
}

HotpCounterBlock BlockFromCounter(std::uint64_t counter) {
  HotpCounterBlock block{};
  for (std::size_t i = block.size(); i-- > 0;) {
    block[i] = static_cast<std::uint8_t>(counter);
    counter >>= 8;
  }
  return block;
}

// Reads one tag-length-value at `offset`; the value must lie inside `data`.
std::optional<Bytes> ReadTlv(const Bytes& data, std::size_t& offset, std::uint8_t tag) {
  if (data.size() - offset < 2 || data[offset] != tag) return std::nullopt;
  const std::size_t length = data[offset + 1];
  if (data.size() - offset - 2 < length) return std::nullopt;
  Bytes value(data.begin() + static_cast<std::ptrdiff_t>(offset + 2),
              data.begin() + static_cast<std::ptrdiff_t>(offset + 2 + length));
  offset += 2 + length;
  return value;
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
  const HotpCounterBlock block = BlockFromCounter(counter);
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

enum class Completeness { Complete, Incomplete, Invalid };

// Whether reassembled ENVELOPE bytes already form one whole command APDU.
Completeness EnvelopedCommand(const Bytes& b) {
  const std::size_t n = b.size();
  if (n < 4) return Completeness::Incomplete;
  if (n <= 5) return Completeness::Complete;
  if (b[4] != 0) {
    const std::size_t lc = b[4];
    if (n == 5 + lc || n == 6 + lc) return Completeness::Complete;
    return n < 5 + lc ? Completeness::Incomplete : Completeness::Invalid;
  }
  if (n < 7) return Completeness::Incomplete;
  if (n == 7) return Completeness::Complete;
  const std::size_t lc = static_cast<std::size_t>(b[5]) << 8 | b[6];
  if (lc == 0) return Completeness::Invalid;
  if (n == 7 + lc || n == 9 + lc) return Completeness::Complete;
  return n < 7 + lc ? Completeness::Incomplete : Completeness::Invalid;
}

}  // namespace

// A command APDU as ISO 7816-4 reads it (short or extended); nothing for a malformed length.
struct VirtualKey::Command {
  std::uint8_t cla = 0;
  std::uint8_t ins = 0;
  std::uint8_t p1 = 0;
  std::uint8_t p2 = 0;
  Bytes data;
  std::optional<std::size_t> le;  // expected answer length, 256 or 65536 for an Le of zero

  Command() = default;
  Command(Command&&) noexcept = default;
  Command& operator=(Command&&) noexcept = default;
  ~Command() { WipeBuffer(data); }  // a put command carries a secret

  static std::optional<Command> From(const Bytes& b) {
    const std::size_t n = b.size();
    if (n < 4) return std::nullopt;
    Command c;
    c.cla = b[0];
    c.ins = b[1];
    c.p1 = b[2];
    c.p2 = b[3];
    if (n == 4) return c;
    if (n == 5) {
      c.le = b[4] == 0 ? 256 : b[4];
      return c;
    }
    std::size_t dataStart = 5;
    std::size_t lc = b[4];
    std::size_t leBytes = 1;
    if (lc == 0) {  // extended length
      if (n < 7) return std::nullopt;
      const std::size_t value = static_cast<std::size_t>(b[5]) << 8 | b[6];
      if (n == 7) {
        c.le = value == 0 ? 65536 : value;
        return c;
      }
      if (value == 0) return std::nullopt;
      lc = value;
      dataStart = 7;
      leBytes = 2;
    }
    if (n != dataStart + lc && n != dataStart + lc + leBytes) return std::nullopt;
    c.data.assign(b.begin() + static_cast<std::ptrdiff_t>(dataStart),
                  b.begin() + static_cast<std::ptrdiff_t>(dataStart + lc));
    if (n == dataStart + lc + leBytes) {
      std::size_t le = b[n - 1];
      if (leBytes == 2) le |= static_cast<std::size_t>(b[n - 2]) << 8;
      c.le = le == 0 ? (leBytes == 2 ? 65536 : 256) : le;
    }
    return c;
  }
};

// 3B, T0 = 06 (no interface bytes, six historical bytes): T=0 only.
const Bytes VirtualKey::kT0Atr = {0x3B, 0x06, 'T', 'K', 'V', 'K', 'E', 'Y'};
// 3B, T0 = 86 (TD1 follows, six historical bytes), TD1 = 01 (T=1), historical bytes, TCK.
const Bytes VirtualKey::kT1Atr = [] {
  Bytes atr = {0x3B, 0x86, 0x01, 'T', 'K', 'V', 'K', 'E', 'Y'};
  std::uint8_t check = 0;
  for (std::size_t i = 1; i < atr.size(); ++i) check ^= atr[i];
  atr.push_back(check);
  return atr;
}();

VirtualKey::VirtualKey(VirtualKeyConfig config) : config_(std::move(config)) {
  store_.interfaceMode = config_.interfaceMode;
  if (!config_.stateFile.empty()) {
    std::string content;
    std::string error;
    switch (ReadStateFile(config_.stateFile, content, error)) {
      case StateFileRead::Loaded:
        if (auto loaded = ParseVirtualKeyStore(content)) {
          store_ = std::move(*loaded);
          persist_ = true;
        } else {
          stateFileError_ = config_.stateFile + " does not hold a virtual key state";
        }
        break;
      case StateFileRead::Missing:
        persist_ = true;
        break;
      case StateFileRead::Failed:
        stateFileError_ = error;
        break;
    }
    OPENSSL_cleanse(content.data(), content.size());
  }
  presentInterfaces_ = store_.interfaceMode;
}

VirtualKey::~VirtualKey() {
  for (auto& apdu : received_) WipeBuffer(apdu);
  DropPending();
  DropEnvelope();
}

VirtualKey::Bytes VirtualKey::Atr() { return config_.useT0 ? kT0Atr : kT1Atr; }

void VirtualKey::PowerOn() {
  std::lock_guard process(processMutex_);
  Deselect();
}

void VirtualKey::PowerOff() {
  std::lock_guard process(processMutex_);
  Deselect();
}

void VirtualKey::Reset() {
  std::lock_guard process(processMutex_);
  Deselect();
}

void VirtualKey::PlugIn() {
  std::lock_guard process(processMutex_);
  Deselect();
  std::lock_guard state(stateMutex_);
  presentInterfaces_ = store_.interfaceMode;
}

void VirtualKey::Deselect() {
  oathSelected_ = false;
  DropPending();
  DropEnvelope();
}

void VirtualKey::DropPending() {
  if (pending_) WipeBuffer(pending_->data);
  pending_.reset();
}

void VirtualKey::DropEnvelope() {
  if (envelope_) WipeBuffer(*envelope_);
  envelope_.reset();
}

VirtualKey::Bytes VirtualKey::ProcessApdu(const Bytes& bytes) {
  std::lock_guard process(processMutex_);
  Record(bytes);
  const auto command = Command::From(bytes);
  if (command && config_.useT0 && command->ins == kInsGetResponse && command->cla == card_os::kClaIso) {
    return ServeGetResponse(*command);
  }
  DropPending();
  if (!command) return {0x67, 0x00};
  if (command->ins == kInsEnvelope) return ServeEnvelope(*command);
  DropEnvelope();
  return Deliver(*command, Dispatch(*command));
}

void VirtualKey::Record(const Bytes& command) {
  std::lock_guard state(stateMutex_);
  received_.push_back(command);
  while (received_.size() > config_.receivedLogLimit) {
    WipeBuffer(received_.front());
    received_.pop_front();
  }
}

VirtualKey::Bytes VirtualKey::Deliver(const Command& command, Response response) {
  Bytes out;
  // Under T=0 only a command that announced an answer length (and sent no data) gets its data at
  // once; every other answer with data waits for GET RESPONSE behind 61 xx.
  std::size_t direct = response.data.size();
  if (config_.useT0) {
    direct = (command.le && command.data.empty()) ? std::min(*command.le, response.data.size()) : 0;
  }
  out.assign(response.data.begin(), response.data.begin() + static_cast<std::ptrdiff_t>(direct));
  const std::size_t remaining = response.data.size() - direct;
  if (remaining == 0) {
    out.push_back(static_cast<std::uint8_t>(response.sw >> 8));
    out.push_back(static_cast<std::uint8_t>(response.sw));
    WipeBuffer(response.data);
    return out;
  }
  out.push_back(0x61);
  out.push_back(static_cast<std::uint8_t>(remaining >= kShortChunk ? 0 : remaining));
  pendingOffset_ = direct;
  pending_ = std::move(response);
  return out;
}

VirtualKey::Bytes VirtualKey::ServeGetResponse(const Command& command) {
  if (!pending_) return {0x69, 0x85};
  if (command.p1 != 0 || command.p2 != 0) return {0x6A, 0x86};
  if (!command.data.empty()) return {0x67, 0x00};
  const std::size_t available = pending_->data.size() - pendingOffset_;
  const std::size_t count = std::min(command.le.value_or(kShortChunk), available);
  const auto begin = pending_->data.begin() + static_cast<std::ptrdiff_t>(pendingOffset_);
  Bytes out(begin, begin + static_cast<std::ptrdiff_t>(count));
  pendingOffset_ += count;
  const std::size_t remaining = available - count;
  if (remaining != 0) {
    out.push_back(0x61);
    out.push_back(static_cast<std::uint8_t>(remaining >= kShortChunk ? 0 : remaining));
    return out;
  }
  out.push_back(static_cast<std::uint8_t>(pending_->sw >> 8));
  out.push_back(static_cast<std::uint8_t>(pending_->sw));
  DropPending();
  return out;
}

VirtualKey::Bytes VirtualKey::ServeEnvelope(const Command& command) {
  if (!envelope_) envelope_.emplace();
  if (envelope_->size() + command.data.size() > kMaxEnvelope) {
    DropEnvelope();
    return {0x67, 0x00};
  }
  AppendWiped(*envelope_, command.data);
  switch (EnvelopedCommand(*envelope_)) {
    case Completeness::Incomplete:
      return {0x90, 0x00};
    case Completeness::Invalid:
      DropEnvelope();
      return {0x67, 0x00};
    case Completeness::Complete:
      break;
  }
  const auto inner = Command::From(*envelope_);
  DropEnvelope();
  if (!inner) return {0x67, 0x00};
  return Deliver(*inner, Dispatch(*inner));
}

Response VirtualKey::Dispatch(const Command& command) {
  using Handler = Response (VirtualKey::*)(const Command&);
  struct Route {
    std::uint8_t cla;
    std::uint8_t ins;
    bool needsOath;
    Handler handler;
  };
  static const Route kRoutes[] = {
      {card_os::kClaIso, card_os::kInsSelect, false, &VirtualKey::Select},
      {card_os::kClaProprietary, card_os::kInsCosCommand, false, &VirtualKey::CosCommand},
      {card_os::kClaProprietary, card_os::kInsSetInterfaceMode, false, &VirtualKey::SetInterfaceMode},
      {card_os::kClaProprietary, oath::kInsAppletVersion, true, &VirtualKey::AppletVersion},
      {card_os::kClaIso, oath::kInsPut, true, &VirtualKey::Put},
      {card_os::kClaIso, oath::kInsList, true, &VirtualKey::List},
      {card_os::kClaIso, oath::kInsCalculate, true, &VirtualKey::Calculate},
      {card_os::kClaIso, oath::kInsDelete, true, &VirtualKey::Delete},
      {card_os::kClaIso, oath::kInsSetDefault, true, &VirtualKey::SetDefault},
      {card_os::kClaIso, oath::kInsGetDefault, true, &VirtualKey::GetDefault},
      {card_os::kClaIso, oath::kInsReset, true, &VirtualKey::ResetApplet},
  };
  bool insKnown = false;
  for (const Route& route : kRoutes) {
    if (route.ins != command.ins) continue;
    insKnown = true;
    if (route.cla != command.cla) continue;
    if (route.needsOath && !oathSelected_) return Sw(kSwNotAllowed);
    return (this->*route.handler)(command);
  }
  return Sw(insKnown ? kSwUnknownCla : kSwUnknownIns);
}

Response VirtualKey::Select(const Command& command) {
  if (command.p1 != 0x04 || command.p2 != 0x00) return Sw(kSwWrongP1P2);
  if (command.data.empty()) return Sw(kSwWrongLength);
  static const Bytes kOathAid = OathAid();
  static const Bytes kFido(std::begin(card_os::kFidoAid), std::end(card_os::kFidoAid));
  if (command.data == kOathAid) {
    oathSelected_ = true;
    return Sw(kSwOk);
  }
  if (command.data == kFido) {
    oathSelected_ = false;
    return Sw(kSwOk);
  }
  return Sw(kSwNotFound);  // the current selection stays
}

Response VirtualKey::CosCommand(const Command& command) {
  if (command.p2 != 0x00) return Sw(kSwWrongP1P2);
  if (command.p1 == 0x01) return Sw(kSwOk);
  if (command.p1 != 0x00) return Sw(kSwWrongP1P2);
  if (!command.data.empty()) return Sw(kSwWrongLength);
  std::lock_guard state(stateMutex_);
  return Response{Bytes(config_.cosVersion.begin(), config_.cosVersion.end()), kSwOk};
}

Response VirtualKey::SetInterfaceMode(const Command& command) {
  if (command.p1 != 0xFF || command.p2 != 0x00) return Sw(kSwWrongP1P2);
  if (command.data.size() != 1) return Sw(kSwWrongLength);
  const std::uint8_t mode = command.data[0];
  // No other bits, and at least one interface: a key presenting none could never be reached again.
  if (mode == 0 || (mode & ~card_os::kInterfaceAll) != 0) return Sw(kSwWrongData);
  if (!AwaitTouch()) return Sw(kSwTouchTimeout);

  VirtualKeyStore updated = SnapshotStore();
  updated.interfaceMode = mode;
  if (!Commit(std::move(updated))) return Sw(kSwMemoryFailure);
  std::function<void(std::uint8_t)> hook;
  {
    std::lock_guard state(stateMutex_);
    hook = modeChangedHook_;
  }
  if (hook) hook(mode);
  return Sw(kSwOk);
}

Response VirtualKey::AppletVersion(const Command& command) {
  if (command.p1 != 0x80 || command.p2 != 0x00) return Sw(kSwWrongP1P2);
  if (command.data.empty()) return Sw(kSwWrongLength);
  if (!std::equal(command.data.begin(), command.data.end(), std::begin(oath::kAppletVersionQuery),
                  std::end(oath::kAppletVersionQuery))) {
    return Sw(kSwWrongData);
  }
  Response response{Bytes(std::begin(kAppletVersionPrefix), std::end(kAppletVersionPrefix)), kSwOk};
  response.data.insert(response.data.end(), config_.appletVersion.begin(), config_.appletVersion.end());
  return response;
}

Response VirtualKey::Put(const Command& command) {
  if (command.p1 != 0x00 || command.p2 != 0x00) return Sw(kSwWrongP1P2);
  const Bytes& data = command.data;
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
  const std::string_view imfText(reinterpret_cast<const char*>(imf.data()), imf.size());
  credential.counter = CounterFromBlock(BuildHotpCounterBlock(imfText, 0));

  VirtualKeyStore updated = SnapshotStore();
  VirtualKeyCredential* existing = updated.Find(credential.name);
  if (existing == nullptr && updated.credentials.size() >= config_.capacity) return Sw(kSwStoreFull);
  if (!AwaitTouch()) return Sw(kSwTouchTimeout);

  if (existing != nullptr) {
    // Rewriting keeps the credential's place and the default.
    *existing = std::move(credential);
  } else {
    // A new credential becomes the default.
    updated.defaultName = credential.name;
    updated.credentials.push_back(std::move(credential));
  }
  return Commit(std::move(updated)) ? Sw(kSwOk) : Sw(kSwMemoryFailure);
}

Response VirtualKey::List(const Command& command) {
  if (command.p1 != 0x00 || command.p2 != 0x00) return Sw(kSwWrongP1P2);
  if (!command.data.empty()) return Sw(kSwWrongLength);
  Response response;
  std::lock_guard state(stateMutex_);
  for (const auto& credential : store_.credentials) {
    response.data.push_back(kListEntryTag);
    response.data.push_back(static_cast<std::uint8_t>(credential.name.size() + 1));
    response.data.push_back(credential.digits);  // the kind byte: the key's own choice
    response.data.insert(response.data.end(), credential.name.begin(), credential.name.end());
  }
  return response;
}

Response VirtualKey::Calculate(const Command& command) {
  if (command.p1 != 0x01 || command.p2 != 0x00) return Sw(kSwWrongP1P2);
  const Bytes& data = command.data;
  if (data.empty()) return Sw(kSwWrongLength);
  std::size_t offset = 0;
  auto challenge = ReadTlv(data, offset, oath::kTagChallenge);
  auto name = challenge ? ReadTlv(data, offset, oath::kTagName) : std::nullopt;
  if (!name || name->empty() || offset != data.size()) return Sw(kSwWrongData);
  // Event-based credentials count their own events; they take no challenge.
  if (!challenge->empty()) return Sw(kSwWrongData);

  VirtualKeyStore updated = SnapshotStore();
  VirtualKeyCredential* credential = updated.Find(*name);
  if (credential == nullptr) return Sw(kSwNotFound);
  if (!AwaitTouch()) return Sw(kSwTouchTimeout);

  const auto value = TruncatedHotp(credential->secret, credential->counter);
  if (!value) return Sw(kSwNoPreciseDiagnosis);
  ++credential->counter;
  const std::uint8_t digits = credential->digits;
  if (!Commit(std::move(updated))) return Sw(kSwMemoryFailure);
  return Response{{kCalculateAnswerTag, 0x05, digits, static_cast<std::uint8_t>(*value >> 24),
                   static_cast<std::uint8_t>(*value >> 16), static_cast<std::uint8_t>(*value >> 8),
                   static_cast<std::uint8_t>(*value)},
                  kSwOk};
}

Response VirtualKey::Delete(const Command& command) {
  if (command.p1 != 0x00 || command.p2 != 0x00) return Sw(kSwWrongP1P2);
  if (command.data.empty()) return Sw(kSwWrongLength);
  const auto name = ReadNameBody(command.data);
  if (!name) return Sw(kSwWrongData);
  VirtualKeyStore updated = SnapshotStore();
  if (updated.Find(*name) == nullptr) return Sw(kSwNotFound);
  if (!AwaitTouch()) return Sw(kSwTouchTimeout);
  updated.Remove(*name);
  return Commit(std::move(updated)) ? Sw(kSwOk) : Sw(kSwMemoryFailure);
}

Response VirtualKey::SetDefault(const Command& command) {
  if (command.p1 != 0x00 || command.p2 != 0x00) return Sw(kSwWrongP1P2);
  if (command.data.empty()) return Sw(kSwWrongLength);
  const auto name = ReadNameBody(command.data);
  if (!name) return Sw(kSwWrongData);
  VirtualKeyStore updated = SnapshotStore();
  if (updated.Find(*name) == nullptr) return Sw(kSwNotFound);
  if (!AwaitTouch()) return Sw(kSwTouchTimeout);
  updated.defaultName = *name;
  return Commit(std::move(updated)) ? Sw(kSwOk) : Sw(kSwMemoryFailure);
}

Response VirtualKey::GetDefault(const Command& command) {
  if (command.p1 != 0x00 || command.p2 != 0x00) return Sw(kSwWrongP1P2);
  if (!command.data.empty()) return Sw(kSwWrongLength);
  std::lock_guard state(stateMutex_);
  return Response{store_.defaultName.value_or(Bytes{}), kSwOk};
}

Response VirtualKey::ResetApplet(const Command& command) {
  if (command.p1 != 0x00 || command.p2 != 0x00) return Sw(kSwWrongP1P2);
  if (!command.data.empty()) return Sw(kSwWrongLength);
  if (!AwaitTouch()) return Sw(kSwTouchTimeout);
  // A reset keeps only the interface mode: a store built afresh has no credential and no default.
  VirtualKeyStore updated;
  updated.interfaceMode = SnapshotStore().interfaceMode;
  return Commit(std::move(updated)) ? Sw(kSwOk) : Sw(kSwMemoryFailure);
}

bool VirtualKey::AwaitTouch() {
  TouchMode mode;
  std::function<bool()> callback;
  std::chrono::milliseconds window;
  {
    std::lock_guard state(stateMutex_);
    if (!CosVersionNeedsTouch(config_.cosVersion[0], config_.cosVersion[1])) return true;
    mode = config_.touch;
    callback = config_.touchCallback;
    window = config_.touchWindow;
  }
  ++touchRequests_;
  if (mode == TouchMode::Always) return true;
  const auto deadline = std::chrono::steady_clock::now() + window;
  if (mode == TouchMode::Never || !callback) {
    std::this_thread::sleep_until(deadline);
    return false;
  }
  for (;;) {
    const bool touched = callback();
    const auto now = std::chrono::steady_clock::now();
    if (touched) return now <= deadline;  // a touch after the window does not count
    if (now >= deadline) return false;
    std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(kTouchPoll, deadline - now));
  }
}

VirtualKeyStore VirtualKey::SnapshotStore() const {
  std::lock_guard state(stateMutex_);
  return store_;
}

bool VirtualKey::Commit(VirtualKeyStore updated) {
  bool persist;
  {
    std::lock_guard state(stateMutex_);
    persist = persist_;
  }
  if (persist) {
    std::string text = SerializeVirtualKeyStore(updated);
    std::string error;
    const bool written = WriteStateFileAtomically(config_.stateFile, text, error);
    OPENSSL_cleanse(text.data(), text.size());
    if (!written) {
      std::lock_guard state(stateMutex_);
      stateFileError_ = error;
      return false;
    }
  }
  std::lock_guard state(stateMutex_);
  store_ = std::move(updated);
  if (persist) stateFileError_.clear();
  return true;
}

std::uint8_t VirtualKey::PresentInterfaces() const {
  std::lock_guard state(stateMutex_);
  return presentInterfaces_;
}

std::uint8_t VirtualKey::StoredInterfaceMode() const {
  std::lock_guard state(stateMutex_);
  return store_.interfaceMode;
}

std::vector<VirtualCredentialState> VirtualKey::Credentials() const {
  std::lock_guard state(stateMutex_);
  std::vector<VirtualCredentialState> result;
  for (const auto& credential : store_.credentials) {
    result.push_back({credential.name, credential.counter, credential.digits,
                      store_.defaultName && *store_.defaultName == credential.name});
  }
  return result;
}

std::vector<VirtualKey::Bytes> VirtualKey::ReceivedApdus() const {
  std::lock_guard state(stateMutex_);
  return {received_.begin(), received_.end()};
}

void VirtualKey::ClearReceivedApdus() {
  std::lock_guard state(stateMutex_);
  for (auto& apdu : received_) WipeBuffer(apdu);
  received_.clear();
}

bool VirtualKey::IsOathSelected() const { return oathSelected_; }

int VirtualKey::TouchRequests() const { return touchRequests_; }

void VirtualKey::SetCosVersion(const std::array<std::uint8_t, 3>& version) {
  std::lock_guard state(stateMutex_);
  config_.cosVersion = version;
}

void VirtualKey::SetTouchSource(TouchMode mode, std::function<bool()> callback) {
  std::lock_guard state(stateMutex_);
  config_.touch = mode;
  config_.touchCallback = std::move(callback);
}

void VirtualKey::SetTouchWindow(std::chrono::milliseconds window) {
  std::lock_guard state(stateMutex_);
  config_.touchWindow = window;
}

void VirtualKey::SetModeChangedHook(std::function<void(std::uint8_t)> hook) {
  std::lock_guard state(stateMutex_);
  modeChangedHook_ = std::move(hook);
}

std::string VirtualKey::StateFileError() const {
  std::lock_guard state(stateMutex_);
  return stateFileError_;
}
