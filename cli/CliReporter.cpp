#include "cli/CliReporter.h"

#include <system_error>

#include "cli/CliOutput.h"

namespace cli {

ExitCode CliReporter::Fail(ExitCode code, std::string_view message, std::string_view status) {
  err_ << "tokvane-cli: " << message << '\n' << std::flush;
  if (json_) {
    JsonObject document;
    document.Text("error", message).Number("exitCode", ToInt(code));
    if (!status.empty()) document.Text("status", status);
    out_ << document.Str() << '\n' << std::flush;
  }
  return code;
}

void CliReporter::Line(std::string_view text) {
  if (!json_) out_ << text << '\n' << std::flush;
}

void CliReporter::JsonResult(std::string_view json) {
  if (json_) out_ << json << '\n' << std::flush;
}

void CliReporter::Notice(std::string_view text) { err_ << text << '\n' << std::flush; }

std::unique_ptr<TouchCountdown> CliReporter::CountDownTouch() {
  if (!countdown_.terminal || countdown_.seconds <= 0) return nullptr;
  try {
    return std::make_unique<TouchCountdown>(err_, countdown_.seconds, countdown_.second);
  } catch (const std::system_error&) {
    return nullptr;
  }
}

}  // namespace cli
