// File, Print Report...: the report pages of the window's run, drawn by the
// same cairo code as the PDF onto the printer's cairo context (the GTK print
// dialog, which can also print to a file).
//
// UI thread only.
#pragma once

#include <wx/print.h>

#include <vector>

#include "reports/paper_size.h"
#include "reports/report_content.h"
#include "reports/report_page.h"

class CReportPrintout : public wxPrintout {
 public:
  explicit CReportPrintout(std::vector<ScanRecord> records);

  // The pages are the PDF's: as many as the report needs on this paper.
  void OnPreparePrinting() override;
  void GetPageInfo(int* minPage, int* maxPage, int* pageFrom, int* pageTo) override;
  bool HasPage(int page) override;
  bool OnPrintPage(int page) override;
  int Pages();

  int PagesPrinted() const { return m_pagesPrinted; }
  // The chart's plot area in device pixels of the last page printed.
  const ReportRect& PlotArea() const { return m_plotArea; }

 private:
  std::vector<ScanRecord> m_records;  // the content points into these
  ReportContent m_content;
  PaperPoints Paper(double* scale, wxRect* paperRect);

  int m_pages = 0;  // laid out once, when first asked
  int m_pagesPrinted = 0;
  ReportRect m_plotArea;
};
