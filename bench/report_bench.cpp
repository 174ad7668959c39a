// A report of a 254-sample DL run (the full-density scan of a DL disc) in
// each format, from the record to the finished bytes. The target is under
// 100 ms a report on the project's reference machine.
#include <benchmark/benchmark.h>
#include <cairo.h>

#include "reports/report_content.h"
#include "reports/report_html.h"
#include "reports/report_page.h"
#include "tests/reports/report_fixtures.h"

namespace {

const std::vector<ScanRecord>& Run() {
  static const std::vector<ScanRecord> runs = {report_fixtures::DualLayer()};
  return runs;
}

void BM_ReportPng(benchmark::State& state) {
  std::string bytes, error;
  for (auto _ : state) {
    if (!RenderReportPng(BuildReportContent(Run()), PaperSize::kA4, &bytes, &error)) {
      state.SkipWithError(error.c_str());
    }
    benchmark::DoNotOptimize(bytes.data());
  }
  state.counters["bytes"] = static_cast<double>(bytes.size());
}
BENCHMARK(BM_ReportPng)->Unit(benchmark::kMillisecond);

// The PNG's drawing alone, without the PNG encoding.
void BM_ReportPageDraw(benchmark::State& state) {
  const PaperPoints paper = PaperSizePoints(PaperSize::kA4);
  cairo_surface_t* surface = cairo_image_surface_create(
      CAIRO_FORMAT_RGB24, static_cast<int>(paper.width * kReportPngScale),
      static_cast<int>(paper.height * kReportPngScale));
  for (auto _ : state) {
    cairo_t* cr = cairo_create(surface);
    cairo_scale(cr, kReportPngScale, kReportPngScale);
    DrawReportPage(cr, BuildReportContent(Run()), paper);
    cairo_destroy(cr);
    cairo_surface_flush(surface);
  }
  cairo_surface_destroy(surface);
}
BENCHMARK(BM_ReportPageDraw)->Unit(benchmark::kMillisecond);

void BM_ReportPdf(benchmark::State& state) {
  std::string bytes, error;
  for (auto _ : state) {
    if (!RenderReportPdf(BuildReportContent(Run()), PaperSize::kA4, &bytes, &error)) {
      state.SkipWithError(error.c_str());
    }
    benchmark::DoNotOptimize(bytes.data());
  }
  state.counters["bytes"] = static_cast<double>(bytes.size());
}
BENCHMARK(BM_ReportPdf)->Unit(benchmark::kMillisecond);

void BM_ReportHtml(benchmark::State& state) {
  std::string bytes, error;
  for (auto _ : state) {
    if (!RenderReportHtml(BuildReportContent(Run()), &bytes, &error)) {
      state.SkipWithError(error.c_str());
    }
    benchmark::DoNotOptimize(bytes.data());
  }
  state.counters["bytes"] = static_cast<double>(bytes.size());
}
BENCHMARK(BM_ReportHtml)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
