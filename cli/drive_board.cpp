#include "cli/drive_board.h"

#include <cstdlib>
#include <cstring>
#include <utility>

#include "cli/terminal_style.h"

namespace {

// A sample line ("12/58  LBA ...") or the verdict: what a drive's line shows
// once its run is under way; the lines around them (the header, the files
// written) only until then.
bool Telling(const std::string& line) {
  return line.find(" LBA ") != std::string::npos || line.rfind("This disc", 0) == 0 ||
         line.rfind("Testing", 0) == 0;
}

}  // namespace

bool BoardFits(std::FILE* out) {
  const char* term = std::getenv("TERM");
  return TerminalStyleOf(out).terminal && !(term != nullptr && std::strcmp(term, "dumb") == 0);
}

CDriveBoard::CDriveBoard(std::FILE* out, int columns, std::vector<std::string> labels,
                         bool errShares)
    : m_out(out),
      m_width(static_cast<size_t>(columns > 1 ? columns - 1 : 1)),
      m_labels(std::move(labels)),
      m_status(m_labels.size()),
      m_ended(m_labels.size(), false),
      m_errShares(errShares) {}

void CDriveBoard::Update(size_t drive, const std::string& line) {
  if (drive >= m_status.size() || m_ended[drive]) return;
  std::string& status = m_status[drive];
  if (!Telling(line) && Telling(status)) return;
  status = line;
  Draw();
}

void CDriveBoard::End(size_t drive, const std::string& text) {
  if (drive >= m_status.size()) return;
  m_status[drive] = text;
  m_ended[drive] = true;
  Draw();
}

void CDriveBoard::Say(std::FILE* err, const std::string& line) {
  if (m_errShares) Erase();
  std::fprintf(err, "%s\n", line.c_str());
  std::fflush(err);
  if (m_errShares) Draw();
}

void CDriveBoard::Erase() {
  if (!m_drawn) return;
  // Up to the board's first line, and clear from there down.
  std::fprintf(m_out, "\033[%zuA\r\033[J", m_labels.size());
  // Before the line on the other stream lands where the board was.
  std::fflush(m_out);
  m_drawn = false;
}

void CDriveBoard::Draw() {
  if (m_drawn) std::fprintf(m_out, "\033[%zuA", m_labels.size());
  for (size_t i = 0; i < m_labels.size(); ++i) {
    std::string line = m_labels[i] + m_status[i];
    if (line.size() > m_width) line.resize(m_width);
    std::fprintf(m_out, "\r%s\033[K\n", line.c_str());
  }
  m_drawn = true;
  std::fflush(m_out);
}
