#pragma once
// The exit status of tokvane-cli: scripts branch on it, so each value has one meaning.
namespace cli {

enum class ExitCode : int {
  Success = 0,
  // the key answered with a status word other than 90 00 (a missed touch included), or holds no
  // credential of the name given, or already holds the one oath add would write over
  KeyRefused = 1,
  Usage = 2,       // bad arguments or bad input; nothing was sent to the key
  NoDevice = 3,    // no reader or key, the transport failed, or the key stopped answering (no status word)
};

inline int ToInt(ExitCode code) { return static_cast<int>(code); }

}  // namespace cli
