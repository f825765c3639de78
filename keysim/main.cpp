// tokvane-keysim: serves a virtual key (or the transport test card) to a running pcscd through
// its vpcd reader until SIGINT or SIGTERM. The card reconnects when vpcd goes away and returns.
#include <signal.h>

#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "core/CoreDumps.h"
#include "keysim/TransportTestCard.h"
#include "keysim/VirtualKey.h"
#include "keysim/VpcdClient.h"
#include "oath/OathAnswers.h"
#include "oath/OathCommands.h"

namespace {

using namespace std::chrono_literals;

constexpr const char* kUsage =
    "Usage: tokvane-keysim [options]\n"
    "Serves a virtual security key to pcscd through the vpcd reader until SIGINT or SIGTERM.\n"
    "\n"
    "  --card key|transport   the virtual key (default) or the transport test card\n"
    "  --t0 | --t1            protocol the card's ATR offers (default T=1)\n"
    "  --cos XX:XX:XX         COS version bytes (default 43:00:01, needs no touch;\n"
    "                         43:01:01 needs one)\n"
    "  --touch always|never   touch source for keys that need a touch (default always)\n"
    "  --touch-window MS      how long a guarded command waits for the touch (default 3000)\n"
    "  --state FILE           keep credentials, counters, default and mode in FILE (a\n"
    "                         regular file of your own, e.g. under $XDG_STATE_HOME)\n"
    "  --mode LIST            interfaces at the first plug-in, e.g. otp+u2f+ccid (default)\n"
    "  --host HOST            where vpcd listens (default 127.0.0.1)\n"
    "  --port PORT            vpcd port (default 35963)\n"
    "  --help                 this text\n";

struct Options {
  bool transportCard = false;
  VirtualKeyConfig key;
  std::string host = "127.0.0.1";
  std::uint16_t port = 35963;
};

template <typename Number>
std::optional<Number> ParseNumber(std::string_view text, int base = 10) {
  Number value{};
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
  if (error != std::errc() || end != text.data() + text.size() || text.empty()) return std::nullopt;
  return value;
}

std::optional<std::array<std::uint8_t, 3>> ParseCos(std::string_view text) {
  std::array<std::uint8_t, 3> bytes{};
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (text.size() < 2 || (i + 1 < bytes.size() && (text.size() < 3 || text[2] != ':'))) return std::nullopt;
    const auto value = ParseNumber<std::uint8_t>(text.substr(0, 2), 16);
    if (!value) return std::nullopt;
    bytes[i] = *value;
    text.remove_prefix(i + 1 < bytes.size() ? 3 : 2);
  }
  if (!text.empty()) return std::nullopt;
  return bytes;
}

std::optional<std::uint8_t> ParseMode(std::string_view text) {
  std::uint8_t mode = 0;
  while (!text.empty()) {
    const std::size_t plus = text.find('+');
    const std::string_view part = text.substr(0, plus);
    if (part == "otp") {
      mode |= card_os::kInterfaceOtp;
    } else if (part == "u2f") {
      mode |= card_os::kInterfaceU2f;
    } else if (part == "ccid") {
      mode |= card_os::kInterfaceCcid;
    } else {
      return std::nullopt;
    }
    if (plus == std::string_view::npos) break;
    text.remove_prefix(plus + 1);
    if (text.empty()) return std::nullopt;
  }
  if (mode == 0) return std::nullopt;
  return mode;
}

