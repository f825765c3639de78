#include "cli/CliHelp.h"

#include "core/Translate.h"

namespace cli {

namespace {

constexpr const char* kGlobalOptions = N_(
    "Options for every subcommand:\n"
    "  --reader NAME   use this reader (as 'readers' lists it); otherwise the key's U2F\n"
    "                  interface is preferred, then its CCID reader, then its OTP interface\n"
    "  --json          machine-readable output on standard output\n"
    "  --demo          use a virtual key instead of the real readers\n"
    "  --demo-state F  keep the virtual key's credentials in file F between runs; a file\n"
    "                  of your own, e.g. $XDG_STATE_HOME/tokvane/demo.key (not under /tmp)\n"
    "  -h, --help      show the help of the subcommand\n");

constexpr const char* kExitCodes = N_(
    "Exit status: 0 success, 1 the key refused (or holds no credential of that name, or oath add\n"
    "would replace one), 2 usage error, 3 no device or transport failure.\n");

std::string WithOptions(const char* text) {
  return std::string(tokvane::Tr(text)) + "\n" + tokvane::Tr(kGlobalOptions);
}

}  // namespace

std::string HelpText(Command command) {
  switch (command) {
    case Command::None:
      return std::string(tokvane::Tr(
                 "Usage: tokvane-cli [options] SUBCOMMAND [arguments]\n"
                 "Manage the HOTP credentials and the interface mode of a security key.\n"
                 "\n"
                 "Subcommands:\n"
                 "  readers               list every PC/SC reader and HID interface with its kind\n"
                 "  info                  COS version, applet version and present interfaces\n"
                 "  oath list             list the stored credentials, the default one marked\n"
                 "  oath code NAME        calculate the next code of a credential\n"
                 "  oath add NAME         write a credential; the secret comes from standard input\n"
                 "  oath delete NAME      delete a credential\n"
                 "  oath default NAME     make a credential the default one\n"
                 "  oath reset            erase every credential\n"
                 "  mode show             the interfaces the key presents\n"
                 "  mode set IFACES       choose the interfaces, e.g. otp+u2f+ccid\n"
                 "\n")) +
             tokvane::Tr(kGlobalOptions) + "\n" + tokvane::Tr(kExitCodes);
    case Command::Readers:
      return WithOptions(N_(
          "Usage: tokvane-cli readers\n"
          "Lists every PC/SC reader and every HID interface of a configured key, one per line:\n"
          "the reader name, a tab, and its kind (CCID for a reader holding a key, PCSC for an\n"
          "empty one, OTP for the keyboard interface, U2F for the FIDO interface).\n"));
    case Command::Info:
      return WithOptions(N_(
          "Usage: tokvane-cli info\n"
          "Shows the reader used, the card OS version, the OATH applet version and the\n"
          "interfaces the key presents.\n"));
    case Command::Oath:
      return WithOptions(N_(
          "Usage: tokvane-cli oath list|code|add|delete|default|reset ...\n"
          "Manage the HOTP credentials of the key's OATH applet; see\n"
          "'tokvane-cli oath SUBCOMMAND --help'.\n"));
    case Command::OathList:
      return WithOptions(N_(
          "Usage: tokvane-cli oath list\n"
          "Lists the credential names stored on the key, one per line; the default credential\n"
          "is marked with a '*' in front. With --json: {\"credentials\":[{\"name\":...,\"default\":...}]}.\n"));
    case Command::OathCode:
      return WithOptions(N_(
          "Usage: tokvane-cli oath code NAME\n"
          "Asks the key for the next code of credential NAME and prints only the code. The key\n"
          "advances the credential's counter. A key that wants a touch prompts on standard error.\n"));
    case Command::OathAdd:
      return WithOptions(N_(
          "Usage: tokvane-cli oath add NAME [--secret-file F] [--format hex|base32|uri]\n"
          "       tokvane-cli oath add [NAME] --qr IMAGE\n"
          "                              [--digits 6|8] [--imf TEXT] [--force]\n"
          "Writes credential NAME (at most 16 bytes; spaces are dropped). The key's credentials\n"
          "are listed first: when one of that name is there, nothing is written and the exit\n"
          "status is 1, since its secret cannot be read back. The secret (at most 48 bytes) is\n"
          "read from standard input, or from file F ('-' for standard input); it is never taken\n"
          "from the command line.\n"
          "  --format hex     hex digits, spaces allowed (the default)\n"
          "  --format base32  RFC 4648 base32; spaces, lower case and '=' padding allowed\n"
          "  --format uri     otpauth://hotp/LABEL?secret=...&digits=...&counter=...; its digits\n"
          "                   and counter (the initial moving factor) are used. Input starting\n"
          "                   with otpauth: is taken as a URI by default. TOTP URIs are refused.\n"
          "  --qr IMAGE       the otpauth URI of the one QR code in a PNG or JPEG image; NAME\n"
          "                   may then be left out for the URI's label\n"
          "  --digits 6|8     code length (default 6, or the URI's)\n"
          "  --imf TEXT       initial moving factor text, sent as typed (not with a URI)\n"
          "  --force          replace a credential of that name; its old secret is lost\n"));
    case Command::OathDelete:
      return WithOptions(N_(
          "Usage: tokvane-cli oath delete NAME\n"
          "Deletes credential NAME from the key.\n"));
    case Command::OathDefault:
      return WithOptions(N_(
          "Usage: tokvane-cli oath default NAME\n"
          "Makes credential NAME the key's default credential.\n"));
    case Command::OathReset:
      return WithOptions(N_(
          "Usage: tokvane-cli oath reset [--yes]\n"
          "Resets the OATH applet: every stored credential is discarded. Asks for confirmation\n"
          "on a terminal; --yes confirms in advance (needed when standard input is not a terminal).\n"));
    case Command::Mode:
      return WithOptions(N_(
          "Usage: tokvane-cli mode show|set ...\n"
          "Show or choose the USB interfaces the key presents; see 'tokvane-cli mode SUBCOMMAND --help'.\n"));
    case Command::ModeShow:
      return WithOptions(N_(
          "Usage: tokvane-cli mode show\n"
          "Shows which interfaces the key presents now (otp, u2f, ccid), judged from the readers.\n"));
    case Command::ModeSet:
      return WithOptions(N_(
          "Usage: tokvane-cli mode set IFACES\n"
          "Chooses the interfaces the key presents after it is plugged in again: otp, u2f and ccid\n"
          "joined by '+', in any order (for example otp+u2f+ccid or ccid). Unplug the key and\n"
          "plug it in again afterwards.\n"));
  }
  return {};
}

}  // namespace cli
