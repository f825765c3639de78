#pragma once
// Keeps the secrets a program holds in memory (keys typed, read or served) out of core files: each
// program calls this first thing in main.
#include <string>

// No core file (core size limit 0, soft and hard) and not dumpable, which also keeps other
// processes of the same user from attaching to read its memory. False with the reason when either
// could not be set; the caller warns and carries on.
bool DisableCoreDumps(std::string& error);
