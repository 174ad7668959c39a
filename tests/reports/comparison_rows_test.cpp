#include "reports/comparison_rows.h"

#include <gtest/gtest.h>

#include "tests/reports/report_fixtures.h"

namespace {

using namespace report_fixtures;

std::vector<std::string> Labels(const std::vector<ComparisonRow>& rows) {
  std::vector<std::string> labels;
  for (const ComparisonRow& row : rows) labels.push_back(row.label);
  return labels;
}

const ComparisonRow& RowOf(const std::vector<ComparisonRow>& rows, const std::string& label) {
  for (const ComparisonRow& row : rows) {
    if (row.label == label) return row;
  }
  static const ComparisonRow none;
  ADD_FAILURE() << "no row " << label;
  return none;
}

TEST(ComparisonRows, TwoScansSideBySide) {
  const ScanRecord good = Good();
  const ScanRecord marginal = Marginal();
  const std::vector<ComparisonRow> rows = ComparisonRowsOf({&good, &marginal});
  EXPECT_EQ(Labels(rows),
            (std::vector<std::string>{
                "Started", "Drive", "Disc Type", "Manufacture ID", "Manufacturer", "Media Type ID",
                "Speed", "Density", "Samples", "TE max / mean / p95", "TE over / margin",
                "FE max / mean / p95", "FE over / margin", "Worst LBA", "Outcome"}));
  for (const ComparisonRow& row : rows) EXPECT_EQ(row.values.size(), 2u) << row.label;

  const RecordStatistics a = StatisticsOf(good);
  const RecordStatistics b = StatisticsOf(marginal);
  char meanA[16], meanB[16];
  std::snprintf(meanA, sizeof meanA, "%.1f", a.whole.te.mean);
  std::snprintf(meanB, sizeof meanB, "%.1f", b.whole.te.mean);
  EXPECT_EQ(RowOf(rows, "TE max / mean / p95").values,
            (std::vector<std::string>{std::to_string(a.whole.te.max) + " / " + meanA + " / " +
                                          std::to_string(a.whole.te.p95),
                                      std::to_string(b.whole.te.max) + " / " + meanB + " / " +
                                          std::to_string(b.whole.te.p95)}));
  EXPECT_EQ(RowOf(rows, "TE over / margin").values[1],
            std::to_string(b.whole.te.overLimit) + " / " + std::to_string(b.whole.te.margin));
  EXPECT_LT(b.whole.te.margin, 0);  // the marginal disc goes over, and it shows
  EXPECT_EQ(RowOf(rows, "Manufacturer").values,
            (std::vector<std::string>{"Example Media Co.", "unknown"}));
  EXPECT_EQ(RowOf(rows, "Manufacture ID").values,
            (std::vector<std::string>{"RICOHJPNR03", "CMC MAG-M01"}));
  EXPECT_EQ(RowOf(rows, "Outcome").values, (std::vector<std::string>{"ok", "not recommended"}));
  // The worst sample's GB to two decimals, as velmo-cli show gives it.
  char worst[64];
  std::snprintf(worst, sizeof worst, "%d (%.2f GB)", b.whole.worst->lba, b.whole.worst->gb);
  EXPECT_EQ(RowOf(rows, "Worst LBA").values[1], worst);

  const RunDifferences d = DifferencesOf(good, marginal);
  EXPECT_EQ(d.te.max, b.whole.te.max - a.whole.te.max);
  EXPECT_DOUBLE_EQ(d.fe.mean, b.whole.fe.mean - a.whole.fe.mean);
  EXPECT_EQ(d.te.overLimit, b.whole.te.overLimit - a.whole.te.overLimit);
  EXPECT_GT(d.te.overLimit, 0);
}

// The words of a difference: a sign on every figure (a change of none is
// "+0"), the mean to one decimal.
TEST(ComparisonRows, DifferenceTextSignsEveryFigure) {
  EXPECT_EQ(DifferenceText({20, 5.04, 85}), "max +20, mean +5.0, over limit +85");
  EXPECT_EQ(DifferenceText({-12, -3.46, -7}), "max -12, mean -3.5, over limit -7");
  EXPECT_EQ(DifferenceText({}), "max +0, mean +0.0, over limit +0");
}

TEST(ComparisonRows, AScanADualLayerDiscAndASmartScan) {
  const ScanRecord good = Good();
  const ScanRecord dual = DualLayer();
  const ScanRecord smart = Smart();
  const std::vector<ComparisonRow> rows = ComparisonRowsOf({&good, &dual, &smart});
  for (const ComparisonRow& row : rows) EXPECT_EQ(row.values.size(), 3u) << row.label;
  EXPECT_EQ(RowOf(rows, "Speed").values, (std::vector<std::string>{"16X", "8X", "smart"}));
  EXPECT_EQ(RowOf(rows, "Disc Type").values,
            (std::vector<std::string>{"DVD+R", "DVD+R DL", "DVD+R"}));
  EXPECT_EQ(RowOf(rows, "Samples").values, (std::vector<std::string>{"58", "254", "0"}));
  // A Smart Scan has no whole-disc curve: no worst sample, nothing over.
  EXPECT_EQ(RowOf(rows, "Worst LBA").values[2], "-");
  EXPECT_EQ(RowOf(rows, "TE max / mean / p95").values[2], "0 / 0.0 / 0");
  EXPECT_NE(RowOf(rows, "Worst LBA").values[1], "-");
}

}  // namespace
