#include "app/report_printout.h"

#include <cairo.h>
#include <wx/dc.h>
#include <wx/graphics.h>

#include <algorithm>

namespace {

// The DC's cairo context: the printer's own on GTK, or that of a graphics
// context (a wxGCDC over a bitmap, as the tests use).
cairo_t* CairoOf(wxDC& dc) {
  if (void* native = dc.GetImpl()->GetCairoContext()) return static_cast<cairo_t*>(native);
  if (wxGraphicsContext* gc = dc.GetGraphicsContext()) {
    return static_cast<cairo_t*>(gc->GetNativeContext());
  }
  return nullptr;
}

}  // namespace

CReportPrintout::CReportPrintout(std::vector<ScanRecord> records)
    : wxPrintout("Velmo report"), m_records(std::move(records)) {
  m_content = BuildReportContent(m_records);
}

void CReportPrintout::GetPageInfo(int* minPage, int* maxPage, int* pageFrom, int* pageTo) {
  *minPage = *maxPage = *pageFrom = *pageTo = 1;
}

bool CReportPrintout::OnPrintPage(int) {
  wxDC* dc = GetDC();
  if (dc == nullptr || m_records.empty()) return false;
  cairo_t* cr = CairoOf(*dc);
  if (cr == nullptr) return false;
  // The page laid out in points for the paper the printer reports (A4 or
  // Letter from the locale when it does not), scaled to fit its printable
  // area whole, with the paper's corner where the paper is.
  int widthPx = 0, heightPx = 0, widthMm = 0, heightMm = 0;
  GetPageSizePixels(&widthPx, &heightPx);
  GetPageSizeMM(&widthMm, &heightMm);
  PaperPoints paper = PaperSizePoints(PaperSizeFromEnvironment());
  if (widthMm > 0 && heightMm > 0) paper = {widthMm * 72.0 / 25.4, heightMm * 72.0 / 25.4};
  if (paper.width > paper.height) std::swap(paper.width, paper.height);
  const wxRect paperRect = GetPaperRectPixels();
  const double scale = std::min(widthPx / paper.width, heightPx / paper.height);
  cairo_save(cr);
  cairo_translate(cr, paperRect.x, paperRect.y);
  cairo_scale(cr, scale, scale);
  ReportRect plot;
  DrawReportPage(cr, m_content, paper, &plot);
  cairo_restore(cr);
  m_plotArea = {paperRect.x + plot.x * scale, paperRect.y + plot.y * scale, plot.width * scale,
                plot.height * scale};
  ++m_pagesPrinted;
  return true;
}
