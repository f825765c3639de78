#pragma once
// The former hex reader, kept unchanged in the fuzz build only, so the differential fuzz target
// can check that the table-driven HexToBytes gives exactly its results.
#include <cstdint>
#include <string>

namespace tokvane::fuzz {

std::uint32_t ReferenceHexToBytes(const std::string& hexText, std::uint8_t* output, std::uint32_t capacity);

}  // namespace tokvane::fuzz
