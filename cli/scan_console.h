// The scan run's front end on a console: a progress bar on a terminal (one
// plain line a sample otherwise), the verdict text as the window shows it,
// and every sample kept for the CSV and JSON files.
//
// Threads: the run calls it on its own thread; read it after the run.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "commands/disc_type.h"
#include "console/scan_run.h"

// How many samples a run with these settings takes: the run's own range and
// steps, walked without a drive. The progress bar's full length.
int CountScanSamples(uint8_t densityMode, int32_t densityStep, DiscTypeCode type, int32_t lastLba);

class CScanConsole : public ScanSink {
 public:
  CScanConsole(std::FILE* out, bool terminal) : m_out(out), m_terminal(terminal) {}

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
  bool m_terminal;
  bool m_barShown = false;
  int m_expected = 0;
  long m_elapsed = 0;
  std::vector<ScanSample> m_samples;
  bool m_logFailed = false;
  int m_logError = 0;
};
