#include "keysim/VirtualPcscApi.h"

#include <PCSC/pcsclite.h>
#include <openssl/crypto.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <optional>

namespace {

constexpr std::size_t kMaxCommand = MAX_BUFFER_SIZE_EXTENDED;

// Protocols the ATR offers (SCARD_PROTOCOL_T0 / _T1 bits) and the first one it names, which a
// reader uses when the caller accepts it. No TD1 means T=0 only.
struct AtrProtocols {
  DWORD offered = 0;
  DWORD first = 0;
};

AtrProtocols ReadAtrProtocols(const std::vector<BYTE>& atr) {
  AtrProtocols result;
  if (atr.size() >= 2) {
    unsigned indicators = atr[1] >> 4;
    std::size_t index = 2;
    for (;;) {
      index += (indicators & 1u) + ((indicators >> 1) & 1u) + ((indicators >> 2) & 1u);
      if ((indicators & 8u) == 0 || index >= atr.size()) break;
      const BYTE td = atr[index++];
      const unsigned t = td & 0x0Fu;
      const DWORD protocol = t == 0 ? SCARD_PROTOCOL_T0 : t == 1 ? SCARD_PROTOCOL_T1 : 0;
      result.offered |= protocol;
      if (result.first == 0) result.first = protocol;
      indicators = td >> 4;
    }
  }
  if (result.offered == 0) result.offered = result.first = SCARD_PROTOCOL_T0;
  return result;
}

std::optional<DWORD> ChooseProtocol(const AtrProtocols& atr, DWORD preferred) {
  if ((preferred & atr.first) != 0) return atr.first;
  for (DWORD protocol : {static_cast<DWORD>(SCARD_PROTOCOL_T0), static_cast<DWORD>(SCARD_PROTOCOL_T1)}) {
    if ((preferred & protocol) != 0 && (atr.offered & protocol) != 0) return protocol;
  }
  return std::nullopt;
}

}  // namespace

bool VirtualPcscApi::AddReader(const std::string& name) {
  std::lock_guard lock(mutex_);
  if (name.empty() || name == kPnpNotification || FindSlot(name) != nullptr) return false;
  readers_.push_back(Slot{name, nullptr, {}, 0, 0, false});
  ++readerListChanges_;
  changed_.notify_all();
  return true;
}

bool VirtualPcscApi::RemoveReader(const std::string& name) {
  std::shared_ptr<VirtualCard> card;
  {
    std::lock_guard lock(mutex_);
    auto it = std::find_if(readers_.begin(), readers_.end(), [&](const Slot& s) { return s.name == name; });
    if (it == readers_.end()) return false;
    card = std::move(it->card);
    readers_.erase(it);
    ++readerListChanges_;
    changed_.notify_all();
  }
  if (card) card->PowerOff();
  return true;
}

bool VirtualPcscApi::InsertCard(const std::string& reader, std::shared_ptr<VirtualCard> card) {
  if (!card) return false;
  std::vector<BYTE> atr = card->Atr();  // read outside the lock: cards guard themselves
  std::lock_guard lock(mutex_);
  Slot* slot = FindSlot(reader);
  if (slot == nullptr || slot->card) return false;
  slot->card = std::move(card);
  slot->atr = std::move(atr);
  slot->insertion = nextInsertion_++;
  ++slot->events;
  slot->powered = false;
  changed_.notify_all();
  return true;
}

bool VirtualPcscApi::RemoveCard(const std::string& reader) {
  std::shared_ptr<VirtualCard> card;
  bool powered = false;
  {
    std::lock_guard lock(mutex_);
    Slot* slot = FindSlot(reader);
    if (slot == nullptr || !slot->card) return false;
    card = std::move(slot->card);
    slot->card.reset();
    slot->atr.clear();
    powered = slot->powered;
    slot->powered = false;
    ++slot->events;
    changed_.notify_all();
  }
  if (powered) card->PowerOff();
  return true;
}

std::vector<std::string> VirtualPcscApi::ReaderNames() const {
  std::lock_guard lock(mutex_);
  std::vector<std::string> names;
  for (const auto& slot : readers_) names.push_back(slot.name);
  return names;
}

