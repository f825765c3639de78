#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "device/PcscReaderList.h"
#include "tests/support/ScriptedPcscApi.h"

namespace {

// Lists through both functions and checks they agree; returns the narrow names.
std::vector<std::string> ListBoth(const std::shared_ptr<ScriptedPcscApi>& api) {
  std::vector<std::string> narrow = {"stale"};
  std::vector<std::wstring> wide = {L"stale"};
  ListPcscReaderNamesNarrow(narrow, api);
  ListPcscReaderNames(wide, api);
  EXPECT_EQ(narrow.size(), wide.size());
  for (std::size_t i = 0; i < narrow.size() && i < wide.size(); ++i) {
    EXPECT_EQ(wide[i], std::wstring(narrow[i].begin(), narrow[i].end()));
  }
  EXPECT_TRUE(api->Balanced()) << "listing left a context open";
  return narrow;
}

TEST(PcscListing, GivesTheReadersInTheServiceOrder) {
  const std::string longName = "Reader " + std::string(600, 'n');
  struct Row {
    std::vector<char> multiString;
    std::vector<std::string> names;
  };
  const Row rows[] = {
      {ScriptedPcscApi::MultiString({"Virtual PCD 00 00", "Virtual PCD 00 01"}),
       {"Virtual PCD 00 00", "Virtual PCD 00 01"}},
      {ScriptedPcscApi::MultiString({longName}), {longName}},
      {std::vector<char>{'\0'}, {}},
      {std::vector<char>{'\0', '\0'}, {}},
      {std::vector<char>{}, {}},
      // Missing terminators end at the buffer's end rather than past it.
      {std::vector<char>{'A', '\0', 'B'}, {"A", "B"}},
  };
  for (const Row& row : rows) {
    auto api = std::make_shared<ScriptedPcscApi>();
    api->readers = row.multiString;
    EXPECT_EQ(ListBoth(api), row.names);
  }
}

TEST(PcscListing, IsEmptyWhenTheServiceHasNoReaderOrIsNotRunning) {
  struct Row {
    LONG ScriptedPcscApi::*step;
    LONG code;
  };
  const Row rows[] = {
      {&ScriptedPcscApi::listResult, SCARD_E_NO_READERS_AVAILABLE},
      {&ScriptedPcscApi::establishResult, SCARD_E_NO_SERVICE},
  };
  for (const Row& row : rows) {
    auto api = std::make_shared<ScriptedPcscApi>();
    (*api).*(row.step) = row.code;
    EXPECT_TRUE(ListBoth(api).empty());
  }
}

}  // namespace
