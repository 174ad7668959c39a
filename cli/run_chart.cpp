#include "cli/run_chart.h"

#include <cstring>

#include "snapshot/bmp_file.h"
#include "snapshot/surface_bitmap.h"

namespace {

constexpr COLORREF kTeColour = 12262627;  // RGB(227, 28, 187)
constexpr COLORREF kFeColour = 14544146;  // RGB(18, 237, 221)

}  // namespace

CRunChart::CRunChart(bool drawing) {
  if (!drawing) return;
  m_model = std::make_unique<CGraphModel>();
  m_model->Create(kCliChartWidth, kCliChartHeight);
  // The window's series, in its order: two limit lines, then the curves.
  for (COLORREF colour : {kTeColour, kFeColour, kTeColour, kFeColour}) m_model->AddSeries(colour);
}

void CRunChart::SetRange(int32_t lastLba) {
  if (m_model) m_model->SetRange(0.0, 600.0, 0, lastLba, 0);
}

void CRunChart::ClearData() {
  if (m_model) m_model->ClearData();
}

void CRunChart::DrawLimitLine(int series, double y, bool show) {
  if (m_model) m_model->DrawLimitLine(series, static_cast<int>(y), show ? 1 : 0);
}

void CRunChart::AppendPoint(int series, double y, double x) {
  if (m_model) m_model->AppendPoint(series, y, x);
}

void CRunChart::Refresh() {
  if (m_model) m_model->Refresh();
}

bool CRunChart::WriteInto(COutputFile& file, std::string* error) const {
  if (!m_model) return true;
  const CSurface picture = m_model->Compose();
  const SnapshotResult result = WriteBitmapAsBmp(
      file.Descriptor(),
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
