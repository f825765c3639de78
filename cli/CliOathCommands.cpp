#include "cli/CliOathCommands.h"

#include <optional>
#include <string>
#include <vector>

#include "cli/CliOathHost.h"
#include "cli/CliOutput.h"
#include "cli/KeySession.h"
#include "core/Conversions.h"
#include "oath/OathActions.h"
#include "core/Translate.h"

namespace cli {

using tokvane::Substitute;
using tokvane::Tr;

namespace {

// The key's answer for a name it does not hold.
constexpr std::uint16_t kSwNoSuchCredential = 0x6A82;

// "6A 82", as the key's status words are written everywhere.
std::string StatusWordText(std::uint16_t statusWord) {
  const std::uint8_t bytes[2] = {static_cast<std::uint8_t>(statusWord >> 8), static_cast<std::uint8_t>(statusWord)};
  return BytesToHex(bytes, 2);
}

std::string WithReason(std::string message, const std::string& reason) {
  if (!reason.empty()) message += ": " + reason;
  return message;
}

// The exit code and one-line message of an action that did not end in Done. `uncertainEffect`
// says what may have happened on the key when it stopped answering mid-command. `name`: the
// credential the command named, for the key's "no such credential" answer.
ExitCode ReportOutcome(OathOutcome outcome, const std::string& what, KeySession& session, const OathActions& actions,
                       const CliOathHost& host, CliReporter& reporter, const char* uncertainEffect = nullptr,
                       const std::string* name = nullptr) {
  const std::string reader = QuotedText(session.ReaderName());
  const std::string reason = PrintableText(actions.TransportReason());
  const std::optional<std::uint16_t> status = actions.LastStatusWord();
  const std::string mayHaveHappened =
      uncertainEffect != nullptr ? std::string("; ") + Tr(uncertainEffect) : std::string();
  switch (outcome) {
    case OathOutcome::Done:
      return ExitCode::Success;
    case OathOutcome::Refused:
      if (name != nullptr && status == kSwNoSuchCredential) {
        return reporter.Fail(ExitCode::KeyRefused,
                             Substitute(Tr("no credential named %1 on the key"), {QuotedText(*name)}),
                             StatusWordText(*status));
      }
      return reporter.Fail(ExitCode::KeyRefused,
                           status ? Substitute(Tr("the key refused to %1 (status %2)"), {what, StatusWordText(*status)})
                                  : Substitute(Tr("the key refused to %1"), {what}),
                           status ? StatusWordText(*status) : std::string());
    case OathOutcome::TouchTimeout:
      return reporter.Fail(ExitCode::KeyRefused,
                           Substitute(Tr("the key was not touched in time and did not %1 (status 69 84)"), {what}),
                           "69 84");
    case OathOutcome::ExchangeFailed:
      // The command may have reached the key before the connection broke.
      return reporter.Fail(ExitCode::NoDevice,
                           WithReason(Substitute(Tr("no answer from the key on %1"), {reader}), reason) +
                               mayHaveHappened);
    case OathOutcome::NoAnswer:
      // Nothing came back, so nothing was refused: the key went (pulled out) or broke off.
      return reporter.Fail(
          ExitCode::NoDevice,
          WithReason(Substitute(Tr("the key on %1 stopped answering when asked to %2"), {reader, what}), reason) +
              mayHaveHappened);
    case OathOutcome::NotOpen:
      return reporter.Fail(ExitCode::NoDevice, WithReason(Substitute(Tr("cannot connect to %1"), {reader}), reason));
    case OathOutcome::SelectFailed:
      return reporter.Fail(ExitCode::NoDevice,
                           WithReason(Substitute(Tr("cannot select the OATH applet on %1"), {reader}), reason));
    case OathOutcome::DeviceGone:
      return reporter.Fail(ExitCode::NoDevice, Tr("the key went away during the action"));
    case OathOutcome::Declined:
      return reporter.Fail(ExitCode::Usage, Tr("not confirmed; nothing was sent"));
    case OathOutcome::InvalidInput:
      return reporter.Fail(ExitCode::Usage,
                           Substitute(Tr("the key cannot take this input: %1"), {host.LastFailureText()}));
  }
  return ExitCode::NoDevice;
}

// After an answer the key goes back to its FIDO applet; a key that stopped answering is not
// asked again (it is gone, and asking the reader once more only delays the message).
bool ReselectFido(OathOutcome outcome) { return KeyAnswered(outcome) && outcome != OathOutcome::NoAnswer; }

ExitCode List(const CommandInput& input, KeySession& session, OathActions& actions, CliOathHost& host) {
  OathListResult list;
  const OathOutcome outcome = actions.List(session.IsHid(), list);
  std::optional<std::string> defaultName;
  bool defaultKnown = false;
  if (outcome == OathOutcome::Done && list.QueryDefault) {
    defaultKnown = actions.GetDefault(defaultName) == OathOutcome::Done;
  }
  host.SelectFidoApplet();
  if (outcome != OathOutcome::Done) {
    // TRANSLATORS: completes "the key refused to %1" and the like.
    return ReportOutcome(outcome, Tr("list its credentials"), session, actions, host, input.reporter);
  }
  if (!defaultKnown)
    input.reporter.Notice(std::string("tokvane-cli: ") + Tr("the key did not tell its default credential"));

  std::vector<std::string> entries;
  for (const std::string& name : list.Names) {
    const bool isDefault = defaultName && !defaultName->empty() && *defaultName == name;
    input.reporter.Line((isDefault ? "* " : "  ") + PrintableText(name));
    entries.push_back(JsonObject().Text("name", name).Bool("default", isDefault).Str());
  }
  input.reporter.JsonResult(JsonObject()
                                .Text("reader", session.ReaderName())
                                .Raw("credentials", JsonArray(entries))
                                .Raw("default", defaultName && !defaultName->empty() ? JsonQuote(*defaultName) : "null")
                                .Str());
  return ExitCode::Success;
}

ExitCode Code(const CommandInput& input, KeySession& session, OathActions& actions, CliOathHost& host) {
  // Only the name: the secret is not known here, so there is no local check to make.
  OtpCredential credential;
  credential.Name = input.args.name;
  OathCalculation result;
  const OathOutcome outcome = actions.Calculate(credential, result);
  if (ReselectFido(outcome)) host.SelectFidoApplet();
  if (outcome != OathOutcome::Done) {
    return ReportOutcome(outcome, Substitute(Tr("calculate a code for %1"), {QuotedText(input.args.name)}), session,
                         actions, host, input.reporter, nullptr, &input.args.name);
  }
  input.reporter.Line(result.CardCode);
  input.reporter.JsonResult(JsonObject()
                                .Text("reader", session.ReaderName())
                                .Text("name", input.args.name)
                                .Text("code", result.CardCode)
                                .Str());
  return ExitCode::Success;
}

// The key's credentials are listed before one is written: a credential of the same name would be
// replaced, and its secret cannot be read back. Unless --force says so, nothing is written then.
// True when the write may go ahead; otherwise `code` holds the exit code, reported.
bool NothingToReplace(const CommandInput& input, KeySession& session, OathActions& actions, CliOathHost& host,
                      ExitCode& code) {
  if (input.args.force) return true;
  OathListResult list;
  const OathOutcome outcome = actions.List(session.IsHid(), list);
  if (outcome != OathOutcome::Done) {
    if (ReselectFido(outcome)) host.SelectFidoApplet();
    code = ReportOutcome(outcome, Tr("list its credentials"), session, actions, host, input.reporter);
    return false;
  }
  if (!IsListedName(list.Names, input.args.name)) return true;
  host.SelectFidoApplet();
  code = input.reporter.Fail(ExitCode::KeyRefused,
                             Substitute(Tr("a credential named %1 is already on the key; --force replaces it (its old "
                                           "secret is lost)"),
                                        {QuotedText(input.args.name)}));
  return false;
}

ExitCode Add(const CommandInput& input, KeySession& session, OathActions& actions, CliOathHost& host) {
  ExitCode refused = ExitCode::Success;
  if (!NothingToReplace(input, session, actions, host, refused)) return refused;
  const CredentialSecret& secret = *input.secret;
  OathPersonalizeInput personalize;
  personalize.Name = input.args.name;
  personalize.Key = SecureBytes(secret.key.Bytes());
  const int digits = secret.digits.value_or(input.args.digits.value_or(6));
  personalize.EightDigits = digits == 8;
  if (!secret.imf.empty()) {
    personalize.Imf = secret.imf;
    personalize.ImfVerbatim = true;
  } else {
    personalize.Imf = input.args.imf.value_or("");
  }

  OathWrittenCredential written;
  const OathOutcome outcome = actions.Personalize(personalize, written);
  if (ReselectFido(outcome)) host.SelectFidoApplet();
  if (outcome != OathOutcome::Done) {
    return ReportOutcome(outcome, "write " + QuotedText(input.args.name), session, actions, host, input.reporter,
                         oath_uncertain::kWritten);
  }
  input.reporter.Line("Credential " + QuotedText(written.Name) + " written (" + std::to_string(written.Digits) +
                      " digits).");
  input.reporter.JsonResult(JsonObject()
                                .Text("reader", session.ReaderName())
                                .Text("name", written.Name)
                                .Number("digits", written.Digits)
                                .Bool("written", true)
                                .Str());
  return ExitCode::Success;
}

ExitCode Delete(const CommandInput& input, KeySession& session, OathActions& actions, CliOathHost& host) {
  const OathOutcome outcome = actions.Delete(input.args.name);
  if (ReselectFido(outcome)) host.SelectFidoApplet();
  if (outcome != OathOutcome::Done) {
    return ReportOutcome(outcome, "delete " + QuotedText(input.args.name), session, actions, host, input.reporter,
                         oath_uncertain::kDeleted, &input.args.name);
  }
  input.reporter.Line("Credential " + QuotedText(input.args.name) + " deleted.");
  input.reporter.JsonResult(
      JsonObject().Text("reader", session.ReaderName()).Text("name", input.args.name).Bool("deleted", true).Str());
  return ExitCode::Success;
}

ExitCode Default(const CommandInput& input, KeySession& session, OathActions& actions, CliOathHost& host) {
  const OathOutcome outcome = actions.SetDefault(input.args.name);
  if (ReselectFido(outcome)) host.SelectFidoApplet();
  if (outcome != OathOutcome::Done) {
    return ReportOutcome(outcome, Substitute(Tr("make %1 the default"), {QuotedText(input.args.name)}), session,
                         actions, host, input.reporter, nullptr, &input.args.name);
  }
  input.reporter.Line(Substitute(Tr("Credential %1 is now the default."), {QuotedText(input.args.name)}));
  input.reporter.JsonResult(
      JsonObject().Text("reader", session.ReaderName()).Text("name", input.args.name).Bool("default", true).Str());
  return ExitCode::Success;
}

ExitCode Reset(const CommandInput& input, KeySession& session, OathActions& actions, CliOathHost& host) {
  const OathOutcome outcome = actions.Reset();
  if (ReselectFido(outcome)) host.SelectFidoApplet();
  if (outcome != OathOutcome::Done) {
    return ReportOutcome(outcome, Tr("reset its OATH applet"), session, actions, host, input.reporter,
                         oath_uncertain::kErased);
  }
  input.reporter.Line(Tr("OATH applet reset: every credential is gone."));
  input.reporter.JsonResult(JsonObject().Text("reader", session.ReaderName()).Bool("reset", true).Str());
  return ExitCode::Success;
}

}  // namespace

ExitCode RunOath(const CommandInput& input) {
  KeySession session(input.backends);
  ExitCode code = ExitCode::Success;
  std::string error;
  if (!session.Choose(input.args.reader, code, error)) return input.reporter.Fail(code, error);

  // Every exchange goes through the countdown's transport: the guarded one is counted down.
  CountdownDevice device(session.Device(), input.reporter);
  CliOathHost host(device, input.reporter, input.operatorAgreed);
  OathActions actions(device, host);
  switch (input.args.command) {
    case Command::OathList: return List(input, session, actions, host);
    case Command::OathCode: return Code(input, session, actions, host);
    case Command::OathAdd: return Add(input, session, actions, host);
    case Command::OathDelete: return Delete(input, session, actions, host);
    case Command::OathDefault: return Default(input, session, actions, host);
    case Command::OathReset: return Reset(input, session, actions, host);
    default: break;
  }
  return input.reporter.Fail(ExitCode::Usage, Tr("not an oath subcommand"));
}

}  // namespace cli
