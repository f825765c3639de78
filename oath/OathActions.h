#pragma once
// The command sequence of every OATH action (list, versions, reset, personalize, calculate,
// delete, set default), free of any window: the credentials panel and a terminal program run the
// same steps and differ only in the host that logs, asks and selects applets for them.
//
// An action borrows the device for its own duration. The device may go while the host waits for
// the operator (the key pulled out while a box is open): the action asks IsSameDevice afterwards
// and never touches the device again once that answer is false.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/SecureBytes.h"
#include "device/DeviceInterface.h"
#include "oath/OathCommands.h"
#include "oath/OtpCredential.h"
#include "core/Translate.h"

enum class OathOutcome {
  Done,            // the key answered 90 00 and the action did its work
  Refused,         // the key answered another status word
  TouchTimeout,    // the key waited for a touch in vain (69 84)
  ExchangeFailed,  // the transport got no answer
  NoAnswer,        // the transport brought back no status word: the key stopped answering
  NotOpen,         // the transport could not be opened
  SelectFailed,    // the OATH applet selection failed
  Declined,        // the operator declined a prompt
  DeviceGone,      // the device was replaced or released while the operator was asked something
  InvalidInput,    // personalization input refused before anything was sent
};

// What may have happened on a key that stopped answering after a command reached it, as the
// window's log and the terminal program both say it.
namespace oath_uncertain {
inline constexpr const char* kWritten = N_("the credential may or may not have been written");
inline constexpr const char* kDeleted = N_("the credential may or may not have been deleted");
inline constexpr const char* kDefaultChanged = N_("the default credential may or may not have been changed");
inline constexpr const char* kErased = N_("the credentials may or may not have been erased");
}  // namespace oath_uncertain

// True when the action's command went through the transport, whatever came back (a status
// word, or none at all): the cases after which the caller re-selects the FIDO applet.
bool KeyAnswered(OathOutcome outcome);

// The question asked before a credential is written over one of the same name.
inline constexpr const char* kReplaceQuestion = N_("Replace it? Its old secret cannot be recovered.");

// What an action needs from its surroundings.
class OathActionHost {
 public:
  virtual ~OathActionHost() = default;
  // Each call is one log entry with exactly this text, line breaks included. A command entry is
  // the command's hex text; an answer entry starts with "<< ".
  virtual void LogCommand(const std::string& entry) = 0;
  virtual void LogAnswer(const std::string& entry) = 0;
  virtual void LogSuccess(const std::string& entry) = 0;
  virtual void LogFailure(const std::string& entry) = 0;
  // Selects the OATH applet on the open device; false when the device is not open, the exchange
  // failed or the answer had no status word (a refusing status word still counts as selected).
  virtual bool SelectOathApplet() = 0;
  // Re-selects the FIDO applet and leaves the device closed.
  virtual void SelectFidoApplet() = 0;
  // True when the guarded command may be sent (no touch needed, or the operator agreed).
  virtual bool ConfirmUserPresence() = 0;
  // A question the operator answers yes (true) or no.
  virtual bool AskOperator(const std::string& title, const std::string& text) = 0;
  // A notice the operator must see.
  virtual void TellOperator(const std::string& title, const std::string& text) = 0;
  // Whether a credential the key already holds under `name` may be written over; its old secret
  // cannot be read back. A window asks kReplaceQuestion in a warning box whose default is Cancel.
  virtual bool AskToReplace(const std::string& name) {
    (void)name;
    return AskOperator(tokvane::Tr("Warning"), tokvane::Tr(kReplaceQuestion));
  }
  // False once the device the action started with has been replaced or released.
  virtual bool IsSameDevice() = 0;
};

// What the operator gave for a new credential (narrow text, spaces not yet removed).
struct OathPersonalizeInput {
  std::string Name;
  // The secret. Nothing when what the operator typed is no key at all (ReadTypedHexKey). No bytes
  // and no key are both refused as an invalid key: no bytes before the name's length is checked,
  // no key after it.
  std::optional<SecureBytes> Key;
  std::string Imf;
  bool EightDigits = false;
  // The imf holds moving-factor bytes (a counter from an otpauth URI), not typed text: its 0x20
  // bytes are part of the number and stay.
  bool ImfVerbatim = false;
  // Why Key is nothing, in the operator's words (ReadTypedHexKey); empty: "Invalid key".
  std::string KeyError;
  // The names the key listed, when the caller has a listing: a name among them is written over
  // only once the host agrees (AskToReplace). Nothing: the caller has decided already.
  std::optional<std::vector<std::string>> ListedNames;
};

// Whether `name`, as the credential would be written (spaces removed), is among `listed`.
bool IsListedName(const std::vector<std::string>& listed, const std::string& name);

// What a successful personalization wrote.
struct OathWrittenCredential {
  std::string Name;
  SecureBytes Key;
  int Digits = 6;
  std::string Imf;
};

