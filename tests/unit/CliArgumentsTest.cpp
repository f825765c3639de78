#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/CliArguments.h"
#include "cli/CliHelp.h"
#include "cli/InterfaceModeText.h"

namespace {

using cli::CliArguments;
using cli::Command;

struct Parsed {
  bool ok = false;
  CliArguments args;
  std::string error;
};

Parsed Parse(std::vector<std::string> args) {
  Parsed parsed;
  parsed.ok = cli::ParseArguments(args, parsed.args, parsed.error);
  return parsed;
}

TEST(CliArguments, RecognisesEverySubcommandWithItsOperand) {
  const struct {
    std::vector<std::string> args;
    Command command;
    std::string name;
  } cases[] = {
      {{"readers"}, Command::Readers, ""},
      {{"info"}, Command::Info, ""},
      {{"oath", "list"}, Command::OathList, ""},
      {{"oath", "code", "mail"}, Command::OathCode, "mail"},
      {{"oath", "add", "my mail"}, Command::OathAdd, "mymail"},  // spaces go, as in the panel
      {{"oath", "delete", "my mail"}, Command::OathDelete, "my mail"},  // names from the key stay whole
      {{"oath", "default", "mail"}, Command::OathDefault, "mail"},
      {{"oath", "reset"}, Command::OathReset, ""},
      {{"mode", "show"}, Command::ModeShow, ""},
      {{"mode", "set", "ccid"}, Command::ModeSet, ""},
      {{"oath", "code", "--", "-odd-"}, Command::OathCode, "-odd-"},
  };
  for (const auto& c : cases) {
    const Parsed parsed = Parse(c.args);
    ASSERT_TRUE(parsed.ok) << c.args[0] << ": " << parsed.error;
    EXPECT_EQ(parsed.args.command, c.command);
    EXPECT_EQ(parsed.args.name, c.name);
    EXPECT_FALSE(parsed.args.help);
  }
}

TEST(CliArguments, GlobalOptionsGoBeforeOrAfterTheSubcommand) {
  const Parsed before = Parse({"--json", "--reader", "Virtual PCD 00 00", "--demo", "oath", "list"});
  ASSERT_TRUE(before.ok) << before.error;
  EXPECT_TRUE(before.args.json);
  EXPECT_TRUE(before.args.demo);
  ASSERT_TRUE(before.args.reader.has_value());
  EXPECT_EQ(*before.args.reader, "Virtual PCD 00 00");

  const Parsed after = Parse({"oath", "code", "mail", "--reader=VORTAN HID DEVICE U2F 0", "--json"});
  ASSERT_TRUE(after.ok) << after.error;
  EXPECT_TRUE(after.args.json);
  EXPECT_EQ(after.args.reader.value_or(""), "VORTAN HID DEVICE U2F 0");
  EXPECT_EQ(after.args.name, "mail");
}

TEST(CliArguments, AddTakesItsSecretOptions) {
  const Parsed parsed = Parse({"oath", "add", "mail", "--secret-file", "/tmp/s", "--format=base32", "--digits",
                               "8", "--imf", "12 34"});
  ASSERT_TRUE(parsed.ok) << parsed.error;
  EXPECT_EQ(parsed.args.secretFile, "/tmp/s");
  EXPECT_EQ(parsed.args.format, SecretFormat::Base32);
  EXPECT_EQ(parsed.args.digits.value_or(0), 8);
  EXPECT_EQ(parsed.args.imf.value_or(""), "1234");

  const Parsed defaults = Parse({"oath", "add", "mail"});
  ASSERT_TRUE(defaults.ok);
  EXPECT_EQ(defaults.args.secretFile, "-");
  EXPECT_EQ(defaults.args.format, SecretFormat::Auto);
  EXPECT_FALSE(defaults.args.digits.has_value());
  EXPECT_FALSE(defaults.args.imf.has_value());
}

TEST(CliArguments, NameLengthsFollowWhatTheKeyTakes) {
  EXPECT_TRUE(Parse({"oath", "add", std::string(16, 'n')}).ok);
  EXPECT_TRUE(Parse({"oath", "add", std::string(16, 'n') + "  "}).ok);  // spaces do not count
  const Parsed longName = Parse({"oath", "add", std::string(17, 'n')});
  EXPECT_FALSE(longName.ok);
  EXPECT_NE(longName.error.find("17 bytes"), std::string::npos) << longName.error;
  EXPECT_FALSE(Parse({"oath", "add", "   "}).ok);
  EXPECT_FALSE(Parse({"oath", "code", ""}).ok);

  // Names read from the key may be longer; a calculate command still has to hold them.
  EXPECT_TRUE(Parse({"oath", "code", std::string(cli::kMaxCommandNameBytes, 'n')}).ok);
  EXPECT_FALSE(Parse({"oath", "code", std::string(cli::kMaxCommandNameBytes + 1, 'n')}).ok);
}

TEST(CliArguments, RefusesBadCommandLinesWithAOneLineReason) {
  const struct {
    std::vector<std::string> args;
    const char* reasonPart;
  } cases[] = {
      {{}, "no subcommand"},
      {{"list"}, "unknown subcommand 'list'"},
      {{"oath"}, "needs a subcommand"},
      {{"oath", "show"}, "unknown subcommand 'oath show'"},
      {{"mode"}, "needs a subcommand"},
      {{"oath", "code"}, "needs a credential NAME"},
      {{"oath", "list", "extra"}, "unexpected operand 'extra'"},
      {{"oath", "code", "a", "b"}, "unexpected operand 'b'"},
      {{"mode", "set"}, "needs the interfaces"},
      {{"mode", "set", "otp+nfc"}, "not a set of interfaces"},
      {{"readers", "--frobnicate"}, "unknown option --frobnicate"},
      {{"readers", "-x"}, "unknown option -x"},
      {{"readers", "--reader"}, "needs a value"},
      {{"readers", "--json=yes"}, "takes no value"},
      {{"oath", "list", "--secret-file", "f"}, "does not apply to 'oath list'"},
      {{"oath", "code", "a", "--yes"}, "does not apply to 'oath code'"},
      {{"oath", "add", "a", "--digits", "7"}, "6 or 8"},
      {{"oath", "add", "a", "--format", "pem"}, "hex, base32, uri or auto"},
      {{"oath", "add", "a", "--secret-file="}, "needs a file name"},
      {{"readers", "--reader", "a", "--reader", "b"}, "given twice"},
      {{"readers", "--demo-state", "f"}, "needs --demo"},
  };
  for (const auto& c : cases) {
    const Parsed parsed = Parse(c.args);
    EXPECT_FALSE(parsed.ok) << (c.args.empty() ? "" : c.args[0]);
    EXPECT_NE(parsed.error.find(c.reasonPart), std::string::npos) << parsed.error;
    EXPECT_EQ(parsed.error.find('\n'), std::string::npos);
  }
}

TEST(CliArguments, HelpNeedsOnlyAKnownSubcommand) {
  const struct {
    std::vector<std::string> args;
    Command command;
  } cases[] = {
      {{"--help"}, Command::None},
      {{"-h"}, Command::None},
      {{"oath", "--help"}, Command::Oath},
      {{"oath", "add", "--help"}, Command::OathAdd},  // no NAME needed
      {{"mode", "set", "-h", "bogus"}, Command::ModeSet},
      {{"oath", "list", "--secret-file", "x", "--help"}, Command::OathList},
  };
  for (const auto& c : cases) {
    const Parsed parsed = Parse(c.args);
    ASSERT_TRUE(parsed.ok) << parsed.error;
    EXPECT_TRUE(parsed.args.help);
    EXPECT_EQ(parsed.args.command, c.command);
  }
  EXPECT_FALSE(Parse({"frob", "--help"}).ok);
}

TEST(CliHelp, EverySubcommandHasItsOwnUsageLine) {
  for (const Command command : {Command::Readers, Command::Info, Command::OathList, Command::OathCode,
                                Command::OathAdd, Command::OathDelete, Command::OathDefault, Command::OathReset,
                                Command::ModeShow, Command::ModeSet}) {
    const std::string help = cli::HelpText(command);
    EXPECT_EQ(help.rfind("Usage: tokvane-cli " + std::string(cli::CommandName(command)), 0), 0u) << help;
    EXPECT_NE(help.find("--json"), std::string::npos);
  }
  EXPECT_NE(cli::HelpText(Command::None).find("Exit status"), std::string::npos);
}

TEST(CliInterfaceSet, ParsesAnyCombinationAndFormatsItBack) {
  const struct {
    const char* text;
    int mode;  // -1: refused
  } cases[] = {
      {"otp", 0x10},       {"u2f", 0x20},           {"otp+u2f", 0x30},       {"ccid", 0x40},
      {"otp+ccid", 0x50},  {"u2f+ccid", 0x60},      {"otp+u2f+ccid", 0x70},  {"CCID+Otp+u2F", 0x70},
      {"", -1},            {"none", -1},            {"otp+", -1},            {"+otp", -1},
      {"otp++u2f", -1},    {"otp+otp", -1},         {"otp u2f", -1},
  };
  for (const auto& c : cases) {
    const auto mode = cli::ParseInterfaceSet(c.text);
    if (c.mode < 0) {
      EXPECT_FALSE(mode.has_value()) << c.text;
    } else {
      ASSERT_TRUE(mode.has_value()) << c.text;
      EXPECT_EQ(*mode, c.mode) << c.text;
      EXPECT_EQ(cli::ParseInterfaceSet(cli::FormatInterfaceSet(*mode)), mode);
    }
  }
  EXPECT_EQ(cli::FormatInterfaceSet(0x70), "otp+u2f+ccid");
  EXPECT_EQ(cli::FormatInterfaceSet(0x50), "otp+ccid");
  EXPECT_EQ(cli::FormatInterfaceSet(0), "none");
}

}  // namespace
