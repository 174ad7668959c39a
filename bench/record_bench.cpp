// What the records cost: statistics over a real-sized DL run and over a
// million samples (time per sample), and listing a history of 10,000 runs.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>

#include "cli/cli_options.h"
#include "cli/record_commands.h"
#include "history/history.h"
#include "records/scan_record.h"

namespace {

// A Normal-density DVD+R DL run has 254 samples; the readings wander as a
// real disc's do.
std::vector<RecordSample> SyntheticRun(size_t count) {
  std::mt19937 random(7);
  std::uniform_int_distribution<int> noise(-40, 40);
  std::vector<RecordSample> samples;
  samples.reserve(count);
  const int32_t step = static_cast<int32_t>(4173824 / count) + 1;
  for (size_t i = 0; i < count; ++i) {
    const int32_t lba = static_cast<int32_t>(i) * step;
    const auto te = static_cast<uint16_t>(300 + noise(random) + (i * 200 / count));
    const auto fe = static_cast<uint16_t>(250 + noise(random));
    samples.push_back({lba, lba + 0x30000, lba >= 2086912 ? 1 : 0, te, fe, te <= 500 && fe <= 450});
  }
  return samples;
}

void Statistics(benchmark::State& state) {
  const std::vector<RecordSample> samples = SyntheticRun(static_cast<size_t>(state.range(0)));
  for (auto _ : state) {
    RecordStatistics stats = ComputeStatistics(samples, 500, 450);
    benchmark::DoNotOptimize(stats);
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
  state.counters["us_per_sample"] = benchmark::Counter(
      static_cast<double>(state.range(0)) * 1e-6,
      benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(Statistics)->Arg(254)->Arg(1000000)->Unit(benchmark::kMicrosecond);

// Writing and reading back the record of the 254-sample run.
void RecordRoundTrip(benchmark::State& state) {
  ScanRecord record;
  record.startTime = "2026-12-08T02:10:00+00:00";
  record.disc.type = "DVD+R DL";
  record.samples = SyntheticRun(254);
  for (auto _ : state) {
    ScanRecord back;
    std::string error;
    benchmark::DoNotOptimize(ReadRecordJson(WriteRecordJson(record), &back, &error));
  }
}
BENCHMARK(RecordRoundTrip)->Unit(benchmark::kMicrosecond);

// A history of 10,000 runs (each with its 58-sample record), made once.
class HistoryFixture : public benchmark::Fixture {
 public:
  void SetUp(const benchmark::State&) override {
    if (!m_folder.empty()) return;
    m_folder = std::filesystem::temp_directory_path() /
               ("velmo-history-bench-" + std::to_string(getpid()));
    std::filesystem::create_directories(m_folder);
    setenv("XDG_DATA_HOME", m_folder.c_str(), 1);
    CHistory history;
    std::string error, notice;
    if (!history.Open(DefaultHistoryPath(), &error, &notice)) std::abort();
    ScanRecord record;
    record.disc.type = "DVD+R";
    record.disc.manufacturerId = "YUDEN000";
    record.settings.speed = "16X";
    record.samples = SyntheticRun(58);
    const char* mids[] = {"YUDEN000", "MCC 03", "ORBTEK", "NOVADISC"};
    for (int i = 0; i < 10000; ++i) {
      char time[40];
      std::snprintf(time, sizeof time, "2026-%02d-%02dT%02d:%02d:00+00:00", 1 + i % 12, 1 + i % 28,
                    i % 24, i % 60);
      record.startTime = time;
      record.disc.manufacturerId = mids[i % 4];
      record.outcome = static_cast<RunOutcome>(i % kRunOutcomeCount);
      if (history.Add(record, &error) == 0) std::abort();
    }
  }
  static std::filesystem::path m_folder;
};
std::filesystem::path HistoryFixture::m_folder;

BENCHMARK_DEFINE_F(HistoryFixture, ListAll)(benchmark::State& state) {
  for (auto _ : state) {
    CHistory history;
    std::string error, notice;
    std::vector<HistoryEntry> entries;
    history.Open(DefaultHistoryPath(), &error, &notice);
    history.List({}, &entries, &error);
    if (entries.size() != 10000) state.SkipWithError("not 10000 runs");
  }
}
BENCHMARK_REGISTER_F(HistoryFixture, ListAll)->Unit(benchmark::kMillisecond);

// The whole `velmo-cli history` command, its output to /dev/null.
BENCHMARK_DEFINE_F(HistoryFixture, HistoryCommand)(benchmark::State& state) {
  CliOptions options;
  options.command = "history";
  std::FILE* null = std::fopen("/dev/null", "w");
  for (auto _ : state) {
    if (RunHistoryCommand(options, null, null) != 0) state.SkipWithError("history failed");
  }
  std::fclose(null);
}
BENCHMARK_REGISTER_F(HistoryFixture, HistoryCommand)->Unit(benchmark::kMillisecond);

BENCHMARK_DEFINE_F(HistoryFixture, FilterByMid)(benchmark::State& state) {
  for (auto _ : state) {
    CHistory history;
    std::string error, notice;
    std::vector<HistoryEntry> entries;
    history.Open(DefaultHistoryPath(), &error, &notice);
    HistoryFilter filter;
    filter.mid = "mcc";
    history.List(filter, &entries, &error);
    if (entries.size() != 2500) state.SkipWithError("not 2500 runs");
  }
}
BENCHMARK_REGISTER_F(HistoryFixture, FilterByMid)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  if (!HistoryFixture::m_folder.empty()) std::filesystem::remove_all(HistoryFixture::m_folder);
  return 0;
}
