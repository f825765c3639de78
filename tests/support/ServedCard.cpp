#include "tests/support/ServedCard.h"

#include <PCSC/winscard.h>

#include <algorithm>
#include <utility>

#include "tests/support/PcscdService.h"

namespace tokvane::integration {

namespace {

using Clock = std::chrono::steady_clock;

bool ShowsWanted(DWORD state, bool present) {
  // A card pcscd could not power up (mute) is not one a test can talk to.
  const bool usable = (state & SCARD_STATE_PRESENT) != 0 && (state & SCARD_STATE_MUTE) == 0;
  return present ? usable : (state & SCARD_STATE_EMPTY) != 0;
}

DWORD MillisecondsUntil(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  return static_cast<DWORD>(std::max<std::chrono::milliseconds::rep>(left.count(), 0));
}

}  // namespace

bool WaitForCardState(const std::string& reader, bool present, std::chrono::milliseconds limit) {
  const auto deadline = Clock::now() + limit;
  SCARDCONTEXT context = 0;
  if (SCardEstablishContext(SCARD_SCOPE_USER, nullptr, nullptr, &context) != SCARD_S_SUCCESS) return false;
  SCARD_READERSTATE state{};
  state.szReader = reader.c_str();
  state.dwCurrentState = SCARD_STATE_UNAWARE;
  bool reached = false;
  for (;;) {
    // The first call (state unaware) answers at once; later ones wait for a change.
    const LONG result = SCardGetStatusChange(context, MillisecondsUntil(deadline), &state, 1);
    if (result != SCARD_S_SUCCESS) break;  // timeout, reader unknown, service gone
    if (ShowsWanted(state.dwEventState, present)) {
      reached = true;
      break;
    }
    if (Clock::now() >= deadline) break;
    state.dwCurrentState = state.dwEventState & ~static_cast<DWORD>(SCARD_STATE_CHANGED);
  }
  SCardReleaseContext(context);
  return reached;
}

ServedCard::ServedCard(std::shared_ptr<VirtualCard> card) : client_(std::move(card)) {}

ServedCard::~ServedCard() {
  if (client_.IsRunning()) Remove();
}

bool ServedCard::Insert(std::chrono::milliseconds limit) {
  const auto deadline = Clock::now() + limit;
  if (!client_.Start(limit)) return false;
  return WaitForCardState(kVpcdReader, true,
                          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()));
}

bool ServedCard::Remove(std::chrono::milliseconds limit) {
  client_.Stop();
  return WaitForCardState(kVpcdReader, false, limit);
}

}  // namespace tokvane::integration
