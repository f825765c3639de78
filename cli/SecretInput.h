#pragma once
// Where `oath add` reads its secret: a file, or standard input ('-'). Never the command line, which
// other users can read in the process list and which lands in shell histories.
#include <cstddef>
#include <ostream>
#include <string>

#include "core/SecretBuffer.h"

namespace cli {

// More than any secret form needs (a URI with a long label and issuer stays far below).
inline constexpr std::size_t kMaxSecretInputBytes = 4096;

// Reads the secret text from `path`, or from `stdinFd` when `path` is "-". On a terminal it asks
// on `prompt` with echo turned off and reads one line; otherwise it reads to the end. False with a
// one-line reason when the file cannot be read or holds more than kMaxSecretInputBytes.
bool ReadSecretText(const std::string& path, int stdinFd, std::ostream& prompt, SecretBuffer& out,
                    std::string& error);

}  // namespace cli
