// Text from drives, discs and records as velmo-cli prints it: controls and
// broken UTF-8 shown as escapes, printable text untouched.
#include "session/terminal_text.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>

namespace {

struct Case {
  std::string in;
  std::string shown;
};

TEST(TerminalText, PrintableTextPassesUnchanged) {
  for (const std::string text :
       {"", "PIONEER DVD-RW  DVR-112D 1.21", "YUDEN000 T02",
        "Caf\xc3\xa9 \xe6\x97\xa5\xe6\x9c\xac \xf0\x9f\x92\xbf", "tab\tkept",
        "U+00A0 \xc2\xa0 and U+00FF \xc3\xbf", "U+FFFD \xef\xbf\xbd, U+10FFFF \xf4\x8f\xbf\xbf"}) {
    EXPECT_EQ(TerminalText(text), text);
  }
}

TEST(TerminalText, ControlsAreEscapedAndTheEscapeIsUnambiguous) {
  const Case cases[] = {
      {"\x1b[2J", "\\x1b[2J"},
      {"\x1b]0;pwned\x07", "\\x1b]0;pwned\\x07"},
      {"ok\r\n    2  2026-01-01", "ok\\r\\n    2  2026-01-01"},
      {std::string("a\0b", 3), "a\\x00b"},
      {"\x01\x1f\x7f", "\\x01\\x1f\\x7f"},
      // A backslash in the text cannot pass for an escape.
      {"\\x1b", "\\\\x1b"},
      {"C:\\discs", "C:\\\\discs"},
  };
  for (const Case& c : cases) EXPECT_EQ(TerminalText(c.in), c.shown) << c.shown;
}

TEST(TerminalText, C1ControlsAsBytesOrAsCodePoints) {
  const Case cases[] = {
      // A raw 0x9b is the 8-bit CSI of terminals that take 8-bit controls.
      {"\x9b"
       "2J",
       "\\x9b2J"},
      {"\xc2\x9b"
       "2J",
       "\\u009b2J"},
      {"\xc2\x80\xc2\x9f", "\\u0080\\u009f"},
      {"\xc2\x85", "\\u0085"},  // NEL
  };
  for (const Case& c : cases) EXPECT_EQ(TerminalText(c.in), c.shown) << c.shown;
}

TEST(TerminalText, BidirectionalControlsAreEscaped) {
  const Case cases[] = {
      {"abc\xe2\x80\xae"
       "fed",
       "abc\\u202efed"},
      {"\xe2\x80\xaa\xe2\x80\xab\xe2\x80\xac\xe2\x80\xad", "\\u202a\\u202b\\u202c\\u202d"},
      {"\xe2\x81\xa6\xe2\x81\xa7\xe2\x81\xa8\xe2\x81\xa9", "\\u2066\\u2067\\u2068\\u2069"},
      {"\xe2\x80\x8e\xe2\x80\x8f\xd8\x9c", "\\u200e\\u200f\\u061c"},
      {"\xe2\x80\xa8\xe2\x80\xa9", "\\u2028\\u2029"},
      // Their neighbours are ordinary text.
      {"\xe2\x80\xa7\xe2\x80\xaf\xe2\x81\xa5", "\xe2\x80\xa7\xe2\x80\xaf\xe2\x81\xa5"},
  };
  for (const Case& c : cases) EXPECT_EQ(TerminalText(c.in), c.shown) << c.shown;
}

TEST(TerminalText, InvalidUtf8IsShownByteByByte) {
  const Case cases[] = {
      {"\xff\xfe", "\\xff\\xfe"},
      {"\x80"
       "A",
       "\\x80A"},                                    // a continuation byte alone
      {"\xc0\xaf", "\\xc0\\xaf"},                    // overlong '/'
      {"\xc1\x9b", "\\xc1\\x9b"},                    // overlong '['
      {"\xe0\x80\xaf", "\\xe0\\x80\\xaf"},           // overlong, three bytes
      {"\xf0\x80\x80\xaf", "\\xf0\\x80\\x80\\xaf"},  // overlong, four bytes
      {"\xed\xa0\x80", "\\xed\\xa0\\x80"},           // a surrogate
      {"\xf4\x90\x80\x80", "\\xf4\\x90\\x80\\x80"},  // past U+10FFFF
      {"\xf5\x80", "\\xf5\\x80"},
      // Cut short, at the end and before the next character.
      {"ab\xc3", "ab\\xc3"},
      {"ab\xe2\x80", "ab\\xe2\\x80"},
      {"ab\xf0\x9f\x92", "ab\\xf0\\x9f\\x92"},
      {"\xe2\x80"
       "A\xc3\xa9",
       "\\xe2\\x80A\xc3\xa9"},
      // A broken lead does not swallow a control after it.
      {"\xc3\x1b[2J", "\\xc3\\x1b[2J"},
  };
  for (const Case& c : cases) EXPECT_EQ(TerminalText(c.in), c.shown) << c.shown;
}

TEST(TerminalText, NothingShownIsAControlOrBrokenUtf8) {
  // Every single byte and every two-byte pair: the result is printable
  // ASCII, tab, or valid UTF-8 that is not a C1 control.
  for (int a = 0; a < 256; ++a) {
    for (int b = -1; b < 256; ++b) {
      std::string in(1, static_cast<char>(a));
      if (b >= 0) in += static_cast<char>(b);
      const std::string shown = TerminalText(in);
      for (size_t i = 0; i < shown.size(); ++i) {
        const auto c = static_cast<unsigned char>(shown[i]);
        ASSERT_TRUE(c == '\t' || (c >= 0x20 && c != 0x7f)) << a << " " << b;
        // Only valid, printable text passes as it came.
        if (c >= 0x80) {
          ASSERT_EQ(shown, in) << a << " " << b;
          ASSERT_FALSE(c == 0xc2 && static_cast<unsigned char>(shown[i + 1]) <= 0x9f);
        }
      }
    }
  }
}

TEST(TerminalJson, SameValuesWithNoControlLeftRaw) {
  const nlohmann::json values = {
      {"c0", "\x1b[2J\x1b]0;pwned\x07\r\n\t"},
      {"del",
       "a\x7f"
       "b"},
      {"c1",
       "\xc2\x9b"
       "2J\xc2\x80"},
      {"bidi",
       "abc\xe2\x80\xae"
       "fed\xe2\x81\xa6"},
      {"text", "Caf\xc3\xa9 \xe6\x97\xa5\xe6\x9c\xac \\ \"quoted\""},
  };
  const std::string dumped = values.dump(2);
  const std::string shown = TerminalJson(dumped);
  EXPECT_EQ(nlohmann::json::parse(shown), values);
  for (const std::string raw : {"\x7f", "\xc2\x9b", "\xc2\x80", "\xe2\x80\xae", "\xe2\x81\xa6"})
    EXPECT_EQ(shown.find(raw), std::string::npos) << TerminalText(raw);
  EXPECT_NE(shown.find("\\u009b2J"), std::string::npos) << shown;
  EXPECT_NE(shown.find("\\u202efed"), std::string::npos) << shown;
  // Printable text keeps its bytes.
  EXPECT_NE(shown.find("Caf\xc3\xa9 \xe6\x97\xa5\xe6\x9c\xac"), std::string::npos) << shown;
  // A document without such characters passes untouched.
  const std::string plain = nlohmann::json{{"text", values["text"]}, {"c0", values["c0"]}}.dump();
  EXPECT_EQ(TerminalJson(plain), plain);
}

TEST(TerminalJson, BytesThatAreNotUtf8BecomeReplacementCharacters) {
  const std::string shown = TerminalJson("{\"a\": \"x\x9b\xff\xe2\x80\"}");
  EXPECT_EQ(nlohmann::json::parse(shown)["a"], "x\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd");
}

}  // namespace
