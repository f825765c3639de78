#include "oath/OathActions.h"

#include <openssl/rand.h>

#include <algorithm>
#include <array>
#include <cstdio>

#include "core/Conversions.h"
#include "oath/LocalHotp.h"
#include "oath/OathAnswers.h"
#include "core/Translate.h"

using tokvane::Substitute;
using tokvane::Tr;

namespace {

constexpr std::uint16_t kSwTouchTimeout = 0x6984;

// Messages of the actions, as the operator knows them.
constexpr const char* kTouchTimeout = N_("Confirm Time out.\n\n");
constexpr const char* kConnectCard = N_("Please connect card.\n");
constexpr const char* kConnectCardCalculate = N_("Please connect card\n");
constexpr const char* kConnectDevice = N_("Please connect device.\n");
constexpr const char* kSelectDevice = N_("Please select device.\n");
constexpr const char* kPulledOut = N_("The device has been pulled out.\n");

constexpr std::size_t kRandomKeyLength = 20;
constexpr std::size_t kSerialSourceLength = 4;
constexpr int kSerialDigits = 13;

SecureString SecretToHex(const SecureBytes& bytes) {
  SecureString text;
  text.str().reserve(bytes.size() * 3);
  AppendHex(text.str(), bytes.view(), HexLetters::Upper, HexPairs::Spaced);
  return text;
}

// A command's log entry: its hex text, every byte of `hidden` shown as "**" (the length and
// the bytes around stay readable), and the line ending.
std::string CommandEntry(const OathBytes& bytes, const std::string& ending, OathByteRange hidden = {}) {
  std::string entry;
  entry.reserve(bytes.size() * 3 + ending.size());
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (i != 0) entry.push_back(' ');
    if (i >= hidden.offset && i - hidden.offset < hidden.count) {
      entry += "**";
    } else {
      AppendHex(entry, OathByteView(bytes).subspan(i, 1), HexLetters::Upper, HexPairs::Spaced);
    }
  }
  entry += ending;
  return entry;
}

void WipeCommand(CApduCommand& command) {
  WipeBuffer(command.Data);
  WipeBuffer(command.RawBody);
}

}  // namespace

bool IsListedName(const std::vector<std::string>& listed, const std::string& name) {
  const std::string written = RemoveSpaces(name);
  return std::find(listed.begin(), listed.end(), written) != listed.end();
}

bool KeyAnswered(OathOutcome outcome) {
  return outcome == OathOutcome::Done || outcome == OathOutcome::Refused || outcome == OathOutcome::TouchTimeout ||
         outcome == OathOutcome::NoAnswer;
}

bool OathActions::OpenIfNeeded() {
  // Every action starts here: what the previous one learnt goes.
  statusWord_.reset();
  transportReason_.clear();
  if (!device_.IsOpen() && !device_.Open()) transportReason_ = device_.GetLastErrorText();
  return device_.IsOpen();
}

bool OathActions::SelectApplet() {
  if (host_.SelectOathApplet()) return true;
  // The selection may have shown a box; a device replaced meanwhile is not ours to close.
  if (host_.IsSameDevice()) {
    transportReason_ = device_.GetLastErrorText();
    device_.Close();
  }
  return false;
}

void OathActions::NoteAnswer(bool answered, const CApduResponse& response) {
  if (answered && response.HasStatusWord()) {
    statusWord_ = response.StatusWord();
    return;
  }
  statusWord_.reset();
  // The transport's reason for a failed exchange, or for an answer without a status word.
  transportReason_ = device_.GetLastErrorText();
}

bool OathActions::ConfirmPresence(const char* goneMessage, OathOutcome& outcome) {
  const bool confirmed = host_.ConfirmUserPresence();
  if (!host_.IsSameDevice()) {
    if (confirmed) host_.LogFailure(goneMessage);
    outcome = confirmed ? OathOutcome::DeviceGone : OathOutcome::Declined;
    return false;
  }
  if (!confirmed) {
    outcome = OathOutcome::Declined;
    return false;
  }
  return true;
}

