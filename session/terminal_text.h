// Text that came from outside this program (a drive's INQUIRY identity, a
// disc's IDs, a record file someone sent, a run in the history, a path)
// made safe to print on a terminal: whatever it holds, it cannot move the
// cursor, clear the screen, retitle the window, start a new line or reorder
// what is shown. For velmo-cli's lines meant for people; JSON and the files
// a run writes keep their exact bytes.
//
// The escaping is visible and reads back to one input only:
//   \\        a backslash
//   \n \r     LF and CR
//   \xHH      any other C0 control byte (tab passes), DEL, and every byte
//             that is not part of valid UTF-8 (a raw 0x9b is \x9b)
//   \uHHHH    a code point that is valid UTF-8 but a control or a layout
//             mark: C1 controls U+0080..U+009F, the bidirectional marks,
//             embeddings, overrides and isolates (U+061C, U+200E, U+200F,
//             U+202A..U+202E, U+2066..U+2069) and the line and paragraph
//             separators U+2028, U+2029
// Hex digits are lower case. Valid UTF-8 that is printable (accents, CJK)
// passes unchanged, and so does tab. Overlong forms, surrogates, code
// points past U+10FFFF and sequences cut short are not valid UTF-8: their
// bytes are shown one by one as \xHH.
#pragma once

#include <string>
#include <string_view>

std::string TerminalText(std::string_view text);

// JSON text (as a dump writes it) for a terminal: the same values, with DEL
// and the code points TerminalText shows as \uHHHH written as JSON's own
// \uHHHH escapes, which a dump leaves raw; a byte that is not UTF-8 becomes
// \ufffd. JSON keeps such characters only inside strings, so the document
// reads back to exactly what it held, and any other byte stays as it was.
std::string TerminalJson(std::string_view json);
