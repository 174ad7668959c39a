// The TE/FE scan run: walks the disc from the start of its range, one sample
// command per address, feeds both curves to the chart, writes TEFE.txt and
// ends with a verdict. Runs on its own worker; the window (or velmo-cli)
// hears of it through a ScanSink and draws through a ScanChart.
//
// Stopping: RequestStop may be called from any thread. Once it returns the
// run writes no further line, draws nothing and calls no sink method; the
// worker closes the log after its pending command returns.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <functional>
#include <string>
#include <vector>

#include "chart/scan_series.h"
#include "commands/disc_type.h"
#include "commands/speed_codes.h"
#include "console/run_end.h"
#include "console/scan_verdict.h"
#include "device/thread_annotations.h"

inline constexpr int32_t kNormalDensityStep = 49152;  // 0xC000
inline constexpr int32_t kFullDensityStep = 16384;    // 0x4000
inline constexpr uint8_t kDensityNormal = 1;
inline constexpr uint8_t kDensityFull = 2;
inline constexpr uint8_t kDensityQuick = 3;

inline constexpr char kLogFileName[] = "TEFE.txt";

// The user's choices, read afresh for every sample: a change during a run
// takes effect from the next sample.
struct ScanSettings {
  std::atomic<SpeedCode> speedCode{kSpeed2_4X};
  std::atomic<int32_t> densityStep{kNormalDensityStep};
  std::atomic<uint8_t> densityMode{kDensityNormal};
  std::atomic<uint8_t> showTeLimit{0};
  std::atomic<uint8_t> showFeLimit{0};
};

// One reading the run took.
struct ScanSample {
  int32_t lba = 0;
  int32_t psn = 0;  // as the sample command carried it
  uint16_t te = 0;
  uint16_t fe = 0;
  bool operator==(const ScanSample&) const = default;
};

bool SamplePasses(const ScanSample& sample);  // TE and FE within their limits

// The chart calls a run makes; safe to call from the worker.
class ScanChart {
 public:
  virtual ~ScanChart() = default;
  virtual void ClearData() = 0;
  virtual void DrawLimitLine(ScanSeries series, double y, bool show) = 0;
  virtual void AppendPoint(ScanSeries series, double y, double x) = 0;
  virtual void Refresh() = 0;
};

// What the run tells its front end, from the worker.
class ScanSink {
 public:
  virtual ~ScanSink() = default;
  // m_scanning: true at the start of a run, false at its end (not after a
  // stop: the stop itself clears it).
  virtual void SetScanning(bool scanning) = 0;
  virtual void LogOpenFailed() = 0;  // "Can't support to save log file."
  // A log line could not be written (disk full, ...): the run ends here, with
  // no verdict; the log keeps the whole lines written before. error: errno.
  virtual void LogWriteFailed(int error) = 0;
  virtual void RunStarted() = 0;  // elapsed " ", "Testing...", START off, STOP on
  virtual void Elapsed(long seconds) = 0;
  virtual void Sampled(int32_t lba, uint16_t te, uint16_t fe) = 0;
  // A sample gave no reading and the run ends there (end says why): the
  // message, waiting until the user has closed it.
  virtual void SampleFailed(const RunEnd& end) = 0;
  // After it: the red status, START on, STOP off.
  virtual void SampleFailureEnded(const RunEnd& /*end*/) {}
  // The verdict: shown to the user, waiting until they have seen it.
  virtual void Verdict(ScanVerdict verdict) = 0;
  virtual void Finished() = 0;  // after the verdict: START on, STOP off
};

struct ScanRange {
  int32_t start;
  int32_t end;  // exclusive
};

