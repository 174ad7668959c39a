#include "cli/scan_console.h"

#include <algorithm>
#include <cerrno>

#include "commands/disc_globals.h"

namespace {

constexpr int kBarWidth = 30;
constexpr char kRed[] = "\033[31m";
constexpr char kGreen[] = "\033[32m";
constexpr char kPlain[] = "\033[0m";

}  // namespace

int CountScanSamples(uint8_t densityMode, int32_t densityStep, DiscTypeCode type, int32_t lastLba) {
  const ScanRange range = GetScanRange(densityMode, type, lastLba);
  int count = 0;
  for (int32_t lba = range.start; lba < range.end; ++count) {
    const int32_t step = GetSampleStep(lba, densityStep, type, lastLba);
    if (step <= 0) return count + 1;
    lba += step;
  }
  return count;
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
  std::fprintf(m_out, "Testing...\n");
  std::fflush(m_out);
}

void CScanConsole::Sampled(int32_t lba, uint16_t te, uint16_t fe) {
  ScanSample sample{lba, LbaToPsn(lba, g_discType.load()), te, fe};
  m_samples.push_back(sample);
  const int done = static_cast<int>(m_samples.size());
  const int total = std::max(m_expected, done);
  const int width = static_cast<int>(std::to_string(total).size());
  if (m_terminal) {
    const int filled = total > 0 ? done * kBarWidth / total : kBarWidth;
    std::fprintf(m_out, "\r[%s%s] %3d%%  %*d/%d  LBA %8ld  TE %5u  FE %5u  %ld s ",
                 std::string(filled, '#').c_str(), std::string(kBarWidth - filled, '.').c_str(),
                 total > 0 ? done * 100 / total : 100, width, done, total, static_cast<long>(lba),
                 te, fe, m_elapsed);
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
}

void CScanConsole::Verdict(ScanVerdict verdict) {
  const char* text = ::VerdictText(verdict);
  EndProgress();
  if (m_terminal) {
    std::fprintf(m_out, "%s%s%s\n", verdict == ScanVerdict::kOk ? kGreen : kRed, text, kPlain);
  } else {
    std::fprintf(m_out, "%s\n", text);
  }
  std::fflush(m_out);
}
