#pragma once
// The OATH actions' surroundings in a terminal: nothing is logged (command entries may carry a
// secret), the applets are selected as the desktop program selects them, a key that wants a touch
// gets a prompt on standard error before the command goes out, and the operator's answers were
// collected before the action started.
#include <string>

#include "cli/CliReporter.h"
#include "cli/TouchCountdown.h"
#include "device/DeviceInterface.h"
#include "oath/OathActions.h"
#include "core/Translate.h"

namespace cli {

// The prompt shown on standard error before a command the key carries out only after a touch.
inline constexpr const char* kTouchPrompt = N_("Please touch the blinking space on FIDO device within 3 seconds.");

// Shows kTouchPrompt when the key wants a touch (asking it over the open `device`), and has the
// touch window counted down while the next exchange (the guarded command) is on its way; always
// true: the command goes out at once so the touch falls inside the key's waiting time.
bool PromptForTouchIfNeeded(CountdownDevice& device, CliReporter& reporter);

class CliOathHost : public OathActionHost {
 public:
  // `operatorAgreed`: the answer to any question an action asks (given by --yes or at the
  // terminal before the action started).
  CliOathHost(CountdownDevice& device, CliReporter& reporter, bool operatorAgreed)
      : device_(device), reporter_(reporter), operatorAgreed_(operatorAgreed) {}

  void LogCommand(const std::string&) override {}
  void LogAnswer(const std::string&) override {}
  void LogSuccess(const std::string&) override {}
  void LogFailure(const std::string& entry) override { lastFailure_ = entry; }
  bool SelectOathApplet() override;
  void SelectFidoApplet() override;
  bool ConfirmUserPresence() override;
  bool AskOperator(const std::string& title, const std::string& text) override;
  void TellOperator(const std::string& title, const std::string& text) override;
  bool IsSameDevice() override { return true; }

  // The last failure or notice text of the action, on one line, without its line breaks.
  std::string LastFailureText() const;

 private:
  CountdownDevice& device_;
  CliReporter& reporter_;
  bool operatorAgreed_;
  std::string lastFailure_;
};

}  // namespace cli
