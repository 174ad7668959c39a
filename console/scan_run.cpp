#include "console/scan_run.h"

#include <cerrno>
#include <ctime>

#include <stdio_ext.h>

#include <unistd.h>

#include "commands/disc_globals.h"
#include "commands/drive_commands.h"

namespace {

constexpr int32_t kLayer0Sectors = 2086912;
constexpr int32_t kLayerTenth = 208691;
constexpr int32_t kQuickStart = 1878221;
constexpr int32_t kDualLayerQuickEnd = 2295603;
constexpr int32_t kTailSectors = 16384;
constexpr int32_t kLayer0PsnOffset = 0x30000;
constexpr int32_t kLayer1PsnOffset = 0xBD5000;
constexpr int32_t kClampFirst = 0x229800;
constexpr int32_t kClampLast = 0xDD0000;

constexpr char kLineOk[] = " The disc is ok for writing under this speed setting.";
constexpr char kLineNotRecommended[] =
    " The disc is not recommended for writing under this speed setting.";

struct DiscSnapshot {
  DiscTypeCode type;
  int32_t lastLba;
};

DiscSnapshot ReadDisc() {
  std::lock_guard<std::mutex> hold(g_discLock);
  return {g_discType.load(), g_lastLba};
}

}  // namespace

ScanRange GetScanRange(uint8_t densityMode, DiscTypeCode discType, int32_t lastLba) {
  if (densityMode == kDensityQuick) {
    if (discType == kDiscDvdPlusRDl) return {kQuickStart, kDualLayerQuickEnd - kTailSectors};
    return {kQuickStart, lastLba - kTailSectors};
  }
  return {0, lastLba - kTailSectors};
}

int32_t SecondLayerStartLba() { return kLayer0Sectors; }

int LayerOfLba(int32_t lba, DiscTypeCode discType) {
  return discType == kDiscDvdPlusRDl && lba >= kLayer0Sectors ? 1 : 0;
}

int32_t PsnToLba(int32_t psn, DiscTypeCode discType) {
  if (discType == kDiscDvdPlusRDl && psn >= kLayer0Sectors + kLayer1PsnOffset) {
    return psn - kLayer1PsnOffset;
  }
  return psn - kLayer0PsnOffset;
}

int32_t LbaToPsn(int32_t lba, DiscTypeCode discType) {
  int32_t psn = discType == kDiscDvdPlusRDl && lba >= kLayer0Sectors ? lba + kLayer1PsnOffset
                                                                     : lba + kLayer0PsnOffset;
  if (psn >= kClampFirst && psn <= kClampLast) psn = kClampFirst;
  return psn;
}

int32_t GetSampleStep(int32_t lba, int32_t densityStep, DiscTypeCode discType, int32_t lastLba) {
  int32_t zone;
  if (discType == kDiscDvdPlusRDl) {
    zone = lba < kLayer0Sectors ? lba / kLayerTenth : 10 - (lba - kLayer0Sectors) / kLayerTenth;
  } else {
    // A last address below ten sectors would make the zone divisor zero:
    // such a disc is all rim.
    const int32_t tenth = lastLba / 10;
    zone = tenth > 0 ? lba / tenth : 10;
  }
  if (zone < 5) return densityStep;
  if (zone <= 8) return (densityStep + kTailSectors) / 2;
  return kTailSectors;
}

std::string FormatLogHeader() {
  char line[600] = {};
  std::snprintf(line, sizeof line, "%8s%5s%5s %s\r\n", "Address", "TE", "FE", "Result");
  return line;
}

std::string FormatLogLine(int32_t lba, uint16_t te, uint16_t fe) {
  char line[600] = {};
  char tail[500] = {};
  std::snprintf(line, sizeof line, "%8ld%5d", static_cast<long>(lba), te);
  const bool ok = te <= kTeLimit && fe <= kFeLimit;
  std::snprintf(tail, sizeof tail, "%5d%s", fe, ok ? kLineOk : kLineNotRecommended);
  return std::string(line) + tail + "\r\n";
}

CScanRun::CScanRun(ScanSettings& settings, ScanChart& chart, ScanSink& sink, LogOpener openLog)
    : m_settings(settings), m_chart(chart), m_sink(sink), m_openLog(std::move(openLog)) {}

void CScanRun::RequestStop() {
  MutexLock hold(m_outputLock);
  m_stop = true;
}

CScanRun::Counts CScanRun::GetCounts() const {
  MutexLock hold(m_outputLock);
  return m_counts;
}

RunEnd CScanRun::End() const {
  MutexLock hold(m_outputLock);
  return m_end;
}

std::vector<ScanSample> CScanRun::Samples() const {
  MutexLock hold(m_outputLock);
  return m_samples;
}

bool SamplePasses(const ScanSample& sample) {
  return sample.te <= kTeLimit && sample.fe <= kFeLimit;
}

bool CScanRun::WriteLine(const std::string& line) {
  // Each line is flushed whole. A write the disk could take only part of is
  // cut back, so the log never ends in half a line.
  if (std::fputs(line.c_str(), m_log) >= 0 && std::fflush(m_log) == 0) {
    m_logBytes += static_cast<long>(line.size());
    return true;
  }
  m_logError = errno;
  // What did not get out must not go out at close either.
  __fpurge(m_log);
  const bool cut = ftruncate(fileno(m_log), m_logBytes) == 0;
  (void)cut;  // the failure is reported either way
  std::fclose(m_log);
  m_log = nullptr;
  return false;
}

void CScanRun::FailLogWrite() {
  m_end = RunEnd{};
  m_end.outcome = RunOutcome::kLogNotWritten;
  m_end.cause.logError = m_logError;
  m_sink.LogWriteFailed(m_logError);
  m_sink.SetScanning(false);
}

