#include "snapshot/print_log.h"

#include <cstdio>
#include <cstring>
#include <memory>

namespace {

struct FileCloser {
  void operator()(FILE* file) const { std::fclose(file); }
};

}  // namespace

bool PrintLog(LogPrintTarget& target, const std::string& logPath) {
  std::unique_ptr<FILE, FileCloser> file(std::fopen(logPath.c_str(), "r"));
  if (!file) {
    target.ShowMessage(kCannotOpenLogToPrint);
    return false;
  }
  const int pageHeight = target.PageHeight();
  char buffer[kPrintLineBuffer];
  for (int y = kPrintFirstLineY; y < pageHeight; y += kPrintLineSpacing) {
    std::memset(buffer, 0, sizeof buffer);
    if (std::fgets(buffer, sizeof buffer, file.get()) == nullptr) break;
    size_t length = std::strlen(buffer);
    // The log ends its lines with CR LF; a page device would draw them as
    // boxes or break the line.
    if (length > 0 && buffer[length - 1] == '\n') --length;
    if (length > 0 && buffer[length - 1] == '\r') --length;
    target.DrawTextLine(0, y, std::string(buffer, length));
  }
  return true;
}
