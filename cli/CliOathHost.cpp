#include "cli/CliOathHost.h"

#include <algorithm>

#include "device/AppletSelection.h"
#include "oath/UserPresence.h"

namespace cli {

namespace {

std::string OneLine(std::string text) {
  std::replace(text.begin(), text.end(), '\n', ' ');
  const auto first = text.find_first_not_of(' ');
  if (first == std::string::npos) return {};
  const auto last = text.find_last_not_of(' ');
  return text.substr(first, last - first + 1);
}

}  // namespace

bool PromptForTouchIfNeeded(CountdownDevice& device, CliReporter& reporter) {
  if (NeedsUserPresence(device)) {
    reporter.Notice(tokvane::Tr(kTouchPrompt));
    device.CountDownNextExchange();
  }
  return true;
}

bool CliOathHost::SelectOathApplet() {
  if (!device_.IsOpen()) return false;
  // A refusing status word still counts as selected: the action's own command tells. An answer
  // without one does not: the key stopped answering, and nothing that follows would reach it.
  const applets::SelectionAnswer answer = applets::Select(device_, applets::Applet::Oath);
  return answer.exchanged && answer.response.HasStatusWord();
}

void CliOathHost::SelectFidoApplet() {
  if (!device_.IsOpen()) device_.Open();
  if (device_.IsOpen()) applets::Select(device_, applets::Applet::Fido);
  device_.Close();
}

bool CliOathHost::ConfirmUserPresence() { return PromptForTouchIfNeeded(device_, reporter_); }

bool CliOathHost::AskOperator(const std::string&, const std::string&) { return operatorAgreed_; }

void CliOathHost::TellOperator(const std::string&, const std::string& text) { lastFailure_ = text; }

std::string CliOathHost::LastFailureText() const { return OneLine(lastFailure_); }

}  // namespace cli
