// Printing the scan log: one page, the lines of TEFE.txt from y = 400 down
// in steps of 150 device units, in a 12-point fixed-pitch font (what a
// printer's own default font is).
//
// UI thread only.
#pragma once

#include <wx/print.h>

#include <functional>
#include <string>

inline constexpr int kLogPrintPoints = 12;

class CLogPrintout : public wxPrintout {
 public:
  // showMessage: the message box for a log that cannot be opened.
  CLogPrintout(std::string logPath, std::function<void(const std::string&)> showMessage);

  void GetPageInfo(int* minPage, int* maxPage, int* pageFrom, int* pageTo) override;
  bool HasPage(int page) override { return page == 1; }
  bool OnPrintPage(int page) override;

  int PagesPrinted() const { return m_pagesPrinted; }

 private:
  std::string m_logPath;
  std::function<void(const std::string&)> m_showMessage;
  int m_pagesPrinted = 0;
};
