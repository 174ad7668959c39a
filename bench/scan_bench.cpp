// A whole Full-density DVD+R DL scan through CScanRun over the simulator,
// as velmo-cli runs it: what one sample costs the program (engine, log line,
// chart), and how much a run with a drive-like latency adds to the time the
// drive itself spends.
#include <benchmark/benchmark.h>

#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "cli/run_chart.h"
#include "cli/scan_console.h"
#include "commands/disc_globals.h"
#include "commands/drive_commands.h"
#include "console/disc_identification.h"
#include "console/scan_run.h"
#include "console/smart_scan.h"
#include "device/device_manager.h"
#include "session/output_file.h"
#include "simulator/sim_drive.h"
#include "simulator/sim_host.h"
#include "simulator/sim_scenarios.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr char kScenario[] = "dvd+rdl-good";

class NullSink : public ScanSink {
 public:
  void SetScanning(bool) override {}
  void LogOpenFailed() override { failed = true; }
  void LogWriteFailed(int) override { failed = true; }
  void RunStarted() override {}
  void Elapsed(long) override {}
  void Sampled(int32_t, uint16_t, uint16_t) override {}
  void SampleFailed(const RunEnd&) override { failed = true; }
  void Verdict(ScanVerdict) override {}
  void Finished() override {}
  bool failed = false;
};

class NullChart : public ScanChart {
 public:
  void ClearData() override {}
  void DrawLimitLine(ScanSeries, double, bool) override {}
  void AppendPoint(ScanSeries, double, double) override {}
  void Refresh() override {}
};

// A temp folder for the run's TEFE.txt, gone with the object.
class TempDir {
 public:
  TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "velmo-bench-XXXXXX").string();
    if (mkdtemp(pattern.data()) != nullptr) m_path = pattern;
  }
  ~TempDir() {
    std::error_code ignored;
    if (!m_path.empty()) std::filesystem::remove_all(m_path, ignored);
  }
  const std::string& Path() const { return m_path; }

 private:
  std::string m_path;
};

// The simulated bus as --simulate builds it (c: a fixed disk, d: the
// supported drive, e: one that refuses), with the time spent inside the
// supported drive added up: that is the drive's own share of a run.
class SimulatedSession {
 public:
  SimulatedSession(int sampleLatencyMs, std::string* error) {
    const SimScenario* scenario = FindSimScenario(kScenario);
    if (scenario == nullptr) {
      *error = "no scenario " + std::string(kScenario);
      return;
    }
    SimOptions options;
    options.sampleLatencyMs = sampleLatencyMs;
    options.insertDelayMs = 0;
    m_drives = BuildSimDrives(*scenario, options);

    SimHostConfig config;
    config.platformId = kPlatformWin32Nt;
    config.volumes.push_back(SimVolume{'c', 3, 0, nullptr});
    char letter = 'd';
    for (size_t i = 0; i < m_drives.size(); ++i) {
      SimDevice device = DeviceOf(m_drives[i]);
      if (i == 0) {
        device = [inner = std::move(device), spent = &m_driveNs](ScsiExchange& exchange) {
          const auto start = Clock::now();
          inner(exchange);
          *spent +=
              std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - start).count();
        };
      }
      config.volumes.push_back(SimVolume{letter++, kDriveTypeCdRom, 0, std::move(device)});
    }
    m_manager = std::make_unique<CDeviceManager>(std::make_shared<CSimulatedHost>(config));
    m_manager->SetMessageHandler([](const std::string&, const std::string&) {});
    g_pDeviceManager = m_manager.get();
    if (!m_manager->Initialize()) {
      *error = "device layer not initialised";
      return;
    }
    m_manager->EnumerateDrives();
    if (!m_manager->SelectDrive(0)) {
      *error = "no drive 0";
      return;
    }

