// tokvane-cli end to end over the key's HID interfaces: the virtual key behind the HID seam (its
// "KB" feature-report interface and its "U2F" U2FHID interface), run in-process with no system
// seam at all; and which readers a named one keeps the CLI away from.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "BuildConfig.h"
#include "core/Conversions.h"
#include "device/HidApi.h"
#include "device/PcscApi.h"
#include "keysim/VirtualHidApi.h"
#include "keysim/VirtualKey.h"
#include "keysim/VirtualPcscApi.h"
#include "oath/OathCommands.h"
#include "tests/integration/CliRunner.h"
#include "tests/support/TestKeys.h"

namespace tokvane::integration {
namespace {

using Bytes = std::vector<std::uint8_t>;

using test_keys::Hex;
using test_keys::kRfcCodes6;
const std::string& kSecretHex = test_keys::kRfcSecretHex;
const std::string kKbReader = "VORTAN HID DEVICE KB 0";
const std::string kU2fReader = "VORTAN HID DEVICE U2F 1";

class CliHidTest : public ::testing::Test {
 protected:
  void SetUp() override {
    key_ = std::make_shared<VirtualKey>();
    hid_ = std::make_shared<VirtualHidApi>();
    VirtualHidKeyOptions options;
    options.vendorId = tokvane::build::kMakerVendorId;
    keyId_ = hid_->AddKey(key_, options);
    // No smart-card reader at all: only the HID interfaces are there.
    backends_ = MakeDeviceBackends(std::make_shared<VirtualPcscApi>(), hid_);
  }

  CliResult Run(const std::vector<std::string>& args, const std::string& input = {}) {
    key_->ClearReceivedApdus();
    CliResult result = RunCliInProcess(backends_, args, input);
    received_.clear();
    for (const Bytes& apdu : key_->ReceivedApdus()) received_.push_back(Hex(apdu));
    return result;
  }