VirtualPcscApi::Slot* VirtualPcscApi::FindSlot(const std::string& name) {
  auto it = std::find_if(readers_.begin(), readers_.end(), [&](const Slot& s) { return s.name == name; });
  return it == readers_.end() ? nullptr : &*it;
}

LONG VirtualPcscApi::CheckHandle(SCARDHANDLE card, Slot** slot, Handle** handle) {
  auto it = handles_.find(card);
  if (it == handles_.end()) return SCARD_E_INVALID_HANDLE;
  *handle = &it->second;
  *slot = FindSlot(it->second.reader);
  if (*slot == nullptr) return SCARD_E_READER_UNAVAILABLE;
  if (!(*slot)->card || (*slot)->insertion != it->second.insertion) return SCARD_W_REMOVED_CARD;
  return SCARD_S_SUCCESS;
}

LONG VirtualPcscApi::EstablishContext(SCARDCONTEXT* context) {
  if (context == nullptr) return SCARD_E_INVALID_PARAMETER;
  std::lock_guard lock(mutex_);
  *context = nextContext_++;
  contexts_[*context] = Context{};
  return SCARD_S_SUCCESS;
}

LONG VirtualPcscApi::ReleaseContext(SCARDCONTEXT context) {
  std::lock_guard lock(mutex_);
  if (contexts_.erase(context) == 0) return SCARD_E_INVALID_HANDLE;
  // Handles of the context are left as they are (no disposition), as the service does.
  std::erase_if(handles_, [&](const auto& entry) { return entry.second.context == context; });
  changed_.notify_all();
  return SCARD_S_SUCCESS;
}

LONG VirtualPcscApi::ListReaders(SCARDCONTEXT context, std::vector<char>& multiString) {
  std::lock_guard lock(mutex_);
  multiString.clear();
  if (contexts_.count(context) == 0) return SCARD_E_INVALID_HANDLE;
  if (readers_.empty()) return SCARD_E_NO_READERS_AVAILABLE;
  for (const auto& slot : readers_) {
    multiString.insert(multiString.end(), slot.name.begin(), slot.name.end());
    multiString.push_back('\0');
  }
  multiString.push_back('\0');
  return SCARD_S_SUCCESS;
}

LONG VirtualPcscApi::Connect(SCARDCONTEXT context, const std::string& readerName, DWORD shareMode,
                             DWORD preferredProtocols, SCARDHANDLE* card, DWORD* activeProtocol) {
  if (card == nullptr || activeProtocol == nullptr) return SCARD_E_INVALID_PARAMETER;
  std::shared_ptr<VirtualCard> powerOn;
  {
    std::lock_guard lock(mutex_);
    if (contexts_.count(context) == 0) return SCARD_E_INVALID_HANDLE;
    Slot* slot = FindSlot(readerName);
    if (slot == nullptr) return SCARD_E_UNKNOWN_READER;
    if (shareMode != SCARD_SHARE_SHARED && shareMode != SCARD_SHARE_EXCLUSIVE) {
      return SCARD_E_INVALID_VALUE;
    }
    if (!slot->card) return SCARD_E_NO_SMARTCARD;
    if ((preferredProtocols & (SCARD_PROTOCOL_T0 | SCARD_PROTOCOL_T1)) == 0) return SCARD_E_INVALID_VALUE;
    const auto protocol = ChooseProtocol(ReadAtrProtocols(slot->atr), preferredProtocols);
    if (!protocol) return SCARD_E_PROTO_MISMATCH;
    for (const auto& [id, other] : handles_) {
      if (other.reader == readerName && other.insertion == slot->insertion &&
          (other.exclusive || shareMode == SCARD_SHARE_EXCLUSIVE)) {
        return SCARD_E_SHARING_VIOLATION;
      }
    }
    if (!slot->powered) {
      slot->powered = true;
      powerOn = slot->card;
    }
    *card = nextHandle_++;
    *activeProtocol = *protocol;
    handles_[*card] = Handle{context, readerName, slot->insertion, *protocol,
                             shareMode == SCARD_SHARE_EXCLUSIVE};
    changed_.notify_all();
  }
  if (powerOn) powerOn->PowerOn();
  return SCARD_S_SUCCESS;
}

