#include "device/PcscErrors.h"

#include <PCSC/pcsclite.h>

#include "device/PcscApi.h"
#include "core/Translate.h"

using tokvane::Tr;

namespace {

constexpr const char* kNoServiceHint =
    N_(" (the smart-card service pcscd is not running: start it with 'systemctl start pcscd' or "
    "run 'pcscd')");

std::string StripLineFeeds(const std::string& text) {
  const std::size_t first = text.find_first_not_of('\n');
  if (first == std::string::npos) return std::string();
  const std::size_t last = text.find_last_not_of('\n');
  return text.substr(first, last - first + 1);
}

}  // namespace

std::string PcscErrorText(PcscApi& api, LONG code, const std::string& previousText) {
  std::string text = api.ErrorText(code);
  if (text.empty()) return previousText;
  text = StripLineFeeds(text);
  if (code == SCARD_E_NO_SERVICE) text += Tr(kNoServiceHint);
  return text;
}
