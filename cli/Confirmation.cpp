#include "cli/Confirmation.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <string>

namespace cli {

namespace {
constexpr std::size_t kMaxAnswer = 64;
}

bool IsTerminal(int fd) { return ::isatty(fd) == 1; }

bool ConfirmOnTerminal(int fd, std::ostream& prompt, std::string_view question) {
  if (!IsTerminal(fd)) return false;
  prompt << question << " [y/N] " << std::flush;
  std::string answer;
  for (;;) {
    char c = 0;
    const ssize_t got = ::read(fd, &c, 1);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0 || c == '\n') break;
    if (answer.size() < kMaxAnswer) answer.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
  }
  const auto notSpace = [](unsigned char c) { return !std::isspace(c); };
  answer.erase(answer.begin(), std::find_if(answer.begin(), answer.end(), notSpace));
  answer.erase(std::find_if(answer.rbegin(), answer.rend(), notSpace).base(), answer.end());
  return answer == "y" || answer == "yes";
}

}  // namespace cli