bool OathActions::SendLogged(const OathBytes& bytes, const std::string& ending, CApduResponse& response,
                             std::optional<OathByteRange> secret, const char* uncertainEffect) {
  CApduCommand command = CommandFromBytes(bytes);
  lastCommandEntry_ = CommandEntry(bytes, ending, secret.value_or(OathByteRange{}));
  host_.LogCommand(lastCommandEntry_);
  const bool answered = device_.Exchange(command, response);
  // Read before closing: closing may leave a reason of its own.
  NoteAnswer(answered, response);
  device_.Close();
  if (secret) WipeCommand(command);
  // The command may have reached the key before the connection broke.
  if (!answered) LogNoStatusWord(uncertainEffect);
  return answered;
}

bool OathActions::SendQuietly(const OathBytes& bytes, CApduResponse& response) {
  const CApduCommand command = CommandFromBytes(bytes);
  return device_.Exchange(command, response);
}

OathOutcome OathActions::LogRefusal(const CApduResponse& response, const std::string& errorText,
                                    const char* uncertainEffect) {
  if (!response.HasStatusWord()) {
    LogNoStatusWord(uncertainEffect);
    return OathOutcome::NoAnswer;
  }
  if (response.StatusWord() == kSwTouchTimeout) {
    host_.LogFailure(Tr(kTouchTimeout));
  } else {
    host_.LogFailure(errorText);
  }
  LogAnswer(response);
  return response.StatusWord() == kSwTouchTimeout ? OathOutcome::TouchTimeout : OathOutcome::Refused;
}

void OathActions::LogNoStatusWord(const char* uncertainEffect) {
  // Nothing (or no status word) came back, so nothing was refused: the reason, and what may have
  // happened anyway.
  std::string entry = transportReason_;
  if (uncertainEffect != nullptr) {
    if (!entry.empty() && entry.back() == '.') entry.pop_back();
    entry += std::string("; ") + Tr(uncertainEffect);
  }
  host_.LogFailure(entry + "\n");
}

void OathActions::LogAnswer(const CApduResponse& response, const std::string& ending) {
  host_.LogAnswer("<< " + response.ToHex() + ending);
}

OathOutcome OathActions::List(bool hidDevice, OathListResult& result) {
  result = {};
  if (!OpenIfNeeded()) {
    result.QueryDefault = true;
    return OathOutcome::NotOpen;
  }
  if (!SelectApplet()) return OathOutcome::SelectFailed;
  if (hidDevice) {
    // The HID keys expect this query before a listing; its answer tells nothing here.
    CApduResponse ignored;
    SendQuietly(BuildGetCosVersion(), ignored);
  }
  host_.LogSuccess(Tr("List ins \n"));

  const CApduCommand parsed = CommandFromBytes(BuildList());
  host_.LogCommand(parsed.ToHex() + "\n\n");
  CApduResponse answer;
  const bool answered = device_.Exchange(parsed, answer);
  NoteAnswer(answered, answer);
  device_.Close();
  if (!answered) {
    host_.LogFailure(Tr("The hid protocl not support list name ins.\n\n") + transportReason_ + "\n");
    return OathOutcome::ExchangeFailed;
  }

  OathOutcome outcome = OathOutcome::Done;
  if (answer.IsSuccess()) {
    for (const OathListEntry& entry : ParseListResponse(answer.Data.data(), answer.Data.size())) {
      result.Names.emplace_back(entry.Name.begin(), entry.Name.end());
    }
    host_.LogSuccess(Tr("List ins successfully.\n\n"));
    host_.LogCommand(parsed.ToHex() + "\n\n");
  } else if (!answer.HasStatusWord()) {
    LogNoStatusWord(nullptr);
    return OathOutcome::NoAnswer;
  } else {
    host_.LogFailure(Tr("List ins error.\n\n"));
    outcome = OathOutcome::Refused;
  }
  LogAnswer(answer, "\n\n");
  result.QueryDefault = true;
  return outcome;
}