LONG VirtualPcscApi::Disconnect(SCARDHANDLE card, DWORD disposition) {
  if (disposition != SCARD_LEAVE_CARD && disposition != SCARD_RESET_CARD &&
      disposition != SCARD_UNPOWER_CARD && disposition != SCARD_EJECT_CARD) {
    return SCARD_E_INVALID_VALUE;
  }
  std::shared_ptr<VirtualCard> target;
  {
    std::lock_guard lock(mutex_);
    auto it = handles_.find(card);
    if (it == handles_.end()) return SCARD_E_INVALID_HANDLE;
    Slot* slot = FindSlot(it->second.reader);
    if (slot != nullptr && slot->card && slot->insertion == it->second.insertion &&
        disposition != SCARD_LEAVE_CARD) {
      target = slot->card;
      if (disposition != SCARD_RESET_CARD) slot->powered = false;
    }
    handles_.erase(it);
    changed_.notify_all();
  }
  if (target) {
    if (disposition == SCARD_RESET_CARD) {
      target->Reset();
    } else {
      target->PowerOff();
    }
  }
  return SCARD_S_SUCCESS;
}

LONG VirtualPcscApi::Transmit(SCARDHANDLE card, DWORD protocol, const BYTE* send, DWORD sendLength,
                              BYTE* receive, DWORD* receiveLength) {
  if (send == nullptr || receive == nullptr || receiveLength == nullptr) return SCARD_E_INVALID_PARAMETER;
  if (sendLength > kMaxCommand) return SCARD_E_INSUFFICIENT_BUFFER;
  std::shared_ptr<VirtualCard> target;
  std::uint64_t insertion = 0;
  std::string reader;
  bool wake = false;
  {
    std::lock_guard lock(mutex_);
    Slot* slot = nullptr;
    Handle* handle = nullptr;
    if (const LONG rv = CheckHandle(card, &slot, &handle); rv != SCARD_S_SUCCESS) return rv;
    if (protocol != handle->protocol && protocol != SCARD_PROTOCOL_RAW) return SCARD_E_PROTO_MISMATCH;
    // Another handle powered the card off; this one wakes it as the reader would.
    wake = !slot->powered;
    slot->powered = true;
    target = slot->card;
    insertion = slot->insertion;
    reader = slot->name;
  }
  if (wake) target->PowerOn();
  std::vector<std::uint8_t> command(send, send + sendLength);
  const std::vector<std::uint8_t> answer = target->ProcessApdu(command);
  // A command may carry a key being written.
  OPENSSL_cleanse(command.data(), command.size());
  {
    std::lock_guard lock(mutex_);
    Slot* slot = FindSlot(reader);
    if (slot == nullptr) return SCARD_E_READER_UNAVAILABLE;
    if (!slot->card || slot->insertion != insertion) return SCARD_W_REMOVED_CARD;
  }
  if (answer.size() > *receiveLength) {
    *receiveLength = static_cast<DWORD>(answer.size());
    return SCARD_E_INSUFFICIENT_BUFFER;
  }
  std::copy(answer.begin(), answer.end(), receive);
  *receiveLength = static_cast<DWORD>(answer.size());
  return SCARD_S_SUCCESS;
}

LONG VirtualPcscApi::GetAttrib(SCARDHANDLE card, DWORD, std::vector<BYTE>& value) {
  std::lock_guard lock(mutex_);
  value.clear();
  Slot* slot = nullptr;
  Handle* handle = nullptr;
  if (const LONG rv = CheckHandle(card, &slot, &handle); rv != SCARD_S_SUCCESS) return rv;
  // Like vpcd: no attribute is offered, not even the channel ID or the ATR.
  return SCARD_E_UNSUPPORTED_FEATURE;
}

LONG VirtualPcscApi::Status(SCARDHANDLE card, std::vector<BYTE>& atr, DWORD* state, DWORD* protocol) {
  std::lock_guard lock(mutex_);
  atr.clear();
  Slot* slot = nullptr;
  Handle* handle = nullptr;
  if (const LONG rv = CheckHandle(card, &slot, &handle); rv != SCARD_S_SUCCESS) return rv;
  atr = slot->atr;
  if (state != nullptr) {
    *state = slot->powered ? (SCARD_PRESENT | SCARD_POWERED | SCARD_SPECIFIC) : (SCARD_PRESENT | SCARD_SWALLOWED);
  }
  if (protocol != nullptr) *protocol = handle->protocol;
  return SCARD_S_SUCCESS;
}

