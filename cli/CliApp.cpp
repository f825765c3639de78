#include "cli/CliApp.h"

#include <memory>
#include <optional>

#include "BuildConfig.h"
#include "cli/CliArguments.h"
#include "cli/CliDeviceCommands.h"
#include "cli/CliHelp.h"
#include "cli/CliOutput.h"
#include "cli/CliOathCommands.h"
#include "cli/CliReporter.h"
#include "cli/Confirmation.h"
#include "cli/DemoKey.h"
#include "cli/QrImageFile.h"
#include "cli/SecretInput.h"
#include "core/Conversions.h"
#include "device/DeviceBackends.h"
#include "device/KeyModels.h"
#include "core/Translate.h"


namespace cli {

using tokvane::Substitute;
using tokvane::Tr;

namespace {

// Bytes of a put command's data field besides the name, the key and the moving factor: the key
// tag, its length, the two algorithm bytes, the digits, the name tag and its length.
constexpr std::size_t kPutOverhead = 7;
constexpr std::size_t kImfOverhead = 2;
constexpr std::size_t kMaxDataField = 255;

// True for the hex reader's "character N is not a hex digit", in the operator's language.
bool IsNotHexDigitError(const std::string& error) {
  const std::string_view pattern = Tr(kNotHexDigitText);
  const std::size_t place = pattern.find("%1");
  if (place == std::string_view::npos) return false;
  const std::string_view before = pattern.substr(0, place);
  const std::string_view after = pattern.substr(place + 2);
  return error.size() > before.size() + after.size() && error.starts_with(before) && error.ends_with(after);
}

ExitCode UsageError(CliReporter& reporter, const std::string& message) {
  const ExitCode code = reporter.Fail(ExitCode::Usage, message);
  if (!reporter.Json()) reporter.Notice(Tr("Try 'tokvane-cli --help'."));
  return code;
}

// Reads and checks the secret of `oath add`, and settles its digits and moving factor, before
// any key is touched.
bool PrepareSecret(CliArguments& args, CliStreams& streams, CliReporter& reporter, CredentialSecret& secret,
                   ExitCode& code) {
  SecretBuffer text;
  std::string error;
  const bool read = args.qrFile ? ReadQrImageFile(*args.qrFile, text, error)
                                : ReadSecretText(args.secretFile, streams.inFd, streams.err, text, error);
  if (!read) {
    code = reporter.Fail(ExitCode::Usage, error);
    return false;
  }
  if (!ParseSecret(text.Text(), args.format, secret, error)) {
    // Text read as hex that holds other characters may well be one of the other forms.
    const bool readAsHex = args.format == SecretFormat::Hex ||
                           (args.format == SecretFormat::Auto && !StartsWithOtpauthScheme(text.Text()));
    if (readAsHex && IsNotHexDigitError(error)) {
      error += Tr(" (use --format base32 or --format uri for the other forms)");
    }
    text.Clear();
    code = reporter.Fail(ExitCode::Usage, error);
    return false;
  }
  text.Clear();
  if (args.name.empty()) {
    // oath add --qr without a NAME: the URI's label names the credential, spaces dropped.
    args.name = RemoveSpaces(secret.name);
    if (args.name.empty() || args.name.size() > kMaxCredentialNameBytes) {
      code = reporter.Fail(ExitCode::Usage,
                           Substitute(Tr("the QR code's label makes no name of 1 to %1 bytes: give the NAME"),
                                      {std::to_string(kMaxCredentialNameBytes)}));
      return false;
    }
  }
  if (secret.digits && args.digits && *secret.digits != *args.digits) {
    code = reporter.Fail(ExitCode::Usage, Substitute(Tr("--digits %1 contradicts the URI's digits=%2"),
                                                     {std::to_string(*args.digits), std::to_string(*secret.digits)}));
    return false;
  }
  if (args.imf && secret.fromUri) {
    code = reporter.Fail(ExitCode::Usage, Tr("--imf does not go with a URI: its counter sets the moving factor"));
    return false;
  }
  const std::size_t imfLength = !secret.imf.empty() ? secret.imf.size() : args.imf.value_or("").size();
  const std::size_t dataField =
      secret.key.Size() + args.name.size() + kPutOverhead + (imfLength > 0 ? imfLength + kImfOverhead : 0);
  if (dataField > kMaxDataField) {
    code = reporter.Fail(ExitCode::Usage, Tr("the initial moving factor is too long for one command"));
    return false;
  }
  return true;
}

// The interfaces of configured keys are recognised by the VID/PID file beside the program or in
// its installed data directory; without one the maker's vendor ID stands for every key.
void LoadDeviceConfiguration(KeyModels& models, CliReporter& reporter) {
  std::string error;
  LoadKeyModels(VidPidConfigSearchPath(tokvane::build::kDataDir), models, &error);
  if (!error.empty()) reporter.Notice("tokvane-cli: " + PrintableText(error));
}

ExitCode Dispatch(const CommandInput& input) {
  switch (input.args.command) {
    case Command::Readers: return RunReaders(input);
    case Command::Info: return RunInfo(input);
    case Command::ModeShow: return RunModeShow(input);
    case Command::ModeSet: return RunModeSet(input);
    case Command::OathList:
    case Command::OathCode:
    case Command::OathAdd:
    case Command::OathDelete:
    case Command::OathDefault:
    case Command::OathReset: return RunOath(input);
    default: break;
  }
  return input.reporter.Fail(ExitCode::Usage, Tr("no subcommand given"));
}

}  // namespace

int RunCli(const std::vector<std::string>& args, CliStreams streams) {
  return RunCli(args, streams, SystemDeviceBackends());
}

int RunCli(const std::vector<std::string>& args, CliStreams streams, const DeviceBackends& system) {
  CliArguments parsed;
  std::string error;
  // --json counts even when the rest of the line is wrong, so a script gets its JSON error.
  bool json = false;
  for (const std::string& arg : args) {
    if (arg == "--") break;
    if (arg == "--json") json = true;
  }
  CliReporter reporter(streams.out, streams.err, json, streams.countdown);
  if (!ParseArguments(args, parsed, error)) return ToInt(UsageError(reporter, error));
  if (parsed.help) {
    streams.out << HelpText(parsed.command) << std::flush;
    return ToInt(ExitCode::Success);
  }

  CredentialSecret secret;
  // Filled once the key to talk to is known: after every question to the operator.
  DeviceBackends backends;
  CommandInput input{parsed, reporter, backends};
  if (parsed.command == Command::OathAdd) {
    ExitCode code = ExitCode::Success;
    if (!PrepareSecret(parsed, streams, reporter, secret, code)) return ToInt(code);
    input.secret = &secret;
  }
  if (parsed.command == Command::OathReset) {
    input.operatorAgreed =
        parsed.yes || ConfirmOnTerminal(streams.inFd, streams.err,
                                        Tr("The applet will be reset, all stored data will be discarded. Continue?"));
    if (!input.operatorAgreed) {
      return ToInt(reporter.Fail(
          ExitCode::Usage, IsTerminal(streams.inFd) ? Tr("not confirmed; nothing was sent")
                                                    : Tr("oath reset discards every credential: confirm with --yes")));
    }
  }

  std::unique_ptr<DemoKey> demo;
  if (parsed.demo) {
    demo = std::make_unique<DemoKey>(parsed.demoState.value_or(""));
    if (!demo->PlugIn(error)) return ToInt(reporter.Fail(ExitCode::Usage, error));
    backends = demo->Backends();
  } else {
    backends = system;
    LoadDeviceConfiguration(*backends.models, reporter);
  }
  return ToInt(Dispatch(input));
}

}  // namespace cli
