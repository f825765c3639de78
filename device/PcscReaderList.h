#pragma once
// The PC/SC readers the smart-card service lists, in its order. Each call uses its own context.
#include <memory>
#include <string>
#include <vector>

// Free of pcsc-lite headers, like the reader transport's.
class PcscApi;

// Empties `names`, then fills it through `api` (null: pcsc-lite); left empty when the service is
// not running or has no reader.
void ListPcscReaderNames(std::vector<std::wstring>& names, std::shared_ptr<PcscApi> api);
void ListPcscReaderNamesNarrow(std::vector<std::string>& names, std::shared_ptr<PcscApi> api);