// A run over part of the disc, or one that goes on from an earlier run that
// ended early. The run walks the same sample positions as a whole-disc run
// and takes only those in [from, to) it has no reading of yet.
struct ScanPart {
  int32_t from = 0;
  int32_t to = INT32_MAX;  // exclusive
  // The earlier run's readings, in order: counted, logged and drawn again,
  // not sampled again; the run goes on after the last of them.
  std::vector<ScanSample> taken;
  bool IsWholeDisc() const { return from == 0 && to == INT32_MAX && taken.empty(); }
};

ScanRange GetScanRange(uint8_t densityMode, DiscTypeCode discType, int32_t lastLba);
int32_t LbaToPsn(int32_t lba, DiscTypeCode discType);  // with the run's clamp
int LayerOfLba(int32_t lba, DiscTypeCode discType);    // 1 on a DL disc's second layer
int32_t SecondLayerStartLba();                         // a DL disc's first LBA of layer 1
int32_t PsnToLba(int32_t psn, DiscTypeCode discType);  // LbaToPsn's inverse, clamp aside
int32_t GetSampleStep(int32_t lba, int32_t densityStep, DiscTypeCode discType, int32_t lastLba);

std::string FormatLogHeader();  // with its CR LF
std::string FormatLogLine(int32_t lba, uint16_t te, uint16_t fe);

// Opens the log when the run starts (not before: a run stopped before its
// start must not create it). A descriptor, or -1 with errno set. The front
// end chooses how an output is opened; the run only writes lines.
using LogOpener = std::function<int()>;

class CScanRun {
 public:
  CScanRun(ScanSettings& settings, ScanChart& chart, ScanSink& sink, LogOpener openLog);
  // Before Run: a part of the disc, or a run that goes on (see ScanPart).
  void SetPart(ScanPart part) { m_part = std::move(part); }

  // The whole run, on the calling thread (the worker).
  void Run();
  void RequestStop() EXCLUDES(m_outputLock);
  bool StopRequested() const { return m_stop.load(); }
  bool Finished() const { return m_finished.load(); }

  struct Counts {
    int samples = 0;
    int teFailures = 0;
    int feFailures = 0;
  };
  Counts GetCounts() const;
  // How the run ended: aborted until it reaches an end of its own.
  RunEnd End() const;
  // The readings taken so far, in order; any thread.
  std::vector<ScanSample> Samples() const;

 private:
  // The run's phases, on the worker. Each returns false when the run ends
  // there (stopped, a failed sample, a log that cannot be written).
  bool Begin() EXCLUDES(m_outputLock);  // the log opened, its header, the chart cleared
  // Walks the disc's range, one sample per address.
  bool Sweep() EXCLUDES(m_outputLock);
  // One sample at lba; *readings counts the readings so far.
  bool SampleAt(int32_t lba, int32_t psn, std::time_t started, int* readings)
      EXCLUDES(m_outputLock);
  // An earlier part's reading, as SampleAt keeps a new one.
  bool KeepReading(const ScanSample& sample) REQUIRES(m_outputLock);
  void Conclude() EXCLUDES(m_outputLock);  // the verdict, and the log closed

  bool WriteLine(const std::string& line) REQUIRES(m_outputLock);  // on failure the log is closed
  void FailLogWrite() REQUIRES(m_outputLock);

  ScanSettings& m_settings;
  ScanChart& m_chart;
  ScanSink& m_sink;
  LogOpener m_openLog;
  // The log is the worker's alone; it writes only with m_outputLock held.
  std::FILE* m_log = nullptr;
  long m_logBytes = 0;  // what the log holds in whole lines
  int m_logError = 0;
  // Held while the run writes or draws, and by RequestStop: after a stop
  // nothing of this run can land in the next run's log or chart.
  mutable Mutex m_outputLock;
  std::atomic<bool> m_stop{false};
  std::atomic<bool> m_finished{false};
  ScanPart m_part;  // the worker's, set before Run
  Counts m_counts GUARDED_BY(m_outputLock);
  RunEnd m_end GUARDED_BY(m_outputLock);
  std::vector<ScanSample> m_samples GUARDED_BY(m_outputLock);
};
