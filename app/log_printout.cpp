#include "app/log_printout.h"

#include <wx/dc.h>
#include <wx/font.h>

#include "snapshot/print_log.h"

namespace {

class DcTarget : public LogPrintTarget {
 public:
  DcTarget(wxDC& dc, std::function<void(const std::string&)>& showMessage)
      : m_dc(dc), m_showMessage(showMessage) {}
  int PageHeight() const override { return m_dc.GetSize().y; }
  void DrawTextLine(int x, int y, const std::string& text) override {
    m_dc.DrawText(wxString::From8BitData(text.c_str()), x, y);
  }
  void ShowMessage(const std::string& text) override {
    if (m_showMessage) m_showMessage(text);
  }

 private:
  wxDC& m_dc;
  std::function<void(const std::string&)>& m_showMessage;
};

}  // namespace

// The document has no name: the string it was to be read from never existed.
CLogPrintout::CLogPrintout(std::string logPath, std::function<void(const std::string&)> showMessage)
    : wxPrintout(""), m_logPath(std::move(logPath)), m_showMessage(std::move(showMessage)) {}

void CLogPrintout::GetPageInfo(int* minPage, int* maxPage, int* pageFrom, int* pageTo) {
  *minPage = *maxPage = *pageFrom = *pageTo = 1;
}

bool CLogPrintout::OnPrintPage(int) {
  wxDC* dc = GetDC();
  if (dc == nullptr) return false;
  // Device units: no scaling, the origin at the printable area's corner.
  dc->SetUserScale(1.0, 1.0);
  dc->SetDeviceOrigin(0, 0);
  // What a printer's own default font is: fixed pitch, 12 points, so the
  // columns of the log line up on paper as they do in the file.
  // The DC sizes fonts as a 96-dpi screen would, in its logical units; at
  // a scale of 1 those are printer dots, so 12 points on paper take
  // 12 x ppi / 96 "points" here.
  int ppiX = 0;
  int ppiY = 0;
  GetPPIPrinter(&ppiX, &ppiY);
  if (ppiY <= 0) ppiY = 96;
  const double points = static_cast<double>(kLogPrintPoints) * ppiY / 96.0;
  dc->SetFont(wxFontInfo(points).Family(wxFONTFAMILY_TELETYPE));
  DcTarget target(*dc, m_showMessage);
  PrintLog(target, m_logPath);  // a log that cannot be opened still gives its empty page
  ++m_pagesPrinted;
  return true;
}