OathOutcome OathActions::GetDefault(std::optional<std::string>& defaultName) {
  defaultName.reset();
  if (!OpenIfNeeded()) {
    host_.LogFailure(Tr(kConnectCard));
    return OathOutcome::NotOpen;
  }
  if (!SelectApplet()) return OathOutcome::SelectFailed;
  CApduResponse answer;
  if (!SendLogged(BuildGetDefault(), "\n", answer)) return OathOutcome::ExchangeFailed;
  OathOutcome outcome = OathOutcome::Done;
  if (answer.IsSuccess()) {
    // The name comes as raw bytes; it is kept as they are, so any name can be matched.
    defaultName.emplace(answer.Data.begin(), answer.Data.end());
    host_.LogCommand(lastCommandEntry_);
  } else if (!answer.HasStatusWord()) {
    LogNoStatusWord(nullptr);
    return OathOutcome::NoAnswer;
  } else {
    // A missing touch is no different here from any other refusal.
    host_.LogFailure(Tr("Get default user error.\n"));
    outcome = OathOutcome::Refused;
  }
  LogAnswer(answer);
  return outcome;
}

OathOutcome OathActions::ShowVersions(OathVersions* versions) {
  if (!OpenIfNeeded()) {
    host_.TellOperator(Tr("Applet version"), Tr("Can't connect the device."));
    if (host_.IsSameDevice()) host_.SelectFidoApplet();
    return OathOutcome::NotOpen;
  }
  if (!SelectApplet()) return OathOutcome::SelectFailed;

  const CApduCommand appletQuery = CommandFromBytes(BuildGetAppletVersion());
  host_.LogCommand(appletQuery.ToHex() + "\n");
  CApduResponse appletAnswer;
  const bool appletAnswered = device_.Exchange(appletQuery, appletAnswer);
  NoteAnswer(appletAnswered, appletAnswer);
  const auto applet = appletAnswer.IsSuccess()
                          ? ReadAppletVersion(appletAnswer.Data.data(), appletAnswer.Data.size())
                          : std::nullopt;
  if (!applet) {
    host_.TellOperator(Tr("Applet Otp Version"), Tr("Can't get the applet version."));
    if (host_.IsSameDevice()) host_.SelectFidoApplet();
    return appletAnswered && !appletAnswer.HasStatusWord() ? OathOutcome::NoAnswer : OathOutcome::Refused;
  }
  OathVersions shown;
  shown.Applet = FormatAppletVersion(*applet);
  CApduResponse cosAnswer;
  if (SendQuietly(BuildGetCosVersion(), cosAnswer) && cosAnswer.IsSuccess()) {
    if (const auto cos = ReadCosVersion(cosAnswer.Data.data(), cosAnswer.Data.size())) {
      shown.Cos = FormatCosVersion(*cos);
    }
  }
  device_.Close();
  const std::string appletText = Substitute(Tr("Applet version: %1"), {shown.Applet});
  const std::string cosText = Substitute(Tr("Cos version: %1"), {shown.Cos});
  if (versions != nullptr) *versions = std::move(shown);
  host_.TellOperator(Tr("Otp Version  "), appletText + "   " + cosText);
  if (host_.IsSameDevice()) host_.SelectFidoApplet();
  return OathOutcome::Done;
}

OathOutcome OathActions::Reset() {
  if (!OpenIfNeeded()) {
    host_.LogFailure(Tr(kConnectDevice));
    return OathOutcome::NotOpen;
  }
  if (!SelectApplet()) return OathOutcome::SelectFailed;
  const bool confirmed =
      host_.AskOperator(Tr("Warning"), Tr("The applet will be reset, all stored data will be discarded."));
  if (!confirmed) {
    if (host_.IsSameDevice()) device_.Close();
    return OathOutcome::Declined;
  }
  if (!host_.IsSameDevice()) {
    host_.LogFailure(Tr(kConnectDevice));
    return OathOutcome::DeviceGone;
  }
  OathOutcome outcome = OathOutcome::Done;
  if (!ConfirmPresence(Tr(kConnectDevice), outcome)) return outcome;

  CApduResponse answer;
  if (!SendLogged(BuildReset(), "\n", answer, std::nullopt, oath_uncertain::kErased)) return OathOutcome::ExchangeFailed;
  if (!answer.IsSuccess()) return LogRefusal(answer, Tr("Reset int error.\n"), oath_uncertain::kErased);
  host_.LogCommand(lastCommandEntry_);
  LogAnswer(answer);
  return outcome;
}