bool VirtualPcscApi::Evaluate(SCARD_READERSTATE* states, DWORD count, bool readersChanged) {
  bool any = false;
  for (DWORD i = 0; i < count; ++i) {
    SCARD_READERSTATE& entry = states[i];
    const DWORD current = entry.dwCurrentState;
    if ((current & SCARD_STATE_IGNORE) != 0) continue;
    const std::string name = entry.szReader != nullptr ? entry.szReader : "";
    bool changed = false;
    DWORD event = 0;
    if (name == kPnpNotification) {
      const DWORD readerCount = static_cast<DWORD>(readers_.size());
      event = readerCount << 16;
      changed = readersChanged || (current >> 16) != readerCount;
    } else if (Slot* slot = FindSlot(name); slot == nullptr) {
      event = SCARD_STATE_UNKNOWN;
      changed = (current & SCARD_STATE_UNKNOWN) == 0;
      entry.cbAtr = 0;
    } else {
      DWORD bits = SCARD_STATE_EMPTY;
      if (slot->card) {
        bits = SCARD_STATE_PRESENT;
        for (const auto& [id, handle] : handles_) {
          if (handle.reader != name || handle.insertion != slot->insertion) continue;
          bits |= handle.exclusive ? SCARD_STATE_EXCLUSIVE : SCARD_STATE_INUSE;
        }
      }
      event = bits | (static_cast<DWORD>(slot->events) << 16);
      const DWORD presence = SCARD_STATE_PRESENT | SCARD_STATE_EMPTY;
      changed = (current & presence) != (bits & presence) || (current & SCARD_STATE_UNKNOWN) != 0 ||
                ((current >> 16) != 0 && (current >> 16) != slot->events);
      const std::size_t atrLength = std::min(slot->atr.size(), sizeof entry.rgbAtr);
      if (atrLength != 0) std::memcpy(entry.rgbAtr, slot->atr.data(), atrLength);
      entry.cbAtr = static_cast<DWORD>(atrLength);
    }
    if (changed) event |= SCARD_STATE_CHANGED;
    entry.dwEventState = event;
    any = any || changed;
  }
  return any;
}

LONG VirtualPcscApi::GetStatusChange(SCARDCONTEXT context, DWORD timeoutMs, SCARD_READERSTATE* states,
                                     DWORD count) {
  std::unique_lock lock(mutex_);
  auto it = contexts_.find(context);
  if (it == contexts_.end()) return SCARD_E_INVALID_HANDLE;
  if (count > 0 && states == nullptr) return SCARD_E_INVALID_PARAMETER;
  const std::uint64_t cancels = it->second.cancels;
  const std::uint64_t readerChanges = readerListChanges_;
  const bool forever = timeoutMs == INFINITE;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(forever ? 0 : timeoutMs);
  for (;;) {
    it = contexts_.find(context);
    if (it == contexts_.end()) return SCARD_E_INVALID_HANDLE;
    if (it->second.cancels != cancels) return SCARD_E_CANCELLED;
    if (Evaluate(states, count, readerListChanges_ != readerChanges)) return SCARD_S_SUCCESS;
    if (forever) {
      changed_.wait(lock);
    } else if (changed_.wait_until(lock, deadline) == std::cv_status::timeout) {
      it = contexts_.find(context);
      if (it != contexts_.end() && it->second.cancels != cancels) return SCARD_E_CANCELLED;
      return Evaluate(states, count, readerListChanges_ != readerChanges) ? SCARD_S_SUCCESS : SCARD_E_TIMEOUT;
    }
  }
}

LONG VirtualPcscApi::Cancel(SCARDCONTEXT context) {
  std::lock_guard lock(mutex_);
  auto it = contexts_.find(context);
  if (it == contexts_.end()) return SCARD_E_INVALID_HANDLE;
  ++it->second.cancels;
  changed_.notify_all();
  return SCARD_S_SUCCESS;
}

std::string VirtualPcscApi::ErrorText(LONG code) { return pcsc_stringify_error(code); }
