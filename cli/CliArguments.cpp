#include "cli/CliArguments.h"

#include <algorithm>
#include <array>
#include <initializer_list>
#include <optional>

#include "cli/InterfaceModeText.h"
#include "core/Conversions.h"
#include "core/Translate.h"

namespace cli {

using tokvane::Substitute;
using tokvane::Tr;

namespace {

// The names --format takes.
std::optional<SecretFormat> ParseSecretFormat(std::string_view name) {
  if (name == "auto") return SecretFormat::Auto;
  if (name == "hex") return SecretFormat::Hex;
  if (name == "base32") return SecretFormat::Base32;
  if (name == "uri") return SecretFormat::Uri;
  return std::nullopt;
}

struct CommandWord {
  Command group;  // None for top-level words
  std::string_view word;
  Command command;
};

constexpr std::array<CommandWord, 12> kCommandWords{{
    {Command::None, "readers", Command::Readers},
    {Command::None, "info", Command::Info},
    {Command::None, "oath", Command::Oath},
    {Command::None, "mode", Command::Mode},
    {Command::Oath, "list", Command::OathList},
    {Command::Oath, "code", Command::OathCode},
    {Command::Oath, "add", Command::OathAdd},
    {Command::Oath, "delete", Command::OathDelete},
    {Command::Oath, "default", Command::OathDefault},
    {Command::Oath, "reset", Command::OathReset},
    {Command::Mode, "show", Command::ModeShow},
    {Command::Mode, "set", Command::ModeSet},
}};

enum class OptionId { Help, Json, Reader, Demo, DemoState, SecretFile, Qr, Format, Digits, Imf, Yes, Force };

struct OptionDefinition {
  OptionId id;
  std::string_view name;
  bool takesValue;
  std::initializer_list<Command> only;  // empty: every subcommand
};

const std::array<OptionDefinition, 12> kOptions{{
    {OptionId::Help, "help", false, {}},
    {OptionId::Json, "json", false, {}},
    {OptionId::Reader, "reader", true, {}},
    {OptionId::Demo, "demo", false, {}},
    {OptionId::DemoState, "demo-state", true, {}},
    {OptionId::SecretFile, "secret-file", true, {Command::OathAdd}},
    {OptionId::Qr, "qr", true, {Command::OathAdd}},
    {OptionId::Format, "format", true, {Command::OathAdd}},
    {OptionId::Digits, "digits", true, {Command::OathAdd}},
    {OptionId::Imf, "imf", true, {Command::OathAdd}},
    {OptionId::Yes, "yes", false, {Command::OathReset}},
    {OptionId::Force, "force", false, {Command::OathAdd}},
}};

struct GivenOption {
  const OptionDefinition* definition;
  std::string value;
};

const OptionDefinition* FindOption(std::string_view name) {
  for (const auto& definition : kOptions) {
    if (definition.name == name) return &definition;
  }
  return nullptr;
}

bool IsGroup(Command command) { return command == Command::Oath || command == Command::Mode; }

bool NeedsName(Command command) {
  return command == Command::OathCode || command == Command::OathAdd || command == Command::OathDelete ||
         command == Command::OathDefault;
}

std::string GroupChoices(Command group) {
  std::string choices;
  for (const auto& word : kCommandWords) {
    if (word.group != group) continue;
    if (!choices.empty()) choices += ", ";
    choices += word.word;
  }
  return choices;
}

// Splits the arguments into options and operands.
bool Tokenise(const std::vector<std::string>& args, std::vector<GivenOption>& options,
              std::vector<std::string>& operands, std::string& error) {
  bool optionsEnded = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (optionsEnded || arg == "-" || arg.empty() || arg[0] != '-') {
      operands.push_back(arg);
      continue;
    }
    if (arg == "--") {
      optionsEnded = true;
      continue;
    }
    if (arg == "-h") {
      options.push_back({FindOption("help"), {}});
      continue;
    }
    if (arg.size() < 3 || arg[1] != '-') {
      error = Substitute(Tr("unknown option %1"), {arg});
      return false;
    }
    const std::size_t equals = arg.find('=');
    const std::string name = arg.substr(2, equals == std::string::npos ? std::string::npos : equals - 2);
    const OptionDefinition* definition = FindOption(name);
    if (definition == nullptr) {
      error = Substitute(Tr("unknown option --%1"), {name});
      return false;
    }
    GivenOption given{definition, {}};
    if (definition->takesValue) {
      if (equals != std::string::npos) {
        given.value = arg.substr(equals + 1);
      } else if (i + 1 < args.size()) {
        given.value = args[++i];
      } else {
        error = Substitute(Tr("option --%1 needs a value"), {name});
        return false;
      }
    } else if (equals != std::string::npos) {
      error = Substitute(Tr("option --%1 takes no value"), {name});
      return false;
    }
    options.push_back(std::move(given));
  }
  return true;
}

// Finds the subcommand the leading operands name and removes them.
bool ResolveCommand(std::vector<std::string>& operands, Command& command, std::string& error) {
  command = Command::None;
  std::size_t used = 0;
  while (used < operands.size() && (command == Command::None || IsGroup(command))) {
    const Command group = command;
    const auto match = std::find_if(kCommandWords.begin(), kCommandWords.end(), [&](const CommandWord& word) {
      return word.group == group && word.word == operands[used];
    });
    if (match == kCommandWords.end()) {
      error = group == Command::None
                  ? Substitute(Tr("unknown subcommand '%1'"), {operands[used]})
                  : Substitute(Tr("unknown subcommand '%1 %2' (choose %3)"),
                               {CommandName(group), operands[used], GroupChoices(group)});
      return false;
    }
    command = match->command;
    ++used;
  }
  operands.erase(operands.begin(), operands.begin() + static_cast<std::ptrdiff_t>(used));
  return true;
}

bool CheckName(Command command, const std::string& name, std::string& error) {
  if (name.empty()) {
    error = Tr("the credential name is empty");
    return false;
  }
  const std::size_t limit = command == Command::OathAdd ? kMaxCredentialNameBytes : kMaxCommandNameBytes;
  if (name.size() > limit) {
    error = Substitute(Tr("the credential name is %1 bytes long; at most %2 fit"),
                       {std::to_string(name.size()), std::to_string(limit)});
    return false;
  }
  return true;
}

bool ApplyOption(const GivenOption& given, Command command, CliArguments& out, std::string& error) {
  const OptionDefinition& definition = *given.definition;
  if (definition.only.size() != 0 &&
      std::find(definition.only.begin(), definition.only.end(), command) == definition.only.end()) {
    error = Substitute(Tr("option --%1 does not apply to '%2'"), {definition.name, CommandName(command)});
    return false;
  }
  switch (definition.id) {
    case OptionId::Help:
      out.help = true;
      break;
    case OptionId::Json:
      out.json = true;
      break;
    case OptionId::Reader:
      out.reader = given.value;
      break;
    case OptionId::Demo:
      out.demo = true;
      break;
    case OptionId::DemoState:
      out.demoState = given.value;
      break;
    case OptionId::SecretFile:
      if (given.value.empty()) {
        error = Tr("option --secret-file needs a file name, or '-' for standard input");
        return false;
      }
      out.secretFile = given.value;
      break;
    case OptionId::Qr:
      if (given.value.empty()) {
        error = Tr("option --qr needs the file name of a PNG or JPEG image");
        return false;
      }
      out.qrFile = given.value;
      break;
    case OptionId::Format: {
      const auto format = ParseSecretFormat(given.value);
      if (!format) {
        error = Tr("option --format takes hex, base32, uri or auto");
        return false;
      }
      out.format = *format;
      break;
    }
    case OptionId::Digits:
      if (given.value != "6" && given.value != "8") {
        error = Tr("option --digits takes 6 or 8");
        return false;
      }
      out.digits = static_cast<std::uint8_t>(given.value[0] - '0');
      break;
    case OptionId::Imf:
      out.imf = RemoveSpaces(given.value);
      break;
    case OptionId::Yes:
      out.yes = true;
      break;
    case OptionId::Force:
      out.force = true;
      break;
  }
  return true;
}

bool CheckRepeats(const std::vector<GivenOption>& options, std::string& error) {
  for (std::size_t i = 0; i < options.size(); ++i) {
    if (!options[i].definition->takesValue) continue;
    for (std::size_t j = i + 1; j < options.size(); ++j) {
      if (options[j].definition == options[i].definition) {
        error = Substitute(Tr("option --%1 given twice"), {options[i].definition->name});
        return false;
      }
    }
  }
  return true;
}

// `nameFromQr`: oath add may leave the name to the QR code's URI.
bool ApplyOperands(const std::vector<std::string>& operands, bool nameFromQr, CliArguments& out, std::string& error) {
  const Command command = out.command;
  const std::string name(CommandName(command));
  if (command == Command::None) {
    error = Tr("no subcommand given");
    return false;
  }
  if (IsGroup(command)) {
    error = Substitute(Tr("'%1' needs a subcommand: %2"), {name, GroupChoices(command)});
    return false;
  }
  const bool nameOptional = nameFromQr && command == Command::OathAdd && operands.empty();
  const std::size_t wanted = ((NeedsName(command) && !nameOptional) || command == Command::ModeSet) ? 1 : 0;
  if (operands.size() < wanted) {
    error = command == Command::ModeSet ? std::string(Tr("'mode set' needs the interfaces, for example otp+u2f+ccid"))
                                        : Substitute(Tr("'%1' needs a credential NAME"), {name});
    return false;
  }
  if (operands.size() > wanted) {
    error = Substitute(Tr("unexpected operand '%1' for '%2'"), {operands[wanted], name});
    return false;
  }
  if (command == Command::ModeSet) {
    const auto mode = ParseInterfaceSet(operands[0]);
    if (!mode) {
      error = Substitute(Tr("'%1' is not a set of interfaces: join otp, u2f and ccid with '+'"), {operands[0]});
      return false;
    }
    out.mode = *mode;
  } else if (NeedsName(command) && !nameOptional) {
    // Writing a credential drops the spaces of its name, as the credentials panel does.
    out.name = command == Command::OathAdd ? RemoveSpaces(operands[0]) : operands[0];
    if (!CheckName(command, out.name, error)) return false;
  }
  return true;
}

}  // namespace

