#include "cli/run_chart.h"

#include <cstring>

#include "chart/scan_series.h"

#include "snapshot/bmp_file.h"
#include "snapshot/surface_bitmap.h"

CRunChart::CRunChart(bool drawing) {
  if (!drawing) return;
  m_model = std::make_unique<CGraphModel>();
  m_model->Create(kCliChartWidth, kCliChartHeight);
  AddScanSeries(*m_model);
}

void CRunChart::SetRange(int32_t lastLba, bool fitted) {
  if (m_model)
    SetScanRange(*m_model, lastLba, fitted ? ScanChartRange::kReadings : ScanChartRange::kFixed);
}

void CRunChart::ClearData() {
  if (m_model) m_model->ClearData();
}

void CRunChart::DrawLimitLine(ScanSeries series, double y, bool show) {
  if (m_model) m_model->DrawLimitLine(SeriesIndex(series), static_cast<int>(y), show ? 1 : 0);
}

void CRunChart::AppendPoint(ScanSeries series, double y, double x) {
  if (m_model) m_model->AppendPoint(SeriesIndex(series), y, x);
}

void CRunChart::Refresh() {
  if (m_model) m_model->Refresh();
}

bool CRunChart::WriteInto(COutputFile& file, std::string* error) const {
  if (!m_model) return true;
  const CSurface picture = m_model->Compose();
  const SnapshotResult result =
      WriteBitmapAsBmp(file.Descriptor(),
                       DescribePixels32(picture.Width(), picture.Height(), picture.Pixels().data(),
                                        static_cast<size_t>(picture.Width()), PixelOrder::kColorref,
                                        TrueColorDepth::k24));
  if (result.Succeeded()) return true;
  *error = file.Path() + " (" + SnapshotStepName(result.failedStep) + ": " +
           (result.error != 0 ? std::strerror(result.error) : "refused") + ")";
  return false;
}

bool CRunChart::Save(const std::string& path, std::string* error) const {
  if (!m_model) return true;
  const CSurface picture = m_model->Compose();
  const SnapshotResult result =
      SaveBitmapAsBmp(DescribePixels32(picture.Width(), picture.Height(), picture.Pixels().data(),
                                       static_cast<size_t>(picture.Width()), PixelOrder::kColorref,
                                       TrueColorDepth::k24),
                      path);
  if (result.Succeeded()) return true;
  *error = path + " (" + SnapshotStepName(result.failedStep) + ": " +
           (result.error != 0 ? std::strerror(result.error) : "refused") + ")";
  return false;
}