OathOutcome OathActions::RefuseInput(const char* text) {
  host_.TellOperator(Tr("Warning"), text);
  if (!host_.IsSameDevice()) {
    host_.LogFailure(Tr(kPulledOut));
  } else {
    device_.Close();
  }
  return OathOutcome::InvalidInput;
}

OathOutcome OathActions::Personalize(const OathPersonalizeInput& input, OathWrittenCredential& written) {
  if (!OpenIfNeeded()) {
    host_.LogFailure(Tr(kSelectDevice));
    return OathOutcome::NotOpen;
  }
  if (!SelectApplet()) return OathOutcome::SelectFailed;

  const std::string name = RemoveSpaces(input.Name);
  if (name.empty()) return RefuseInput(Tr("Invalid name"));
  if (input.Key && input.Key->empty()) return RefuseInput(Tr("Invalid key"));
  if (name.size() > kMaxNameLength) {
    host_.LogFailure(Tr("Serial number length can not more than 16 bytes.\n\n"));
    return OathOutcome::InvalidInput;
  }
  if (!input.Key) return RefuseInput(input.KeyError.empty() ? Tr("Invalid key") : input.KeyError.c_str());
  const SecureBytes& key = *input.Key;
  if (key.size() > kMaxKeyLength) {
    host_.LogFailure(Tr("Secret key length can not more than 48 bytes.\n\n"));
    return OathOutcome::InvalidInput;
  }
  // The key keeps one secret per name and cannot hand the old one back: writing over it loses a
  // login for good unless the operator means it.
  if (input.ListedNames && IsListedName(*input.ListedNames, name)) {
    const bool replace = host_.AskToReplace(name);
    if (!host_.IsSameDevice()) {
      if (replace) host_.LogFailure(Tr(kPulledOut));
      return replace ? OathOutcome::DeviceGone : OathOutcome::Declined;
    }
    if (!replace) {
      device_.Close();
      return OathOutcome::Declined;
    }
  }
  const int digits = input.EightDigits ? 8 : 6;
  const std::string imf = input.ImfVerbatim ? input.Imf : RemoveSpaces(input.Imf);

  OathBytes put = BuildPut(oath::kInsPut, name, key.view(), static_cast<std::uint8_t>(digits), imf);
  if (put.empty()) {
    // Only a long imf text can make the command exceed its one-byte length.
    host_.LogFailure(Tr("Initial moving factor too long.\n\n"));
    return OathOutcome::InvalidInput;
  }
  OathOutcome outcome = OathOutcome::Done;
  if (!ConfirmPresence(Tr(kPulledOut), outcome)) {
    WipeBuffer(put);
    return outcome;
  }

  CApduResponse answer;
  const bool answered = SendLogged(put, "\n", answer, PutKeyRange(put), oath_uncertain::kWritten);
  WipeBuffer(put);
  if (!answered) return OathOutcome::ExchangeFailed;
  if (!answer.IsSuccess()) return LogRefusal(answer, Tr("Put ins error.\n\n"), oath_uncertain::kWritten);
  written.Name = name;
  written.Key = key;
  written.Digits = digits;
  written.Imf = imf;
  host_.LogSuccess(Tr("put data successful\n"));
  host_.LogSuccess(Tr("Personalization successful.\n"));
  LogAnswer(answer);
  return outcome;
}

