#include "device/PcscReaderList.h"

#include <PCSC/pcsclite.h>

#include <algorithm>
#include <utility>

#include "core/Conversions.h"
#include "device/PcscApi.h"

namespace {

// Splits the service's multi-string (names ended by NUL, the list by an empty name). A buffer
// that lacks its final terminators ends at its last byte rather than being read past.
std::vector<std::string> SplitMultiString(const std::vector<char>& multiString) {
  std::vector<std::string> names;
  auto position = multiString.begin();
  while (position != multiString.end()) {
    const auto end = std::find(position, multiString.end(), '\0');
    if (end == position) break;
    names.emplace_back(position, end);
    if (end == multiString.end()) break;
    position = end + 1;
  }
  return names;
}

std::vector<std::string> ListNames(std::shared_ptr<PcscApi> api) {
  if (!api) api = SystemPcscApi();
  SCARDCONTEXT context = 0;
  if (api->EstablishContext(&context) != SCARD_S_SUCCESS) return {};
  std::vector<char> multiString;
  const LONG listed = api->ListReaders(context, multiString);
  api->ReleaseContext(context);
  if (listed != SCARD_S_SUCCESS) return {};
  return SplitMultiString(multiString);
}

}  // namespace

void ListPcscReaderNames(std::vector<std::wstring>& names, std::shared_ptr<PcscApi> api) {
  names.clear();
  for (const std::string& name : ListNames(std::move(api))) names.push_back(AnsiToWide(name));
}

void ListPcscReaderNamesNarrow(std::vector<std::string>& names, std::shared_ptr<PcscApi> api) {
  names.clear();
  names = ListNames(std::move(api));
}
