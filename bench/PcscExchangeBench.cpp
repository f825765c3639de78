// One APDU exchange through the PC/SC transport against a raw SCardTransmit of the same bytes,
// both on the vpcd reader of a real pcscd holding the transport test card, in the same run.
// The ratio shows what the transport adds (seam, encoding, 64 KiB receive buffer, parsing) on top
// of the round trip through the service.
#include <PCSC/winscard.h>

#include <cstdio>
#include <memory>
#include <vector>

#include "bench/RatioReporter.h"
#include "device/ApduCommand.h"
#include "device/ApduResponse.h"
#include "device/PcscApi.h"
#include "device/PcscInterface.h"
#include "keysim/TransportTestCard.h"
#include "tests/support/PcscdService.h"
#include "tests/support/ServedCard.h"

namespace {

using tokvane::integration::kVpcdReader;

const std::vector<std::uint8_t> kCommand{0x00, 0xA4, 0x04, 0x00, 0x02, 0x3F, 0x00, 0x00};

CPcscInterface* gOurs = nullptr;
SCARDHANDLE gRawCard = 0;
DWORD gRawProtocol = 0;

void RawTransmit(benchmark::State& state) {
  const SCARD_IO_REQUEST* pci = gRawProtocol == SCARD_PROTOCOL_T0 ? SCARD_PCI_T0 : SCARD_PCI_T1;
  std::vector<BYTE> receive(258);
  for (auto _ : state) {
    DWORD length = static_cast<DWORD>(receive.size());
    if (SCardTransmit(gRawCard, pci, kCommand.data(), static_cast<DWORD>(kCommand.size()), nullptr,
                      receive.data(), &length) != SCARD_S_SUCCESS) {
      state.SkipWithError("SCardTransmit failed");
      break;
    }
    benchmark::DoNotOptimize(receive.data());
  }
}
BENCHMARK(RawTransmit);

void OursExchange(benchmark::State& state) {
  CApduCommand command;
  command.Parse(kCommand.data(), kCommand.size());
  for (auto _ : state) {
    CApduResponse response;
    if (!gOurs->Exchange(command, response)) {
      state.SkipWithError("Exchange failed");
      break;
    }
    benchmark::DoNotOptimize(response.Data.data());
  }
}
BENCHMARK(OursExchange);

}  // namespace

int main(int argc, char** argv) {
  auto& service = tokvane::integration::PcscdService::Instance();
  if (!service.Ensure()) {
    std::printf("PcscExchangeBench: not run, %s\n", service.Reason().c_str());
    return 0;
  }
  auto card = std::make_shared<TransportTestCard>(TransportTestCard::Protocol::T1);
  std::vector<std::uint8_t> answer(34, 0x5A);  // 32 data bytes and 90 00
  answer[32] = 0x90;
  answer[33] = 0x00;
  card->SetAnswer(kCommand, answer);
  int result = 1;
  {
    tokvane::integration::ServedCard served(card);
    if (!served.Insert()) {
      std::printf("PcscExchangeBench: pcscd did not show the served card\n");
      service.Shutdown();
      return 1;
    }
    CPcscInterface ours(kVpcdReader, SystemPcscApi());
    SCARDCONTEXT context = 0;
    if (ours.Open() &&
        SCardEstablishContext(SCARD_SCOPE_USER, nullptr, nullptr, &context) == SCARD_S_SUCCESS) {
      // A second, raw connection in shared mode to the same card and the same vpcd session.
      if (SCardConnect(context, kVpcdReader, SCARD_SHARE_SHARED, SCARD_PROTOCOL_T0 | SCARD_PROTOCOL_T1,
                       &gRawCard, &gRawProtocol) == SCARD_S_SUCCESS) {
        gOurs = &ours;
        result = tokvane::bench::RunAndPrintRatios(
            argc, argv, {{"CPcscInterface::Exchange / SCardTransmit (vpcd, T=1)", "OursExchange",
                          "RawTransmit", 1.05}});
        SCardDisconnect(gRawCard, SCARD_LEAVE_CARD);
      } else {
        std::printf("PcscExchangeBench: raw connect failed\n");
      }
      SCardReleaseContext(context);
    } else {
      std::printf("PcscExchangeBench: Open failed: %s\n", ours.GetLastErrorText().c_str());
    }
  }
  service.Shutdown();
  return result;
}
