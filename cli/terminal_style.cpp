#include "cli/terminal_style.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "session/run_options.h"

int TerminalColumns(int fd) {
  winsize size{};
  if (fd >= 0 && ioctl(fd, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
  int columns = 0;
  const char* env = std::getenv("COLUMNS");
  if (env != nullptr && ParseIntInRange(env, 1, 10000, &columns)) return columns;
  return 80;
}

TerminalStyle TerminalStyleOf(std::FILE* stream) {
  TerminalStyle style;
  const int fd = fileno(stream);
  style.terminal = fd >= 0 && isatty(fd) == 1;
  const char* noColour = std::getenv("NO_COLOR");
  const char* term = std::getenv("TERM");
  const bool dumb = term != nullptr && std::strcmp(term, "dumb") == 0;
  style.colour = style.terminal && (noColour == nullptr || *noColour == '\0') && !dumb;
  style.columns = TerminalColumns(fd);
  return style;
}

std::FILE* TalkStream(std::FILE* out, bool quiet) {
  if (!quiet) return out;
  static std::FILE* const dropped = std::fopen("/dev/null", "w");
  return dropped != nullptr ? dropped : out;
}
