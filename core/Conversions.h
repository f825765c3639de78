#pragma once
// Byte, hex and text conversions shared by every layer: the hex text of the output log,
// the operator's typed hex, and the narrow (locale) / wide text of the controls.
#include <cstdint>
#include <span>
#include <string>

// Narrow text in the C library's locale encoding (UTF-8 in practice) to wide text. Each byte
// the encoding cannot read becomes U+FFFD and the conversion goes on.
inline constexpr wchar_t kUndecodableCharacter = L'\uFFFD';
std::wstring AnsiToWide(const std::string& narrow);
// Wide text to the locale encoding; a character the encoding cannot hold becomes '?'.
std::string WideToAnsi(const std::wstring& wide);
// Every character but the space 0x20, in order; tabs and other white space stay.
std::string RemoveSpaces(const std::string& text);
// Upper-case two-digit pairs separated by single spaces ("90 00"); empty for no bytes.
std::string BytesToHex(const std::uint8_t* bytes, std::uint32_t count);
// Letter case and pair separator of AppendHex.
enum class HexLetters { Upper, Lower };
enum class HexPairs { Spaced, Unspaced };
// Appends two hex digits per byte to `out` ("0A FF" spaced, "0aff" unspaced lower-case). Nothing is
// reallocated when the caller has reserved room, so text holding a secret leaves no unwiped copy.
void AppendHex(std::string& out, std::span<const std::uint8_t> bytes, HexLetters letters, HexPairs pairs);
// Reads hex text (spaced tokens, or unspaced pairs) into at most `capacity` bytes and returns
// how many were written. Never writes past `capacity`; never fails on any input. The exact rules
// are written out in core/HexReading.cpp.
std::uint32_t HexToBytes(const std::string& hexText, std::uint8_t* output, std::uint32_t capacity);
