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

PaperPoints CReportPrintout::Paper(double* scale, wxRect* paperRect) {
  // The page laid out in points for the paper the printer reports (A4 or
  // Letter from the locale when it does not), scaled to fit its printable
  // area whole, with the paper's corner where the paper is.
  int widthPx = 0, heightPx = 0, widthMm = 0, heightMm = 0;
  GetPageSizePixels(&widthPx, &heightPx);
  GetPageSizeMM(&widthMm, &heightMm);
  PaperPoints paper = PaperSizePoints(PaperSizeFromEnvironment());
  if (widthMm > 0 && heightMm > 0) paper = {widthMm * 72.0 / 25.4, heightMm * 72.0 / 25.4};
  if (paper.width > paper.height) std::swap(paper.width, paper.height);
  *paperRect = GetPaperRectPixels();
  *scale = std::min(widthPx / paper.width, heightPx / paper.height);
  if (!(*scale > 0)) *scale = 1;
  return paper;
}

int CReportPrintout::Pages() {
  if (m_pages > 0) return m_pages;
  if (m_records.empty()) return 1;
  // Laid out as the pages are drawn: on the printer's context, scaled.
  double scale = 1;
  wxRect paperRect;
  const PaperPoints paper = Paper(&scale, &paperRect);
  cairo_t* cr = GetDC() != nullptr ? CairoOf(*GetDC()) : nullptr;
  if (cr != nullptr) {
    cairo_save(cr);
    cairo_scale(cr, scale, scale);
  }
  m_pages = ReportPageCount(cr, m_content, paper);
  if (cr != nullptr) cairo_restore(cr);
  return m_pages;
}

void CReportPrintout::OnPreparePrinting() { Pages(); }

void CReportPrintout::GetPageInfo(int* minPage, int* maxPage, int* pageFrom, int* pageTo) {
  *minPage = *pageFrom = 1;
  *maxPage = *pageTo = Pages();
}

bool CReportPrintout::HasPage(int page) { return page >= 1 && page <= Pages(); }

bool CReportPrintout::OnPrintPage(int page) {
  wxDC* dc = GetDC();
  if (dc == nullptr || m_records.empty() || !HasPage(page)) return false;
  cairo_t* cr = CairoOf(*dc);
  if (cr == nullptr) return false;
  double scale = 1;
  wxRect paperRect;
  const PaperPoints paper = Paper(&scale, &paperRect);
  cairo_save(cr);
  cairo_translate(cr, paperRect.x, paperRect.y);
  cairo_scale(cr, scale, scale);
  ReportRect plot;
  DrawReportPage(cr, m_content, paper, &plot, page - 1);
  cairo_restore(cr);
  if (plot.width > 0) {
    m_plotArea = {paperRect.x + plot.x * scale, paperRect.y + plot.y * scale, plot.width * scale,
                  plot.height * scale};
  }
  ++m_pagesPrinted;
  return true;
}