  std::shared_ptr<VirtualKey> key_;
  std::shared_ptr<VirtualHidApi> hid_;
  DeviceBackends backends_;
  VirtualHidApi::KeyId keyId_ = 0;
  std::vector<std::string> received_;
};

TEST_F(CliHidTest, ReadersInfoAndModeShowSeeBothInterfacesAndPreferU2f) {
  const CliResult readers = Run({"readers"});
  ASSERT_EQ(readers.code, 0) << readers.err;
  EXPECT_EQ(readers.out, kKbReader + "\tOTP\n" + kU2fReader + "\tU2F\tpreferred\n");

  const CliResult info = Run({"info"});
  ASSERT_EQ(info.code, 0) << info.err;
  EXPECT_EQ(info.out, "Reader: " + kU2fReader + "\nCOS version: 4300\nApplet version: 15\nInterfaces: otp+u2f\n");

  EXPECT_EQ(Run({"mode", "show"}).out, "otp+u2f\n");
}

// The oath subcommands over each of the two HID framings; each subcommand's own effect on the key
// is CliPcscdTest's, and the framings' is OathPanelStory's.
TEST_F(CliHidTest, EveryOathSubcommandOverBothInterfaces) {
  for (const std::string& reader : {kKbReader, kU2fReader}) {
    SCOPED_TRACE(reader);
    ASSERT_EQ(Run({"--reader", reader, "oath", "reset", "--yes"}).code, 0);

    const CliResult added = Run({"--reader", reader, "oath", "add", "mail", "--digits", "8"}, kSecretHex);
    ASSERT_EQ(added.code, 0) << added.err;
    ASSERT_EQ(Run({"--reader", reader, "oath", "add", "other"}, kSecretHex).code, 0);
    EXPECT_EQ(Run({"--reader", reader, "oath", "code", "mail"}).out, test_keys::kRfcCodes8[0] + "\n");

    ASSERT_EQ(Run({"--reader", reader, "oath", "default", "mail"}).code, 0);
    const CliResult list = Run({"--reader", reader, "oath", "list"});
    ASSERT_EQ(list.code, 0) << list.err;
    EXPECT_EQ(list.out, "* mail\n  other\n");
    // On a HID key the listing is preceded by the card-OS version query, as the panel sends it.
    EXPECT_EQ(received_, (std::vector<std::string>{Hex(BuildSelectOath()), Hex(BuildGetCosVersion()),
                                                   Hex(BuildList()), Hex(BuildSelectOath()), Hex(BuildGetDefault()),
                                                   Hex(BuildSelectFido())}));

    ASSERT_EQ(Run({"--reader", reader, "oath", "delete", "mail"}).code, 0);
    EXPECT_EQ(Run({"--reader", reader, "oath", "list"}).out, "  other\n");
  }
}

TEST_F(CliHidTest, ModeSetOverHidStoresTheSetForTheNextPlugIn) {
  const CliResult set = Run({"--reader", kKbReader, "--json", "mode", "set", "ccid+u2f"});
  ASSERT_EQ(set.code, 0) << set.err;
  EXPECT_EQ(set.out, "{\"reader\":\"" + kKbReader +
                         "\",\"interfaces\":\"u2f+ccid\",\"modeByte\":96,\"replugNeeded\":true}\n");
  EXPECT_EQ(received_, (std::vector<std::string>{Hex(BuildGetCosVersion()), "80 E1 FF 00 01 60"}));
  EXPECT_EQ(key_->StoredInterfaceMode(), 0x60);
}

TEST_F(CliHidTest, ATransportFailureOrAMissingKeyIsStatus3) {
  ASSERT_EQ(Run({"oath", "add", "mail"}, kSecretHex).code, 0);

  hid_->SetFault(keyId_, VirtualHidFault::UnplugMidExchange);
  const CliResult pulled = Run({"oath", "code", "mail"});
  EXPECT_EQ(pulled.code, 3);
  EXPECT_EQ(pulled.err.rfind("tokvane-cli: ", 0), 0u);
  EXPECT_TRUE(pulled.out.empty());

  hid_->SetFault(keyId_, VirtualHidFault::None);
  hid_->Unplug(keyId_);
  const CliResult gone = Run({"oath", "code", "mail"});
  EXPECT_EQ(gone.code, 3);
  EXPECT_EQ(gone.err, "tokvane-cli: no key found\n");
  EXPECT_EQ(Run({"--reader", kU2fReader, "oath", "list"}).code, 2) << "a reader that is not listed is unknown";
}

// A smart-card service that notes every reader a connection is asked for.
class ConnectNotingPcscApi final : public VirtualPcscApi {
 public:
  LONG Connect(SCARDCONTEXT context, const std::string& readerName, DWORD shareMode, DWORD preferredProtocols,
               SCARDHANDLE* card, DWORD* activeProtocol) override {
    connected.push_back(readerName);
    return VirtualPcscApi::Connect(context, readerName, shareMode, preferredProtocols, card, activeProtocol);
  }
  std::vector<std::string> connected;
};

// Another key in a reader listed first, as a contributor's own key would be: with --reader naming
// the virtual reader, nothing but that reader is connected to, not even to probe its kind.
TEST(CliNamedReader, ANamedReaderIsTheOnlyOneConnectedTo) {
  const std::string named = "Virtual PCD 00 00";
  const std::string other = "Other Reader 00 00";
  auto pcsc = std::make_shared<ConnectNotingPcscApi>();
  ASSERT_TRUE(pcsc->AddReader(other));
  ASSERT_TRUE(pcsc->InsertCard(other, std::make_shared<VirtualKey>()));
  ASSERT_TRUE(pcsc->AddReader(named));
  ASSERT_TRUE(pcsc->InsertCard(named, test_keys::KeyWithTwoCredentials()));
  const DeviceBackends backends = MakeDeviceBackends(pcsc, std::make_shared<VirtualHidApi>());

  const struct {
    std::vector<std::string> args;
    std::string out;
  } cases[] = {
      {{"oath", "list"}, "  alpha\n* beta\n"},
      {{"oath", "code", "alpha"}, kRfcCodes6[0] + "\n"},
      {{"info"}, "Reader: " + named + "\nCOS version: 4300\nApplet version: 15\nInterfaces: ccid\n"},
      {{"mode", "set", "ccid"}, "Interface mode set to ccid. Unplug the key and plug it in again to use it.\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args.front());
    pcsc->connected.clear();
    std::vector<std::string> args = {"--reader", named};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const CliResult run = RunCliInProcess(backends, args);
    EXPECT_EQ(run.code, 0) << run.err;
    EXPECT_EQ(run.out, c.out);
    ASSERT_FALSE(pcsc->connected.empty());
    EXPECT_EQ(std::count(pcsc->connected.begin(), pcsc->connected.end(), named),
              static_cast<std::ptrdiff_t>(pcsc->connected.size()));
  }
  // A name that is not listed reaches nothing.
  pcsc->connected.clear();
  const CliResult unknown = RunCliInProcess(backends, {"--reader", "Virtual PCD 00 07", "oath", "code", "alpha"});
  EXPECT_EQ(unknown.code, 2);
  EXPECT_EQ(unknown.err, "tokvane-cli: unknown reader 'Virtual PCD 00 07' (see tokvane-cli readers)\n");
  EXPECT_TRUE(pcsc->connected.empty());
  // Unnamed, every reader is probed to find the preferred one: why the tests always name theirs.
  pcsc->connected.clear();
  EXPECT_EQ(RunCliInProcess(backends, {"oath", "list"}).code, 0);
  EXPECT_EQ(pcsc->connected.front(), other);
}

}  // namespace
}  // namespace tokvane::integration
