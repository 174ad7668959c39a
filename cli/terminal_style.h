// What velmo-cli may do on one of its streams: rewrite a line in place on a
// terminal, colour it (not when NO_COLOR is set or TERM is dumb), and how
// wide a line may be (the terminal's own width, then $COLUMNS, else 80).
#pragma once

#include <cstdio>

struct TerminalStyle {
  bool terminal = false;  // a line may be rewritten in place
  bool colour = false;
  int columns = 80;
};

TerminalStyle TerminalStyleOf(std::FILE* stream);

// The width a terminal on fd reports; else $COLUMNS when it is a number;
// else 80.
int TerminalColumns(int fd);

// out, or a stream that drops what is written when quiet (--quiet: the
// lines besides errors and the verdict go there). Lives until exit.
std::FILE* TalkStream(std::FILE* out, bool quiet);