OathOutcome OathActions::Calculate(const OtpCredential& credential, OathCalculation& result) {
  result = {};
  // The record may be gone once a box has been open: work on copies.
  const std::string name = credential.Name;
  const SecureBytes key = credential.Key;
  const unsigned digits = static_cast<unsigned>(credential.Digits);
  const std::string imf = credential.Imf;
  const std::uint32_t matchCount = credential.MatchCount;

  if (!OpenIfNeeded()) {
    host_.LogFailure(Tr(kConnectCardCalculate));
    return OathOutcome::NotOpen;
  }
  if (!SelectApplet()) return OathOutcome::SelectFailed;
  const OathBytes command = BuildCalculate(name);
  if (command.empty()) {
    // A name too long for one command: nothing to send, and no touch to ask for.
    device_.Close();
    host_.LogFailure(Tr("Calculate fail.\n"));
    return OathOutcome::InvalidInput;
  }
  OathOutcome outcome = OathOutcome::Done;
  if (!ConfirmPresence(Tr(kConnectCardCalculate), outcome)) return outcome;
  CApduResponse answer;
  if (!SendLogged(command, "\n", answer)) return OathOutcome::ExchangeFailed;
  const auto parsed = answer.IsSuccess() ? ParseCalcAnswer(answer.Data.data(), answer.Data.size()) : std::nullopt;
  const std::string cardCode = parsed ? FormatCode(*parsed) : std::string();
  // An answer too short to hold a code is no code either.
  if (!answer.IsSuccess() || cardCode.empty()) return LogRefusal(answer, Tr("Calculate fail.\n"));
  result.CardCode = cardCode;
  result.LocalCode = ComputeLocalHotp(key.view(), digits, imf, matchCount);
  result.Matched = !result.LocalCode.empty() && result.LocalCode == result.CardCode;
  host_.LogCommand(lastCommandEntry_);
  LogAnswer(answer);
  return outcome;
}

OathOutcome OathActions::NamedCommand(const OathBytes& command, const char* notOpen, const char* errorText,
                                      const char* uncertainEffect) {
  if (!OpenIfNeeded()) {
    host_.LogFailure(notOpen);
    return OathOutcome::NotOpen;
  }
  if (!SelectApplet()) return OathOutcome::SelectFailed;
  if (command.empty()) {
    // A name too long for one command: nothing to send, and no touch to ask for.
    device_.Close();
    host_.LogFailure(errorText);
    return OathOutcome::InvalidInput;
  }
  OathOutcome outcome = OathOutcome::Done;
  if (!ConfirmPresence(notOpen, outcome)) return outcome;
  CApduResponse answer;
  if (!SendLogged(command, "\n", answer, std::nullopt, uncertainEffect)) return OathOutcome::ExchangeFailed;
  if (!answer.IsSuccess()) return LogRefusal(answer, errorText, uncertainEffect);
  host_.LogCommand(lastCommandEntry_);
  LogAnswer(answer);
  return outcome;
}

OathOutcome OathActions::Delete(const std::string& name) {
  return NamedCommand(BuildDelete(std::string_view(name)), Tr(kConnectCard), Tr("Delete ins error.\n"),
                      oath_uncertain::kDeleted);
}

OathOutcome OathActions::SetDefault(const std::string& name) {
  return NamedCommand(BuildSetDefault(std::string_view(name)), Tr(kConnectCard), Tr("Set default user error.\n"),
                      oath_uncertain::kDefaultChanged);
}

bool GenerateRandomCredential(SecureString& keyText, std::string& name) {
  return GenerateRandomCredential(keyText, name, RAND_bytes);
}

bool GenerateRandomCredential(SecureString& keyText, std::string& name, OathRandomSource random) {
  SecureBytes secret(kRandomKeyLength);
  std::array<std::uint8_t, kSerialSourceLength> serial{};
  if (random == nullptr || random(secret.data(), static_cast<int>(secret.size())) != 1 ||
      random(serial.data(), static_cast<int>(serial.size())) != 1) {
    return false;
  }
  // The serial number reads the first four characters of the bytes' hex text ("AB C") as one
  // big-endian number, so it always has 13 digits of which at least the first three are zeros.
  const std::string serialHex = BytesToHex(serial.data(), static_cast<std::uint32_t>(serial.size()));
  unsigned long number = 0;
  for (std::size_t i = 0; i < 4; ++i) number = (number << 8) | static_cast<unsigned char>(serialHex[i]);
  char text[32];
  std::snprintf(text, sizeof text, "%.*lu", kSerialDigits, number);

  keyText = SecretToHex(secret);
  name = text;
  return true;
}
