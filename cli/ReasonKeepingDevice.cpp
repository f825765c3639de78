#include "cli/ReasonKeepingDevice.h"

namespace cli {

bool ReasonKeepingDevice::Open() {
  const bool opened = inner_->Open();
  if (!opened) lastReason_ = inner_->GetLastErrorText();
  return opened;
}

bool ReasonKeepingDevice::Exchange(const CApduCommand& command, CApduResponse& response) {
  const bool exchanged = inner_->Exchange(command, response);
  lastExchangeFailed_ = !exchanged;
  // An answer without a status word comes with the transport's reason too.
  if (!exchanged || !response.HasStatusWord()) lastReason_ = inner_->GetLastErrorText();
  return exchanged;
}

}  // namespace cli
