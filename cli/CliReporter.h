#pragma once
// Where the CLI's results and failures go. Results go to standard output, as text or (--json) as
// one JSON document; failures are one line on standard error and, with --json, also a JSON
// document on standard output, so a script reading it always gets one. Prompts go to standard
// error so that standard output stays clean for scripts.
#include <memory>
#include <ostream>
#include <string>
#include <string_view>

#include "cli/CliExitCode.h"
#include "cli/TouchCountdown.h"

namespace cli {

class CliReporter {
 public:
  CliReporter(std::ostream& out, std::ostream& err, bool json, TouchCountdownStyle countdown = {})
      : out_(out), err_(err), json_(json), countdown_(countdown) {}

  bool Json() const { return json_; }

  // Prints `message` as the failure and returns `code`. `status`: the key's status word ("6A 82")
  // when it answered with one, kept in the JSON document.
  ExitCode Fail(ExitCode code, std::string_view message, std::string_view status = {});
  // One line of text output (a newline is added); ignored under --json.
  void Line(std::string_view text);
  // The JSON document of a result; ignored without --json.
  void JsonResult(std::string_view json);
  // A prompt or notice for the operator, on standard error.
  void Notice(std::string_view text);
  // The touch window counted down on standard error until the result is destroyed; null when
  // standard error is no terminal (or no thread can be had: the command goes out all the same).
  std::unique_ptr<TouchCountdown> CountDownTouch();

 private:
  std::ostream& out_;
  std::ostream& err_;
  bool json_;
  TouchCountdownStyle countdown_;
};

}  // namespace cli