bool ParseArguments(const std::vector<std::string>& args, CliArguments& out, std::string& error) {
  out = CliArguments{};
  std::vector<GivenOption> options;
  std::vector<std::string> operands;
  if (!Tokenise(args, options, operands, error)) return false;
  if (!ResolveCommand(operands, out.command, error)) return false;

  const bool help = std::any_of(options.begin(), options.end(),
                                [](const GivenOption& given) { return given.definition->id == OptionId::Help; });
  if (help) {
    out.help = true;
    return true;
  }
  const auto given = [&options](OptionId id) {
    return std::any_of(options.begin(), options.end(),
                       [id](const GivenOption& option) { return option.definition->id == id; });
  };
  if (!CheckRepeats(options, error) || !ApplyOperands(operands, given(OptionId::Qr), out, error)) return false;
  if (given(OptionId::Qr) && (given(OptionId::SecretFile) || given(OptionId::Format))) {
    error = Tr("option --qr reads the secret from the image: it does not go with --secret-file or --format");
    return false;
  }
  for (const auto& option : options) {
    if (!ApplyOption(option, out.command, out, error)) return false;
  }
  if (out.demoState && !out.demo) {
    error = Tr("option --demo-state needs --demo");
    return false;
  }
  return true;
}

std::string_view CommandName(Command command) {
  switch (command) {
    case Command::None: return "";
    case Command::Readers: return "readers";
    case Command::Info: return "info";
    case Command::Oath: return "oath";
    case Command::OathList: return "oath list";
    case Command::OathCode: return "oath code";
    case Command::OathAdd: return "oath add";
    case Command::OathDelete: return "oath delete";
    case Command::OathDefault: return "oath default";
    case Command::OathReset: return "oath reset";
    case Command::Mode: return "mode";
    case Command::ModeShow: return "mode show";
    case Command::ModeSet: return "mode set";
  }
  return "";
}

}  // namespace cli
