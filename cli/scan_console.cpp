#include "cli/scan_console.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <string>

#include "commands/disc_globals.h"

namespace {

constexpr int kLongestBar = 40;
constexpr int kShortestBar = 10;
constexpr char kRed[] = "\033[31m";
constexpr char kGreen[] = "\033[32m";
constexpr char kPlain[] = "\033[0m";

}  // namespace

std::string ProgressLine(int done, int total, uint16_t te, uint16_t fe, long secondsLeft,
                         int columns) {
  const size_t room = static_cast<size_t>(std::max(columns - 1, 1));
  const int percent = ProgressOf(done, total, 0).percent;
  const int width = static_cast<int>(std::to_string(total).size());
  char core[160];
  std::snprintf(core, sizeof core, "%3d%%  %*d/%d  TE %5u  FE %5u  %s left", percent, width, done,
                total, te, fe, ProgressClock(secondsLeft).c_str());
  std::string line = core;
  // The bar gives way first, then the spaces and words, then the percent;
  // the readings stay down to 40 columns.
  const int bar = std::min(kLongestBar, static_cast<int>(room) - static_cast<int>(line.size()) - 3);
  if (bar >= kShortestBar) {
    const int filled = total > 0 ? std::min(done, total) * bar / total : bar;
    return "[" + std::string(static_cast<size_t>(filled), '#') +
           std::string(static_cast<size_t>(bar - filled), '.') + "] " + line;
  }
  if (line.size() <= room) return line;
  const std::string clock = ProgressClock(secondsLeft);
  for (const bool withPercent : {true, false}) {
    std::snprintf(core, sizeof core, "%s%d/%d TE %u FE %u %s",
                  withPercent ? (std::to_string(percent) + "% ").c_str() : "", done, total, te, fe,
                  clock.c_str());
    line = core;
    if (line.size() <= room) return line;
  }
  std::snprintf(core, sizeof core, "%d%% %d/%d %s", percent, done, total, clock.c_str());
  line = core;
  if (line.size() > room) line.resize(room);
  return line;
}

void CScanConsole::LogOpenFailed() {
  m_logError = errno;
  m_logFailed = true;
}

void CScanConsole::LogWriteFailed(int error) {
  m_logError = error;
  m_logFailed = true;
}

void CScanConsole::RunStarted() {
  m_started = std::chrono::steady_clock::now();
  if (m_quiet) return;
  std::fprintf(m_out, "Testing...\n");
  std::fflush(m_out);
}

void CScanConsole::Sampled(int32_t lba, uint16_t te, uint16_t fe) {
  ScanSample sample{lba, LbaToPsn(lba, g_discType.load()), te, fe};
  m_samples.push_back(sample);
  const int done = static_cast<int>(m_samples.size());
  const int total = std::max(m_expected, done);
  if (m_quiet) return;
  const int width = static_cast<int>(std::to_string(total).size());
  if (m_style.terminal) {
    const double spent =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - m_started).count();
    const ScanProgress progress = ProgressOf(done, total, spent);
    std::string line = ProgressLine(done, total, te, fe, progress.secondsLeft, m_style.columns);
    const size_t length = line.size();
    if (length < m_shownLength) line.append(m_shownLength - length, ' ');
    m_shownLength = length;
    std::fprintf(m_out, "\r%s", line.c_str());
    m_barShown = true;
  } else {
    std::fprintf(m_out, "%*d/%d  LBA %8ld  TE %5u  FE %5u  %s\n", width, done, total,
                 static_cast<long>(lba), te, fe, SamplePasses(sample) ? "ok" : "not recommended");
  }
  std::fflush(m_out);
}

void CScanConsole::EndProgress() {
  if (!m_barShown) return;
  std::fputc('\n', m_out);
  m_barShown = false;
  m_shownLength = 0;
}

void CScanConsole::Verdict(ScanVerdict verdict) {
  const char* text = ::VerdictText(verdict);
  EndProgress();
  if (m_style.colour) {
    std::fprintf(m_out, "%s%s%s\n", verdict == ScanVerdict::kOk ? kGreen : kRed, text, kPlain);
  } else {
    std::fprintf(m_out, "%s\n", text);
  }
  std::fflush(m_out);
}
