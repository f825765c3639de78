#pragma once
// oathtool (an HOTP implementation nobody here wrote) as the reference the key's codes are
// compared with.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

// oathtool's code, newline included, for a base32 secret at `counter`.
inline std::string OathtoolHotp(const std::string& base32, int counter, int digits) {
  const std::string command = "oathtool --hotp -b -c " + std::to_string(counter) + " -d " + std::to_string(digits) +
                              " " + base32;
  std::string out;
  if (FILE* pipe = ::popen(command.c_str(), "r")) {
    char buffer[64];
    while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) out += buffer;
    EXPECT_EQ(::pclose(pipe), 0) << command;
  }
  return out;
}
