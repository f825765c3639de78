#pragma once
// The one copy of what many tests share: the secret of RFC 4226 appendix D with its published
// codes (the oracle the product's codes are checked against), byte and name helpers, and the
// virtual key holding two credentials.
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "core/Conversions.h"
#include "device/ApduCommand.h"
#include "keysim/VirtualKey.h"
#include "oath/OathCommands.h"

namespace test_keys {

using Bytes = std::vector<std::uint8_t>;

// RFC 4226, appendix D: the secret as text, bytes, hex and base32.
inline const std::string kRfcSecretText = "12345678901234567890";
inline const Bytes kRfcSecret(kRfcSecretText.begin(), kRfcSecretText.end());
inline const std::string kRfcSecretHex = "3132333435363738393031323334353637383930";
inline const std::string kRfcSecretBase32 = "GEZDGNBVGY3TQOJQGEZDGNBVGY3TQOJQ";
// The appendix's HOTP values for counts 0 to 9, and their last 8 digits.
inline const std::vector<std::string> kRfcCodes6 = {"755224", "287082", "359152", "969429", "338314",
                                                   "254676", "287922", "162583", "399871", "520489"};
inline const std::vector<std::string> kRfcCodes8 = {"84755224", "94287082", "37359152", "26969429", "40338314",
                                                   "68254676", "18287922", "82162583", "73399871", "45520489"};

// The HOTP code oathtool computes for the secret (in hex, or base32 with `base32`) at `counter`: an
// oracle that shares no code with the program. Empty when oathtool cannot be run
// (scripts/install-deps.sh installs it).
inline std::string Oathtool(const std::string& secret, unsigned digits, std::uint64_t counter, bool base32 = false) {
  const std::string command = std::string("oathtool --hotp ") + (base32 ? "-b " : "") + "-d " +
                              std::to_string(digits) + " -c " + std::to_string(counter) + " " + secret + " 2>/dev/null";
  std::string out;
  if (std::FILE* pipe = ::popen(command.c_str(), "r")) {
    char buffer[64];
    while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) out += buffer;
    ::pclose(pipe);
  }
  while (!out.empty() && out.back() == '\n') out.pop_back();
  return out;
}

inline std::string Hex(const Bytes& bytes) {
  return BytesToHex(bytes.data(), static_cast<std::uint32_t>(bytes.size()));
}

inline CApduCommand Command(const Bytes& bytes) {
  CApduCommand command;
  command.Parse(bytes.data(), bytes.size());
  return command;
}

// A command whose encoding is exactly `length` bytes (5: case 2; more: case 3, its data counting up).
inline CApduCommand CommandOfLength(std::size_t length) {
  Bytes bytes{0x80, 0xE3, 0x00, 0x00, 0x03};
  if (length > 5) {
    bytes = {0x00, 0xA4, 0x04, 0x00, static_cast<std::uint8_t>(length - 5)};
    for (std::size_t i = 5; i < length; ++i) bytes.push_back(static_cast<std::uint8_t>(i));
  }
  return Command(bytes);
}

inline std::vector<std::string> NamesOf(const std::vector<VirtualCredentialState>& credentials) {
  std::vector<std::string> names;
  for (const auto& credential : credentials) names.emplace_back(credential.name.begin(), credential.name.end());
  return names;
}

// A card that answers every command with the command itself and 90 00.
class EchoCard : public VirtualCard {
 public:
  Bytes Atr() override { return {0x3B, 0x00}; }
  void PowerOn() override {}
  void PowerOff() override {}
  void Reset() override {}
  Bytes ProcessApdu(const Bytes& command) override {
    Bytes answer = command;
    answer.insert(answer.end(), {0x90, 0x00});
    return answer;
  }
};

// A key holding "alpha" (6 digits) and "beta" (8 digits, the default), both of the RFC secret,
// written straight into it.
inline std::shared_ptr<VirtualKey> KeyWithTwoCredentials(bool useT0 = false) {
  VirtualKeyConfig config;
  config.useT0 = useT0;
  auto key = std::make_shared<VirtualKey>(config);
  key->ProcessApdu(BuildSelectOath());
  key->ProcessApdu(BuildPut(oath::kInsPut, "alpha", kRfcSecret, 6, ""));
  key->ProcessApdu(BuildPut(oath::kInsPut, "beta", kRfcSecret, 8, ""));
  key->ProcessApdu(BuildSetDefault("beta"));
  key->PowerOff();
  return key;
}

}  // namespace test_keys
