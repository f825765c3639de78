#pragma once
// The command line of tokvane-cli: global options, the subcommand, its operands and options.
// Options may come before or after the subcommand; "--" ends them (for a name starting with '-').
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "oath/SecretFormats.h"

namespace cli {

enum class Command {
  None,  // no subcommand: only --help makes sense
  Readers,
  Info,
  Oath,  // the group alone: only its --help
  OathList,
  OathCode,
  OathAdd,
  OathDelete,
  OathDefault,
  OathReset,
  Mode,  // the group alone: only its --help
  ModeShow,
  ModeSet,
};

// Longest name a calculate command can carry (its data field holds the name and four more bytes).
inline constexpr std::size_t kMaxCommandNameBytes = 251;

struct CliArguments {
  Command command = Command::None;
  bool help = false;

  bool json = false;
  std::optional<std::string> reader;
  bool demo = false;
  std::optional<std::string> demoState;

  std::string name;       // oath code, add, delete, default; for add with its spaces removed
  std::uint8_t mode = 0;  // mode set

  std::string secretFile = "-";  // oath add
  std::optional<std::string> qrFile;  // oath add: the secret is the URI of this image's QR code
  SecretFormat format = SecretFormat::Auto;
  std::optional<std::uint8_t> digits;
  std::optional<std::string> imf;  // spaces removed, as the credentials panel does
  bool yes = false;                // oath reset
  bool force = false;              // oath add: write over a credential of the same name
};

// Parses the arguments after the program name. False with a one-line reason for an unknown
// subcommand or option, a missing or extra operand, an option that does not belong to the
// subcommand, or an operand out of bounds (name length, digits, interface set). With --help the
// operands are not required and only the subcommand has to be known.
bool ParseArguments(const std::vector<std::string>& args, CliArguments& out, std::string& error);

// "oath add", "mode set", ...; "" for None.
std::string_view CommandName(Command command);

}  // namespace cli