// The outcome of a calculation the key answered with 90 00.
struct OathCalculation {
  std::string CardCode;
  std::string LocalCode;
  bool Matched = false;
};

// The versions Show versions displays: the applet's ("%x%x") and the card OS's ("%x%02x").
struct OathVersions {
  std::string Applet;
  std::string Cos;
};

struct OathListResult {
  std::vector<std::string> Names;
  // Whether the default-credential query follows (it does unless the action stopped early).
  bool QueryDefault = false;
};

class OathActions {
 public:
  static constexpr std::size_t kMaxNameLength = 16;
  static constexpr std::size_t kMaxKeyLength = 48;

  OathActions(IDeveiceInterface& device, OathActionHost& host) : device_(device), host_(host) {}
  OathActions(const OathActions&) = delete;
  OathActions& operator=(const OathActions&) = delete;

  // One list command (the panel sends two per click). On a HID device the COS version query
  // goes first, unlogged, as the key expects.
  OathOutcome List(bool hidDevice, OathListResult& result);
  // The default credential's name as the key gave it (empty when it has none); nothing unless
  // the key answered 90 00.
  OathOutcome GetDefault(std::optional<std::string>& defaultName);
  // Shows the applet and COS versions and re-selects the FIDO applet. `versions`, when given,
  // receives them as shown (the COS version empty when the key did not tell it).
  OathOutcome ShowVersions(OathVersions* versions = nullptr);
  // Asks first; on Done every credential on the key is gone.
  OathOutcome Reset();
  // Checks the input against the limits and writes the credential. When the key answered
  // (KeyAnswered), the caller records the result and then re-selects the FIDO applet.
  OathOutcome Personalize(const OathPersonalizeInput& input, OathWrittenCredential& written);
  // The key's code for `credential` and the local check against it (its key, digits, imf, match count).
  OathOutcome Calculate(const OtpCredential& credential, OathCalculation& result);
  OathOutcome Delete(const std::string& name);
  OathOutcome SetDefault(const std::string& name);

  // What the last action learnt, for a caller that reports it in its own words: the status word
  // of the key's answer to the action's command (none when no status word came back), and the
  // transport's reason when opening, selecting or the exchange failed, or the answer had no
  // status word.
  std::optional<std::uint16_t> LastStatusWord() const { return statusWord_; }
  const std::string& TransportReason() const { return transportReason_; }

 private:
  bool OpenIfNeeded();
  // SelectOathApplet; on failure the device is closed when it is still the same one.
  bool SelectApplet();
  // Keeps the status word of an answer, or the transport's reason when there is none.
  void NoteAnswer(bool answered, const CApduResponse& response);
  // The touch prompt where the key wants one. False: stop. `goneMessage` is logged when the
  // device went away while the prompt was open.
  bool ConfirmPresence(const char* goneMessage, OathOutcome& outcome);
  // Logs the command, exchanges it and closes the device at once; an unanswered exchange is
  // logged with the transport's reason and `uncertainEffect`. `secret`: where the command carries a key; those bytes
  // are logged as "**" and every copy of the command made here is wiped.
  bool SendLogged(const OathBytes& bytes, const std::string& ending, CApduResponse& response,
                  std::optional<OathByteRange> secret = std::nullopt, const char* uncertainEffect = nullptr);
  // An exchange that is not logged and leaves the device open.
  bool SendQuietly(const OathBytes& bytes, CApduResponse& response);
  // The failure entries of a command the key did not carry out: 69 84 gets the touch message, and
  // the answer follows. An answer without a status word is NoAnswer, never Refused: it logs the
  // transport's reason and `uncertainEffect` (what may have happened all the same), no answer.
  OathOutcome LogRefusal(const CApduResponse& response, const std::string& errorText,
                         const char* uncertainEffect = nullptr);
  void LogNoStatusWord(const char* uncertainEffect);
  void LogAnswer(const CApduResponse& response, const std::string& ending = "\n");
  OathOutcome RefuseInput(const char* text);
  OathOutcome NamedCommand(const OathBytes& command, const char* notOpen, const char* errorText,
                           const char* uncertainEffect);

  IDeveiceInterface& device_;
  OathActionHost& host_;
  // The text of the last command sent, for the entry repeated after a success.
  std::string lastCommandEntry_;
  std::optional<std::uint16_t> statusWord_;
  std::string transportReason_;
};

// Where random bytes come from: OpenSSL's RAND_bytes (the overload without a source), or a
// replacement with its contract (1 on success).
using OathRandomSource = int (*)(unsigned char* buffer, int count);

// Fills a new credential's fields with random values: a 20-byte secret as hex text, and a
// 13-digit serial number made from four more random bytes. False (nothing written) when the
// random generator fails.
bool GenerateRandomCredential(SecureString& keyText, std::string& name, OathRandomSource random);
bool GenerateRandomCredential(SecureString& keyText, std::string& name);
