// A strict little JSON reader for checking what velmo-cli writes: objects,
// arrays, strings, integers, booleans (read as the numbers 1 and 0) and
// null. Malformed input (a trailing comma, a raw control character, an
// unknown escape) fails to parse.
#pragma once

#include <cstdlib>
#include <cstring>
#include <map>
#include <optional>
#include <string>
#include <vector>

struct JsonValue {
  enum Kind { kNull, kNumber, kString, kArray, kObject } kind = kNull;
  long long number = 0;
  std::string text;  // a \u00XX escape gives that one byte
  std::vector<JsonValue> items;
  std::map<std::string, JsonValue> fields;

  const JsonValue& operator[](const std::string& name) const {
    static const JsonValue missing;
    auto it = fields.find(name);
    return it == fields.end() ? missing : it->second;
  }
};

class JsonReader {
 public:
  static std::optional<JsonValue> Parse(const std::string& text) {
    JsonReader reader(text);
    JsonValue value;
    if (!reader.Value(&value) || reader.Peek() != '\0') return std::nullopt;
    return value;
  }

 private:
  explicit JsonReader(const std::string& text) : m_text(text) {}

  const std::string& m_text;
  size_t m_at = 0;

  char Peek() {
    while (m_at < m_text.size() && std::strchr(" \n", m_text[m_at]) != nullptr) ++m_at;
    return m_at < m_text.size() ? m_text[m_at] : '\0';
  }
  bool Take(char c) { return Peek() == c && ++m_at; }
  bool String(std::string* out) {
    if (!Take('"')) return false;
    while (m_at < m_text.size()) {
      const unsigned char c = static_cast<unsigned char>(m_text[m_at++]);
      if (c == '"') return true;
      if (c < 0x20 || m_at >= m_text.size()) return false;
      if (c != '\\') {
        out->push_back(static_cast<char>(c));
        continue;
      }
      const char e = m_text[m_at++];
      const char* simple = e != 0 ? std::strchr("\"\\nrt", e) : nullptr;
      if (simple != nullptr) {
        out->push_back("\"\\\n\r\t"[simple - "\"\\nrt"]);
      } else if (e == 'u' && m_text.compare(m_at, 2, "00") == 0 && m_at + 4 <= m_text.size()) {
        char* end = nullptr;
        const std::string hex = m_text.substr(m_at + 2, 2);
        out->push_back(static_cast<char>(std::strtol(hex.c_str(), &end, 16)));
        if (*end != '\0') return false;
        m_at += 4;
      } else {
        return false;
      }
    }
    return false;
  }
  bool Value(JsonValue* v) {
    const char c = Peek();
    if (Take('{')) {
      v->kind = JsonValue::kObject;
      if (Take('}')) return true;
      do {
        std::string name;
        if (!String(&name) || !Take(':') || !Value(&v->fields[name])) return false;
      } while (Take(','));
      return Take('}');
    }
    if (Take('[')) {
      v->kind = JsonValue::kArray;
      if (Take(']')) return true;
      do {
        if (!Value(&v->items.emplace_back())) return false;
      } while (Take(','));
      return Take(']');
    }
    if (c == '"') return v->kind = JsonValue::kString, String(&v->text);
    if (m_text.compare(m_at, 4, "null") == 0) return m_at += 4, true;
    if (m_text.compare(m_at, 4, "true") == 0)
      return v->kind = JsonValue::kNumber, v->number = 1, m_at += 4, true;
    if (m_text.compare(m_at, 5, "false") == 0)
      return v->kind = JsonValue::kNumber, v->number = 0, m_at += 5, true;
    char* end = nullptr;
    v->number = std::strtoll(m_text.c_str() + m_at, &end, 10);
    if (end == m_text.c_str() + m_at || c == '+' || c == ' ') return false;
    v->kind = JsonValue::kNumber;
    m_at = static_cast<size_t>(end - m_text.c_str());
    return true;
  }
};
