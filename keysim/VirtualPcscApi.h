#pragma once
// A PcscApi that presents VirtualCards as readers inside the process, for the GUI tests and the
// demo mode: readers come and go, cards are inserted and removed, and the answers follow what
// pcscd with the vpcd driver answers for the same situations (a removed card, a released handle,
// an attribute the reader does not offer, the "\\?PnP?\Notification" pseudo reader).
//
// Thread-safe. Card calls run outside the lock, so a card that waits (a touch) never blocks
// listing, status changes or the other readers.
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "device/PcscApi.h"
#include "keysim/VirtualCard.h"

class VirtualPcscApi : public PcscApi {
 public:
  static constexpr const char* kPnpNotification = "\\\\?PnP?\\Notification";

  VirtualPcscApi() = default;
  ~VirtualPcscApi() override = default;
  VirtualPcscApi(const VirtualPcscApi&) = delete;
  VirtualPcscApi& operator=(const VirtualPcscApi&) = delete;

  // False for an empty or taken name.
  bool AddReader(const std::string& name);
  // False for an unknown reader. Its card loses power; handles to it stop working.
  bool RemoveReader(const std::string& name);
  // False for an unknown reader, a reader that holds a card already, or no card.
  bool InsertCard(const std::string& reader, std::shared_ptr<VirtualCard> card);
  // False when the reader holds no card. The card loses power; handles to it answer
  // SCARD_W_REMOVED_CARD from then on.
  bool RemoveCard(const std::string& reader);
  std::vector<std::string> ReaderNames() const;

  LONG EstablishContext(SCARDCONTEXT* context) override;
  LONG ReleaseContext(SCARDCONTEXT context) override;
  LONG ListReaders(SCARDCONTEXT context, std::vector<char>& multiString) override;
  LONG Connect(SCARDCONTEXT context, const std::string& readerName, DWORD shareMode,
               DWORD preferredProtocols, SCARDHANDLE* card, DWORD* activeProtocol) override;
  LONG Disconnect(SCARDHANDLE card, DWORD disposition) override;
  LONG Transmit(SCARDHANDLE card, DWORD protocol, const BYTE* send, DWORD sendLength, BYTE* receive,
                DWORD* receiveLength) override;
  LONG GetAttrib(SCARDHANDLE card, DWORD attributeId, std::vector<BYTE>& value) override;
  LONG Status(SCARDHANDLE card, std::vector<BYTE>& atr, DWORD* state, DWORD* protocol) override;
  // Card presence per reader (event counter in the high word, as pcsc-lite reports it) and, for
  // the pseudo reader, the reader count in the high word; a reader added or removed during the
  // wait counts as a change too. Waits at most timeoutMs (INFINITE: until a change or Cancel).
  LONG GetStatusChange(SCARDCONTEXT context, DWORD timeoutMs, SCARD_READERSTATE* states,
                       DWORD count) override;
  LONG Cancel(SCARDCONTEXT context) override;
  std::string ErrorText(LONG code) override;

 private:
  struct Slot {
    std::string name;
    std::shared_ptr<VirtualCard> card;
    std::vector<BYTE> atr;
    std::uint64_t insertion = 0;  // which insertion handles belong to
    std::uint16_t events = 0;     // insertions and removals, as in the high word of the state
    bool powered = false;
  };
  struct Handle {
    SCARDCONTEXT context = 0;
    std::string reader;
    std::uint64_t insertion = 0;
    DWORD protocol = 0;
    bool exclusive = false;
  };
  struct Context {
    std::uint64_t cancels = 0;
  };

  // The following run with mutex_ held.
  Slot* FindSlot(const std::string& name);
  // The slot of a live handle, or the PC/SC error that applies to it.
  LONG CheckHandle(SCARDHANDLE card, Slot** slot, Handle** handle);
  bool Evaluate(SCARD_READERSTATE* states, DWORD count, bool readersChanged);

  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<Slot> readers_;
  std::map<SCARDHANDLE, Handle> handles_;
  std::map<SCARDCONTEXT, Context> contexts_;
  std::uint64_t readerListChanges_ = 0;
  std::uint64_t nextInsertion_ = 1;
  SCARDCONTEXT nextContext_ = 0x5C000001;
  SCARDHANDLE nextHandle_ = 0x5D000001;
};