// Fills `options` from the command line; nullopt with a message on stderr for bad input, or an
// exit code of 0 for --help.
std::optional<int> ParseArguments(int argc, char** argv, Options& options) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view option = argv[i];
    const auto value = [&]() -> std::optional<std::string_view> {
      if (i + 1 >= argc) return std::nullopt;
      return std::string_view(argv[++i]);
    };
    const auto fail = [&](const char* what) {
      std::cerr << "tokvane-keysim: " << what << " (" << option << ")\n" << kUsage;
      return std::optional<int>(2);
    };
    if (option == "--help") {
      std::cout << kUsage;
      return 0;
    } else if (option == "--t0") {
      options.key.useT0 = true;
    } else if (option == "--t1") {
      options.key.useT0 = false;
    } else if (option == "--card") {
      const auto card = value();
      if (!card || (*card != "key" && *card != "transport")) return fail("--card takes key or transport");
      options.transportCard = *card == "transport";
    } else if (option == "--cos") {
      const auto text = value();
      const auto cos = text ? ParseCos(*text) : std::nullopt;
      if (!cos) return fail("--cos takes three hex bytes, e.g. 43:01:01");
      options.key.cosVersion = *cos;
    } else if (option == "--touch") {
      const auto touch = value();
      if (touch && *touch == "always") {
        options.key.touch = TouchMode::Always;
      } else if (touch && *touch == "never") {
        options.key.touch = TouchMode::Never;
      } else {
        return fail("--touch takes always or never");
      }
    } else if (option == "--touch-window") {
      const auto text = value();
      const auto ms = text ? ParseNumber<unsigned>(*text) : std::nullopt;
      if (!ms || *ms == 0 || *ms > 60000) return fail("--touch-window takes 1 to 60000 milliseconds");
      options.key.touchWindow = std::chrono::milliseconds(*ms);
    } else if (option == "--state") {
      const auto file = value();
      if (!file || file->empty()) return fail("--state takes a file name");
      options.key.stateFile = std::string(*file);
    } else if (option == "--mode") {
      const auto text = value();
      const auto mode = text ? ParseMode(*text) : std::nullopt;
      if (!mode) return fail("--mode takes interfaces joined by +, e.g. otp+u2f+ccid");
      options.key.interfaceMode = *mode;
    } else if (option == "--host") {
      const auto host = value();
      if (!host || host->empty()) return fail("--host takes a host name");
      options.host = std::string(*host);
    } else if (option == "--port") {
      const auto text = value();
      const auto port = text ? ParseNumber<std::uint16_t>(*text) : std::nullopt;
      if (!port || *port == 0) return fail("--port takes 1 to 65535");
      options.port = *port;
    } else {
      return fail("unknown option");
    }
  }
  return std::nullopt;
}

std::shared_ptr<VirtualCard> MakeCard(const Options& options, std::shared_ptr<VirtualKey>& key) {
  if (options.transportCard) {
    return std::make_shared<TransportTestCard>(options.key.useT0 ? TransportTestCard::Protocol::T0
                                                                 : TransportTestCard::Protocol::T1);
  }
  key = std::make_shared<VirtualKey>(options.key);
  return key;
}

void Describe(const Options& options, const VirtualKey* key) {
  std::cout << "tokvane-keysim: serving the " << (options.transportCard ? "transport test card" : "virtual key")
            << " (T=" << (options.key.useT0 ? 0 : 1) << ") to vpcd at " << options.host << ":" << options.port;
  if (key != nullptr) {
    const auto& cos = options.key.cosVersion;
    char mode[8];
    std::snprintf(mode, sizeof mode, "%02X", key->StoredInterfaceMode());
    std::cout << ", COS " << FormatCosVersion({cos[0], cos[1]})
              << (CosVersionNeedsTouch(cos[0], cos[1]) ? " (needs a touch)" : " (no touch)")
              << ", mode " << mode << ", " << key->Credentials().size() << " credential(s)";
  }
  std::cout << std::endl;
}

}  // namespace

int main(int argc, char** argv) {
  if (std::string reason; !DisableCoreDumps(reason)) std::cerr << "tokvane-keysim: " << reason << "\n";
  Options options;
  // Nobody reads the key's record of commands in this program; it would only keep puts around.
  options.key.receivedLogLimit = 0;
  if (const auto exitCode = ParseArguments(argc, argv, options)) return *exitCode;

  // Block the stop signals before any thread starts, so that only sigtimedwait below sees them.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

  std::shared_ptr<VirtualKey> key;
  std::shared_ptr<VirtualCard> card = MakeCard(options, key);
  if (key && !key->StateFileError().empty()) {
    std::cerr << "tokvane-keysim: " << key->StateFileError() << "\n";
    return 1;
  }
  if (key) {
    // The new interface set applies when the key is plugged in again: here, at the next reconnect.
    key->SetModeChangedHook([](std::uint8_t mode) {
      std::fprintf(stdout, "tokvane-keysim: interface mode %02X stored; it applies after a re-plug\n", mode);
      std::fflush(stdout);
    });
  }

  VpcdClient client(card, options.host, options.port);
  if (!client.Start(10s)) {
    std::cerr << "tokvane-keysim: vpcd does not answer at " << options.host << ":" << options.port
              << " (is pcscd with the vpcd driver running?)\n";
    return 1;
  }
  Describe(options, key.get());

  const timespec poll{0, 200 * 1000 * 1000};
  for (;;) {
    const int signal = sigtimedwait(&stopSignals, nullptr, &poll);
    if (signal == SIGINT || signal == SIGTERM) break;
    if (client.IsRunning()) continue;
    // vpcd went away (pcscd stopped): the key is unplugged. Plug it in again when vpcd returns.
    if (key) key->PlugIn();
    if (client.Start(1s)) {
      std::cout << "tokvane-keysim: reconnected to vpcd" << std::endl;
    }
  }
  client.Stop();
  if (key && !key->StateFileError().empty()) {
    std::cerr << "tokvane-keysim: " << key->StateFileError() << "\n";
    return 1;
  }
  return 0;
}
