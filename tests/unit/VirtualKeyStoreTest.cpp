#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "keysim/VirtualKeyStore.h"

namespace {

VirtualKeyStore SampleStore() {
  VirtualKeyStore store;
  store.interfaceMode = 0x30;
  VirtualKeyCredential first;
  first.name = {'A', 'B'};
  first.secret = {0x00, 0xFF, 0x10};
  first.digits = 8;
  first.counter = 0x0000000031323334ull;
  VirtualKeyCredential listedOnly;
  listedOnly.name = {0xC3, 0xA9, 0x20};  // raw bytes, a space included
  listedOnly.counter = 0xFFFFFFFFFFFFFFFFull;
  store.credentials.push_back(first);
  store.credentials.push_back(listedOnly);
  store.defaultName = std::vector<std::uint8_t>{0xC3, 0xA9, 0x20};
  return store;
}

TEST(VirtualKeyStoreText, RoundTripsEveryField) {
  const VirtualKeyStore store = SampleStore();
  const auto parsed = ParseVirtualKeyStore(SerializeVirtualKeyStore(store));
  ASSERT_TRUE(parsed.has_value());
  EXPECT_EQ(parsed->interfaceMode, 0x30);
  ASSERT_EQ(parsed->credentials.size(), 2u);
  for (std::size_t i = 0; i < 2; ++i) {
    EXPECT_EQ(parsed->credentials[i].name, store.credentials[i].name);
    EXPECT_EQ(parsed->credentials[i].secret, store.credentials[i].secret);
    EXPECT_EQ(parsed->credentials[i].digits, store.credentials[i].digits);
    EXPECT_EQ(parsed->credentials[i].counter, store.credentials[i].counter);
  }
  EXPECT_EQ(parsed->defaultName, store.defaultName);
}

TEST(VirtualKeyStoreText, RejectsAnythingItDidNotWrite) {
  const std::string good = SerializeVirtualKeyStore(SampleStore());
  const std::string cases[] = {
      "",
      "garbage\n",
      good.substr(0, good.size() - 1),                               // last line cut off
      "tokvane-virtual-key-state 1\n",                               // no mode
      "tokvane-virtual-key-state 1\nmode 70\nmode 30\n",             // mode twice
      "tokvane-virtual-key-state 1\nmode 7g\n",
      "tokvane-virtual-key-state 1\nmode 70\ncredential 41 06 00\n",              // short line
      "tokvane-virtual-key-state 1\nmode 70\ncredential 41 07 00 0102\n",         // digits 7
      "tokvane-virtual-key-state 1\nmode 70\ncredential 4 06 00 0102\n",          // odd hex
      "tokvane-virtual-key-state 1\nmode 70\ncredential - 06 00 0102\n",          // no name
      "tokvane-virtual-key-state 1\nmode 70\ncredential 41 06 11223344556677889 01\n",
      "tokvane-virtual-key-state 1\nmode 70\ncredential 41 06 00 01\ncredential 41 06 00 02\n",
      "tokvane-virtual-key-state 1\nmode 70\ndefault 41\n",          // default without credential
      "tokvane-virtual-key-state 1\nmode 70\n\n",
      "tokvane-virtual-key-state 2\nmode 70\n",
  };
  for (const auto& text : cases) EXPECT_FALSE(ParseVirtualKeyStore(text).has_value()) << text;
}

TEST(VirtualKeyStoreEdit, RemovingTheDefaultClearsIt) {
  VirtualKeyStore store = SampleStore();
  EXPECT_FALSE(store.Remove({'Z'}));
  EXPECT_TRUE(store.Remove({'A', 'B'}));
  EXPECT_TRUE(store.defaultName.has_value());
  EXPECT_TRUE(store.Remove({0xC3, 0xA9, 0x20}));
  EXPECT_FALSE(store.defaultName.has_value());
  EXPECT_TRUE(store.credentials.empty());
}

}  // namespace
