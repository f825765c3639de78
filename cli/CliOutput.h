#pragma once
// Text the CLI prints that comes from the key (credential names) or from the operator: made safe
// for a terminal, or quoted as JSON. Names are raw bytes from the key and may hold anything.
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace cli {

// `bytes` with every control byte (00-1F, 7F) written as \xNN, so a name cannot move the cursor
// or send escape sequences to the terminal.
std::string PrintableText(std::string_view bytes);
// PrintableText in single quotes, as messages name readers and credentials.
std::string QuotedText(std::string_view bytes);

// `bytes` as a JSON string literal (quotes included). Bytes that are not valid UTF-8 become
// U+FFFD, so the output is always valid JSON.
std::string JsonQuote(std::string_view bytes);

// A flat JSON object built member by member, in order; values are JSON already (use JsonQuote
// for text).
class JsonObject {
 public:
  JsonObject& Raw(std::string_view key, std::string json);
  JsonObject& Text(std::string_view key, std::string_view value);
  JsonObject& Bool(std::string_view key, bool value);
  JsonObject& Number(std::string_view key, long long value);
  std::string Str() const;

 private:
  std::vector<std::pair<std::string, std::string>> members_;
};

// Elements that are JSON already, as a JSON array.
std::string JsonArray(const std::vector<std::string>& elements);

}  // namespace cli