void CScanRun::Run() {
  struct Finish {
    CScanRun& run;
    ~Finish() {
      if (run.m_log != nullptr) std::fclose(run.m_log);
      run.m_log = nullptr;
      run.m_finished = true;
    }
  } finish{*this};

  if (Begin() && Sweep()) Conclude();
}

bool CScanRun::Begin() {
  MutexLock hold(m_outputLock);
  if (m_stop) return false;
  m_sink.SetScanning(true);
  const int fd = m_openLog();
  m_log = fd >= 0 ? fdopen(fd, "w") : nullptr;
  if (m_log == nullptr && fd >= 0) close(fd);
  if (m_log == nullptr) {
    m_end.outcome = RunOutcome::kLogNotWritten;
    m_end.cause.logError = errno;
    m_sink.LogOpenFailed();
    m_sink.SetScanning(false);
    return false;
  }
  m_logBytes = 0;
  if (!WriteLine(FormatLogHeader())) {
    FailLogWrite();
    return false;
  }
  m_sink.RunStarted();
  m_chart.ClearData();
  if (m_settings.showFeLimit == 1) m_chart.DrawLimitLine(ScanSeries::kFeLimit, kFeLimit, true);
  if (m_settings.showTeLimit == 1) m_chart.DrawLimitLine(ScanSeries::kTeLimit, kTeLimit, true);
  for (const ScanSample& sample : m_part.taken) {
    if (!KeepReading(sample)) {
      FailLogWrite();
      return false;
    }
  }
  return true;
}

bool CScanRun::KeepReading(const ScanSample& sample) {
  m_chart.AppendPoint(ScanSeries::kTeCurve, sample.te, sample.lba);
  m_chart.AppendPoint(ScanSeries::kFeCurve, sample.fe, sample.lba);
  if (sample.te > kTeLimit) ++m_counts.teFailures;
  if (sample.fe > kFeLimit) ++m_counts.feFailures;
  ++m_counts.samples;
  m_samples.push_back(sample);
  if (!WriteLine(FormatLogLine(sample.lba, sample.te, sample.fe))) return false;
  m_sink.Sampled(sample.lba, sample.te, sample.fe);
  m_chart.Refresh();
  return true;
}

bool CScanRun::Sweep() {
  const std::time_t started = std::time(nullptr);
  const DiscSnapshot disc = ReadDisc();
  const ScanRange range = GetScanRange(m_settings.densityMode, disc.type, disc.lastLba);
  // The earlier part's readings count as readings taken (an invalid one
  // after them is a place the drive cannot track).
  int readings = static_cast<int>(m_part.taken.size());
  const bool goesOn = !m_part.taken.empty();
  const int32_t after = goesOn ? m_part.taken.back().lba : 0;
  for (int32_t lba = range.start; lba < range.end;) {
    const DiscSnapshot now = ReadDisc();
    const int32_t step = GetSampleStep(lba, m_settings.densityStep, now.type, now.lastLba);
    const bool wanted = lba >= m_part.from && lba < m_part.to && (!goesOn || lba > after);
    if (wanted && !SampleAt(lba, LbaToPsn(lba, now.type), started, &readings)) return false;
    if (step <= 0) break;  // cannot happen with the two density steps; never loop forever
    lba += step;
  }
  return true;
}

bool CScanRun::SampleAt(int32_t lba, int32_t psn, std::time_t started, int* readings) {
  SampleEnd sample;
  sample.answer = TakeSample(m_settings.speedCode, static_cast<uint32_t>(psn), &sample.reading,
                             &sample.exchange);
  const bool ok = sample.answer == SampleAnswer::kReading;
  // Decided before the lock: it may ask the drive once more (is the tray
  // empty?), and a stop must not wait for that.
  RunEnd failure;
  if (!ok) {
    failure = JudgeFailedSample(sample, *readings > 0);
    failure.cause.lba = lba;
    failure.cause.psn = static_cast<uint32_t>(psn);
  }

  MutexLock hold(m_outputLock);
  if (m_stop) return false;
  const long elapsed = static_cast<long>(std::time(nullptr) - started);
  m_sink.Elapsed(elapsed);
  if (!ok) {
    m_end = failure;
    // The box first; the run counts as going on (no poll) until the user
    // has closed it. It waits without the lock so a STOP or a close still
    // comes through.
    hold.Unlock();
    m_sink.SampleFailed(failure);
    hold.Lock();
    if (m_stop) return false;
    std::fclose(m_log);
    m_log = nullptr;
    m_sink.SetScanning(false);
    m_sink.SampleFailureEnded(failure);
    return false;
  }
  ++*readings;
  if (!KeepReading(ScanSample{lba, psn, sample.reading.te, sample.reading.fe})) {
    FailLogWrite();
    return false;
  }
  return true;
}

void CScanRun::Conclude() {
  bool failed;
  {
    MutexLock hold(m_outputLock);
    if (m_stop) return;
    failed = m_counts.teFailures != 0 || m_counts.feFailures != 0;
    // Decided before the box: a stop while it is up does not undo it.
    m_end = RunEnd{};
    m_end.outcome = failed ? RunOutcome::kNotRecommended : RunOutcome::kOk;
  }
  // The verdict waits for the user without holding the lock, so a STOP (or a
  // close) can still come through while the box is up.
  m_sink.Verdict(failed ? ScanVerdict::kNotRecommended : ScanVerdict::kOk);
  MutexLock hold(m_outputLock);
  if (m_stop) return;
  std::fclose(m_log);
  m_log = nullptr;
  m_sink.SetScanning(false);
  m_sink.Finished();
}
