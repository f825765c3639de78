#pragma once
// The PC/SC readers the smart-card service lists, in its order. Each call uses its own context.
#include <memory>
#include <string>
#include <vector>

// Free of pcsc-lite headers, like the reader transport's.
class PcscApi;
std::shared_ptr<PcscApi> ActivePcscApi();

// Empties `names`, then fills it; left empty when the service is not running or has no reader.
void ListPcscReaderNames(std::vector<std::wstring>& names,
                         std::shared_ptr<PcscApi> api = ActivePcscApi());
void ListPcscReaderNamesNarrow(std::vector<std::string>& names,
                               std::shared_ptr<PcscApi> api = ActivePcscApi());
