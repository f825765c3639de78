#include "cli/CliDeviceCommands.h"

#include <string>
#include <vector>

#include "cli/CliOathHost.h"
#include "cli/CliOutput.h"
#include "cli/InterfaceModeText.h"
#include "cli/KeySession.h"
#include "device/InterfaceMode.h"
#include "oath/OathActions.h"
#include "core/Translate.h"

namespace cli {

using tokvane::Substitute;
using tokvane::Tr;

namespace {

std::string WithReason(std::string message, const std::string& reason) {
  if (!reason.empty()) message += ": " + PrintableText(reason);
  return message;
}

// The hint of what kept readers out of the listing, on standard error.
void NoticeHint(const readers::Listing& listing, CliReporter& reporter) {
  const std::string hint = readers::FixItHint(listing);
  if (!hint.empty()) reporter.Notice(hint);
}

}  // namespace

ExitCode RunReaders(const CommandInput& input) {
  const ReaderScan scan = ScanReaders(input.backends);
  std::vector<std::string> entries;
  for (const std::string& name : scan.listing.names) {
    const ReaderKind kind = ProbeReaderKind(input.backends, name);
    const bool preferred = name == scan.preferred;
    input.reporter.Line(PrintableText(name) + "\t" + ReaderKindName(kind) + (preferred ? "\tpreferred" : ""));
    entries.push_back(
        JsonObject().Text("name", name).Text("kind", ReaderKindName(kind)).Bool("preferred", preferred).Str());
  }
  input.reporter.JsonResult(JsonObject().Raw("readers", JsonArray(entries)).Str());
  NoticeHint(scan.listing, input.reporter);
  return ExitCode::Success;
}

ExitCode RunInfo(const CommandInput& input) {
  KeySession session(input.backends);
  ExitCode code = ExitCode::Success;
  std::string error;
  if (!session.Choose(input.args.reader, code, error)) return input.reporter.Fail(code, error);

  CountdownDevice device(session.Device(), input.reporter);
  CliOathHost host(device, input.reporter, false);
  OathActions actions(device, host);
  OathVersions versions;
  const OathOutcome outcome = actions.ShowVersions(&versions);
  const std::string reader = QuotedText(session.ReaderName());
  const std::string reason = PrintableText(actions.TransportReason());
  switch (outcome) {
    case OathOutcome::Done:
      break;
    case OathOutcome::NoAnswer:
      return input.reporter.Fail(
          ExitCode::NoDevice,
          WithReason(Substitute(Tr("the key on %1 stopped answering when asked for its versions"), {reader}), reason));
    case OathOutcome::Refused:
      // The versions action reports an unanswered query like a refused one: no status word tells.
      if (!actions.LastStatusWord()) {
        return input.reporter.Fail(ExitCode::NoDevice,
                                   WithReason(Substitute(Tr("no answer from the key on %1"), {reader}), reason));
      }
      return input.reporter.Fail(ExitCode::KeyRefused, Tr("the key did not tell its applet version"));
    case OathOutcome::SelectFailed:
      return input.reporter.Fail(ExitCode::NoDevice,
                                 WithReason(Substitute(Tr("cannot select the OATH applet on %1"), {reader}), reason));
    default:
      return input.reporter.Fail(ExitCode::NoDevice,
                                 WithReason(Substitute(Tr("cannot connect to %1"), {reader}), reason));
  }
  const std::string interfaces = FormatInterfaceSet(readers::ModeByteOf(session.Scan().present));
  input.reporter.Line(Substitute(Tr("Reader: %1"), {PrintableText(session.ReaderName())}));
  input.reporter.Line(
      Substitute(Tr("COS version: %1"), {versions.Cos.empty() ? std::string(Tr("unknown")) : versions.Cos}));
  input.reporter.Line(Substitute(Tr("Applet version: %1"), {versions.Applet}));
  input.reporter.Line(Substitute(Tr("Interfaces: %1"), {interfaces}));
  input.reporter.JsonResult(JsonObject()
                                .Text("reader", session.ReaderName())
                                .Raw("cosVersion", versions.Cos.empty() ? "null" : JsonQuote(versions.Cos))
                                .Text("appletVersion", versions.Applet)
                                .Text("interfaces", interfaces)
                                .Str());
  return ExitCode::Success;
}

ExitCode RunModeShow(const CommandInput& input) {
  const ReaderScan scan = ScanReaders(input.backends);
  const std::uint8_t mode = readers::ModeByteOf(scan.present);
  if (mode == 0) {
    NoticeHint(scan.listing, input.reporter);
    return input.reporter.Fail(ExitCode::NoDevice, Tr("no key found"));
  }
  input.reporter.Line(FormatInterfaceSet(mode));
  input.reporter.JsonResult(JsonObject()
                                .Text("interfaces", FormatInterfaceSet(mode))
                                .Bool("otp", (mode & kModeOtp) != 0)
                                .Bool("u2f", (mode & kModeU2f) != 0)
                                .Bool("ccid", (mode & kModeCcid) != 0)
                                .Number("modeByte", mode)
                                .Str());
  return ExitCode::Success;
}

ExitCode RunModeSet(const CommandInput& input) {
  if (!interface_mode::IsKnownMode(input.args.mode))
    return input.reporter.Fail(ExitCode::Usage, Tr("no interface chosen"));

  KeySession session(input.backends);
  ExitCode code = ExitCode::Success;
  std::string error;
  if (!session.Choose(input.args.reader, code, error)) return input.reporter.Fail(code, error);
  CountdownDevice device(session.Device(), input.reporter);
  const std::string reader = QuotedText(session.ReaderName());

  // The command goes out on a fresh connection, as the reader panel sends it.
  if (!interface_mode::OpenFreshConnection(device)) {
    return input.reporter.Fail(ExitCode::NoDevice, WithReason(Substitute(Tr("cannot connect to %1"), {reader}),
                                                              PrintableText(device.GetLastErrorText())));
  }
  PromptForTouchIfNeeded(device, input.reporter);

  const interface_mode::Answer sent = interface_mode::Send(device, input.args.mode);
  const CApduResponse& response = sent.response;
  const std::string reason = PrintableText(sent.reason);
  device.Close();
  const std::string interfaces = FormatInterfaceSet(input.args.mode);
  if (sent.exchanged && !response.HasStatusWord()) {
    return input.reporter.Fail(ExitCode::NoDevice,
                               WithReason(Substitute(Tr("the key on %1 stopped answering when asked to present %2"),
                                                     {reader, interfaces}),
                                          reason) +
                                   std::string("; ") + Tr(interface_mode::kMayHaveChanged));
  }
  switch (sent.outcome) {
    case interface_mode::Outcome::Applied:
      break;
    case interface_mode::Outcome::ExchangeFailed:
      return input.reporter.Fail(ExitCode::NoDevice,
                                 WithReason(Substitute(Tr("no answer from the key on %1"), {reader}), reason));
    case interface_mode::Outcome::TouchTimedOut:
      return input.reporter.Fail(ExitCode::KeyRefused,
                                 Tr("the key was not touched in time and kept its interfaces (status 69 84)"));
    case interface_mode::Outcome::Refused: {
      const std::string status = response.ToHex();
      return input.reporter.Fail(ExitCode::KeyRefused,
                                 Substitute(Tr("the key refused the interface mode %1 (status %2)"),
                                            {interfaces, status.substr(status.size() - 5)}));
    }
  }
  input.reporter.Line(
      Substitute(Tr("Interface mode set to %1. Unplug the key and plug it in again to use it."), {interfaces}));
  input.reporter.JsonResult(JsonObject()
                                .Text("reader", session.ReaderName())
                                .Text("interfaces", interfaces)
                                .Number("modeByte", input.args.mode)
                                .Bool("replugNeeded", true)
                                .Str());
  return ExitCode::Success;
}

}  // namespace cli
