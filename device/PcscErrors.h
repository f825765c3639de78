#pragma once
// The text a PC/SC transport keeps for a failed call: the service's own words for the code,
// with a hint on how to start the service when it is not running.
#include <PCSC/wintypes.h>

#include <string>

class PcscApi;

// The service's text for `code` without leading or trailing line feeds (carriage returns stay).
// When the service offers no text, `previousText` is kept.
std::string PcscErrorText(PcscApi& api, LONG code, const std::string& previousText);
