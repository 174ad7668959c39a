#include "session/terminal_text.h"

#include <cstdint>
#include <cstdio>

namespace {

void AppendEscape(std::string* out, const char* format, unsigned value) {
  char text[8];
  std::snprintf(text, sizeof text, format, value);
  *out += text;
}

// The length of the valid UTF-8 sequence at text[at] (2 to 4) with its code
// point, or 0 when the bytes there are not one.
size_t Utf8Sequence(std::string_view text, size_t at, uint32_t* codePoint) {
  const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[at + i]); };
  const unsigned char lead = byte(0);
  size_t length = 0;
  uint32_t value = 0;
  // The second byte's range rules out overlong forms, surrogates and
  // anything past U+10FFFF.
  unsigned char low = 0x80, high = 0xbf;
  if (lead >= 0xc2 && lead <= 0xdf) {
    length = 2;
    value = lead & 0x1fu;
  } else if (lead >= 0xe0 && lead <= 0xef) {
    length = 3;
    value = lead & 0x0fu;
    if (lead == 0xe0) low = 0xa0;
    if (lead == 0xed) high = 0x9f;
  } else if (lead >= 0xf0 && lead <= 0xf4) {
    length = 4;
    value = lead & 0x07u;
    if (lead == 0xf0) low = 0x90;
    if (lead == 0xf4) high = 0x8f;
  } else {
    return 0;
  }
  if (at + length > text.size()) return 0;
  for (size_t i = 1; i < length; ++i) {
    const unsigned char next = byte(i);
    const unsigned char min = i == 1 ? low : 0x80;
    const unsigned char max = i == 1 ? high : 0xbf;
    if (next < min || next > max) return 0;
    value = (value << 6) | (next & 0x3fu);
  }
  *codePoint = value;
  return length;
}

bool IsLayoutOrControl(uint32_t c) {
  return (c >= 0x80 && c <= 0x9f) || c == 0x061c || c == 0x200e || c == 0x200f ||
         (c >= 0x2028 && c <= 0x202e) || (c >= 0x2066 && c <= 0x2069);
}

}  // namespace

std::string TerminalJson(std::string_view json) {
  std::string out;
  out.reserve(json.size());
  for (size_t at = 0; at < json.size();) {
    const unsigned char c = static_cast<unsigned char>(json[at]);
    if (c < 0x80) {
      if (c == 0x7f) {
        out += "\\u007f";
      } else {
        out += static_cast<char>(c);
      }
      ++at;
      continue;
    }
    uint32_t codePoint = 0;
    const size_t length = Utf8Sequence(json, at, &codePoint);
    if (length == 0) {
      out += "\\ufffd";
      ++at;
    } else {
      if (IsLayoutOrControl(codePoint)) {
        AppendEscape(&out, "\\u%04x", codePoint);
      } else {
        out.append(json.substr(at, length));
      }
      at += length;
    }
  }
  return out;
}

std::string TerminalText(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t at = 0; at < text.size();) {
    const unsigned char c = static_cast<unsigned char>(text[at]);
    if (c == '\\') {
      out += "\\\\";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '\t' || (c >= 0x20 && c < 0x7f)) {
      out += static_cast<char>(c);
    } else if (c < 0x80) {
      AppendEscape(&out, "\\x%02x", c);
    } else {
      uint32_t codePoint = 0;
      const size_t length = Utf8Sequence(text, at, &codePoint);
      if (length == 0) {
        AppendEscape(&out, "\\x%02x", c);
      } else {
        if (IsLayoutOrControl(codePoint)) {
          AppendEscape(&out, "\\u%04x", codePoint);
        } else {
          out.append(text.substr(at, length));
        }
        at += length;
        continue;
      }
    }
    ++at;
  }
  return out;
}
