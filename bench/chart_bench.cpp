// Chart costs on the main dialog's chart (452 x 228): what one scan sample
// costs the worker, what a rebuild costs (every SetRange / ClearData), and
// what a paint's composition costs the UI thread.
#include <benchmark/benchmark.h>

#include <cmath>

#include "chart/graph_model.h"
#include "chart/scan_series.h"

namespace {

constexpr int kWidth = 452;
constexpr int kHeight = 228;
constexpr int kEndLba = 2086912;

void SetUpChart(CGraphModel& chart) {
  chart.SetRepaintRequest([] {});
  chart.Create(kWidth, kHeight);
  AddScanSeries(chart);
  SetScanRange(chart, kEndLba);
}

// Two AppendPoint and one Refresh, with readings that wander across and out
// of the range so the spill repair runs now and then.
void BM_SamplePerScanStep(benchmark::State& state) {
  CGraphModel chart;
  SetUpChart(chart);
  const int step = static_cast<int>(state.range(0));
  long long lba = 0;
  int i = 0;
  for (auto _ : state) {
    const double te = 300 + 350 * std::sin(i * 0.01);
    const double fe = 250 + 150 * std::cos(i * 0.013);
    chart.AppendPoint(2, te, static_cast<double>(lba));
    chart.AppendPoint(3, fe, static_cast<double>(lba));
    chart.Refresh();
    lba += step;
    if (lba > kEndLba) lba = 0;
    ++i;
  }
  state.SetItemsProcessed(state.iterations());
}
// Sector steps: fine near the rim, coarse near the centre, and a jump that
// spans the whole plot.
BENCHMARK(BM_SamplePerScanStep)->Arg(160)->Arg(8192)->Arg(kEndLba / 2);

void BM_RebuildLayers(benchmark::State& state) {
  CGraphModel chart;
  SetUpChart(chart);
  for (auto _ : state) chart.RebuildLayers();
}
BENCHMARK(BM_RebuildLayers);

void BM_ComposeForPaint(benchmark::State& state) {
  CGraphModel chart;
  SetUpChart(chart);
  CSurface out;
  for (auto _ : state) {
    chart.Compose(out);
    benchmark::DoNotOptimize(out.Pixels().data());
  }
}
BENCHMARK(BM_ComposeForPaint);

}  // namespace

BENCHMARK_MAIN();
