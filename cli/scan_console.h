// The scan run's front end on a console: a progress line on a terminal that
// fits its width (one plain line a sample otherwise), the verdict text as
// the window shows it, and every sample kept for the CSV and JSON files.
//
// Threads: the run calls it on its own thread; read it after the run.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "cli/terminal_style.h"
#include "commands/disc_type.h"
#include "console/run_progress.h"
#include "console/scan_run.h"

// The progress line, at most columns - 1 characters (the last column would
// wrap on some terminals): bar when there is room, percent, samples done,
// the last TE and FE, and the time left (secondsLeft < 0: not known yet).
std::string ProgressLine(int done, int total, uint16_t te, uint16_t fe, long secondsLeft,
                         int columns);

class CScanConsole : public ScanSink {
 public:
  // quiet: only the verdict (errors go elsewhere).
  CScanConsole(std::FILE* out, const TerminalStyle& style, bool quiet = false)
      : m_out(out), m_style(style), m_quiet(quiet) {}

  void SetExpectedSamples(int count) { m_expected = count; }

  void SetScanning(bool) override {}
  void LogOpenFailed() override;
  void LogWriteFailed(int error) override;
  void RunStarted() override;
  void Elapsed(long seconds) override { m_elapsed = seconds; }
  void Sampled(int32_t lba, uint16_t te, uint16_t fe) override;
  void SampleFailed(const RunEnd&) override { EndProgress(); }
  void Verdict(ScanVerdict verdict) override;
  void Finished() override {}

  // Ends a progress bar line, so that what follows starts on a line of its own.
  void EndProgress();

  const std::vector<ScanSample>& Samples() const { return m_samples; }
  bool LogFailed() const { return m_logFailed; }
  int LogError() const { return m_logError; }  // errno of the failed open or write
  long ElapsedSeconds() const { return m_elapsed; }

 private:
  std::FILE* m_out;
  TerminalStyle m_style;
  bool m_quiet;
  bool m_barShown = false;
  size_t m_shownLength = 0;  // of the progress line on screen, to blank what a shorter one leaves
  std::chrono::steady_clock::time_point m_started = std::chrono::steady_clock::now();
  int m_expected = 0;
  long m_elapsed = 0;
  std::vector<ScanSample> m_samples;
  bool m_logFailed = false;
  int m_logError = 0;
};
