#include "cli/CliOutput.h"

#include <cstdio>

namespace cli {

namespace {

// Length of the valid UTF-8 sequence starting at `i`, or 0 (overlong forms, surrogates and code
// points above U+10FFFF count as invalid).
std::size_t Utf8SequenceLength(std::string_view text, std::size_t i) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char lead = byte(i);
  std::size_t length = 0;
  unsigned char low = 0x80;
  unsigned char high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (i + length > text.size()) return 0;
  if (byte(i + 1) < low || byte(i + 1) > high) return 0;
  for (std::size_t k = 2; k < length; ++k) {
    if (byte(i + k) < 0x80 || byte(i + k) > 0xBF) return 0;
  }
  return length;
}

std::string Escaped(const char* format, unsigned value) {
  char buffer[8];
  std::snprintf(buffer, sizeof buffer, format, value);
  return buffer;
}

}  // namespace

std::string PrintableText(std::string_view bytes) {
  std::string text;
  text.reserve(bytes.size());
  for (std::size_t i = 0; i < bytes.size();) {
    const auto byte = static_cast<unsigned char>(bytes[i]);
    if (byte < 0x20 || byte == 0x7F) {
      text += Escaped("\\x%02X", byte);
      ++i;
      continue;
    }
    if (byte < 0x80) {
      text += bytes[i++];
      continue;
    }
    // C1 controls (U+0080 to U+009F; U+009B starts a terminal command as ESC [ does) are shown
    // as their code point; so is a lone byte 80 to 9F, which an 8-bit terminal takes for one.
    const std::size_t length = Utf8SequenceLength(bytes, i);
    if (length == 2 && byte == 0xC2 && static_cast<unsigned char>(bytes[i + 1]) <= 0x9F) {
      text += Escaped("\\u%04X", static_cast<unsigned char>(bytes[i + 1]));
    } else if (length == 0 && byte <= 0x9F) {
      text += Escaped("\\x%02X", byte);
    } else {
      text.append(bytes, i, length == 0 ? 1 : length);
    }
    i += length == 0 ? 1 : length;
  }
  return text;
}

std::string JsonQuote(std::string_view bytes) {
  std::string json = "\"";
  for (std::size_t i = 0; i < bytes.size();) {
    const auto byte = static_cast<unsigned char>(bytes[i]);
    if (byte >= 0x80) {
      const std::size_t length = Utf8SequenceLength(bytes, i);
      if (length == 0) {
        json += "\\ufffd";
        ++i;
      } else {
        json.append(bytes, i, length);
        i += length;
      }
      continue;
    }
    switch (byte) {
      case '"': json += "\\\""; break;
      case '\\': json += "\\\\"; break;
      case '\n': json += "\\n"; break;
      case '\r': json += "\\r"; break;
      case '\t': json += "\\t"; break;
      default:
        if (byte < 0x20 || byte == 0x7F) {
          json += Escaped("\\u%04x", byte);
        } else {
          json += static_cast<char>(byte);
        }
    }
    ++i;
  }
  json += '"';
  return json;
}

JsonObject& JsonObject::Raw(std::string_view key, std::string json) {
  members_.emplace_back(JsonQuote(key), std::move(json));
  return *this;
}

JsonObject& JsonObject::Text(std::string_view key, std::string_view value) { return Raw(key, JsonQuote(value)); }

JsonObject& JsonObject::Bool(std::string_view key, bool value) { return Raw(key, value ? "true" : "false"); }

JsonObject& JsonObject::Number(std::string_view key, long long value) { return Raw(key, std::to_string(value)); }

std::string JsonObject::Str() const {
  std::string json = "{";
  for (std::size_t i = 0; i < members_.size(); ++i) {
    if (i > 0) json += ',';
    json += members_[i].first;
    json += ':';
    json += members_[i].second;
  }
  json += '}';
  return json;
}

std::string JsonArray(const std::vector<std::string>& elements) {
  std::string json = "[";
  for (std::size_t i = 0; i < elements.size(); ++i) {
    if (i > 0) json += ',';
    json += elements[i];
  }
  json += ']';
  return json;
}

std::string QuotedText(std::string_view bytes) {
  // Built by appending: GCC 12 misjudges a literal + temporary string at -O3 (-Wrestrict).
  std::string quoted(1, '\'');
  quoted += PrintableText(bytes);
  quoted += '\'';
  return quoted;
}

}  // namespace cli