    // As velmo-cli prepares a disc: diagnostic mode, wait for it, identify.
    ResetDiscGlobals();
    m_diagnostic = SetDiagnosticMode(kDiagnosticEnter);
    if (!m_diagnostic) {
      *error = "the drive refuses the diagnostic mode";
      return;
    }
    const auto deadline = Clock::now() + std::chrono::seconds(2);
    while (DriveNotReady()) {
      if (Clock::now() >= deadline) {
        *error = "no disc";
        return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    const DiscView view = IdentifyDisc(true);
    if (!view.enableRunControls) {
      *error = "disc not testable";
      return;
    }
    m_speed = CurrentSpeedRows().front();
    {
      std::lock_guard<std::mutex> hold(g_discLock);
      m_lastLba = g_lastLba;
    }
    m_expectedSamples = CountScanSamples(kDensityFull, kFullDensityStep, g_discType, m_lastLba);
  }

  ~SimulatedSession() {
    if (m_diagnostic) SetDiagnosticMode(kDiagnosticLeave);
    if (g_pDeviceManager == m_manager.get()) g_pDeviceManager = nullptr;
  }

  SpeedCode Speed() const { return m_speed; }
  int32_t LastLba() const { return m_lastLba; }
  int ExpectedSamples() const { return m_expectedSamples; }
  int64_t DriveNs() const { return m_driveNs.load(); }

 private:
  std::vector<std::shared_ptr<CSimDrive>> m_drives;
  std::unique_ptr<CDeviceManager> m_manager;
  std::atomic<int64_t> m_driveNs{0};
  bool m_diagnostic = false;
  SpeedCode m_speed = kSpeed2_4X;
  int32_t m_lastLba = 0;
  int m_expectedSamples = 0;
};

enum ChartKind { kNoChart = 0, kModelChart = 1 };
enum LogKind { kDevNullLog = 0, kFileLog = 1 };

// One whole run per iteration; the iteration time is the Run() alone.
// Args: chart kind, log kind, sample latency in ms.
void BM_FullDensityDlRun(benchmark::State& state) {
  const bool drawing = state.range(0) == kModelChart;
  const bool fileLog = state.range(1) == kFileLog;
  const int latencyMs = static_cast<int>(state.range(2));

  std::string error;
  SimulatedSession session(latencyMs, &error);
  if (!error.empty()) {
    state.SkipWithError(error.c_str());
    return;
  }
  TempDir dir;
  if (fileLog && dir.Path().empty()) {
    state.SkipWithError("no temp folder");
    return;
  }
  const std::string logPath = fileLog ? dir.Path() + "/" + kLogFileName : "/dev/null";

  // Built once: the model's font lookup is start-up cost, not a run's.
  CRunChart modelChart(true);
  modelChart.SetRange(session.LastLba());
  NullChart nullChart;
  ScanChart& chart = drawing ? static_cast<ScanChart&>(modelChart) : nullChart;

  ScanSettings settings;
  settings.speedCode = session.Speed();
  settings.densityStep = kFullDensityStep;
  settings.densityMode = kDensityFull;

  double runSeconds = 0;
  double driveSeconds = 0;
  int64_t samples = 0;
  int samplesPerRun = 0;
  for (auto _ : state) {
    NullSink sink;
    CScanRun run(settings, chart, sink, OutputStreamOpener(logPath));
    const int64_t driveBefore = session.DriveNs();
    const auto start = Clock::now();
    run.Run();
    const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    state.SetIterationTime(elapsed);
    runSeconds += elapsed;
    driveSeconds += (session.DriveNs() - driveBefore) * 1e-9;
    samplesPerRun = run.GetCounts().samples;
    samples += samplesPerRun;
    if (sink.failed || samplesPerRun != session.ExpectedSamples()) {
      state.SkipWithError("the run did not take every sample");
      return;
    }
  }
  if (samples == 0) return;

  const double nominalSeconds = static_cast<double>(samples) * latencyMs * 1e-3;
  state.SetItemsProcessed(samples);
  state.counters["samples"] = samplesPerRun;
  state.counters["us_per_sample"] = runSeconds * 1e6 / static_cast<double>(samples);
  // The program's share: the run less the time inside the drive.
  state.counters["host_us_per_sample"] =
      (runSeconds - driveSeconds) * 1e6 / static_cast<double>(samples);
  state.counters["drive_us_per_sample"] = driveSeconds * 1e6 / static_cast<double>(samples);
  if (latencyMs > 0) {
    state.counters["overhead_ratio"] = runSeconds / driveSeconds;
    // Against samples x latency: also counts the simulator's sleep overshoot.
    state.counters["overhead_vs_nominal"] = runSeconds / nominalSeconds;
  }
}

// Zero latency: the program's own cost per sample, then with the log and the
// chart model taken away one at a time.
BENCHMARK(BM_FullDensityDlRun)
    ->ArgNames({"chart", "log", "latency_ms"})
    ->Args({kModelChart, kFileLog, 0})
    ->Args({kNoChart, kFileLog, 0})
    ->Args({kModelChart, kDevNullLog, 0})
    ->Args({kNoChart, kDevNullLog, 0})
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->MinTime(1.0);

// A drive-like latency: ~1.3 s a run, five runs.
BENCHMARK(BM_FullDensityDlRun)
    ->ArgNames({"chart", "log", "latency_ms"})
    ->Args({kModelChart, kFileLog, 5})
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(5);

}  // namespace

BENCHMARK_MAIN();
