#pragma once
// Reads a gettext catalogue (.po) or template (.pot) as the translation tests need it: each
// message's source text, its translation and whether it is marked fuzzy. Plural forms and
// contexts are not used by Tokvane and not read.
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace po_catalogue {

struct Message {
  std::string id;
  std::string text;
  bool fuzzy = false;
};

// The C escapes a catalogue writes inside its quotes.
inline std::string Unquote(const std::string& line) {
  const auto first = line.find('"');
  const auto last = line.rfind('"');
  std::string out;
  if (first == std::string::npos || last <= first) return out;
  for (std::size_t i = first + 1; i < last; ++i) {
    if (line[i] != '\\' || i + 1 >= last) {
      out += line[i];
      continue;
    }
    const char escaped = line[++i];
    out += escaped == 'n' ? '\n' : escaped == 't' ? '\t' : escaped;
  }
  return out;
}

// Every message but the header; empty when the file cannot be read.
inline std::vector<Message> Read(const std::string& path) {
  std::ifstream file(path);
  std::vector<Message> messages;
  Message current;
  std::string* field = nullptr;
  bool started = false;
  const auto finish = [&] {
    if (started && !current.id.empty()) messages.push_back(current);
    current = Message{};
    field = nullptr;
    started = false;
  };
  std::string line;
  while (std::getline(file, line)) {
    if (line.empty()) {
      finish();
    } else if (line.rfind("#,", 0) == 0) {
      if (line.find("fuzzy") != std::string::npos) current.fuzzy = true;
    } else if (line.rfind("msgid ", 0) == 0) {
      started = true;
      field = &current.id;
      *field = Unquote(line);
    } else if (line.rfind("msgstr ", 0) == 0) {
      field = &current.text;
      *field = Unquote(line);
    } else if (line.front() == '"' && field != nullptr) {
      *field += Unquote(line);
    }
  }
  finish();
  return messages;
}

}  // namespace po_catalogue
