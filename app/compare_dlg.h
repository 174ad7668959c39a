// The comparison window: two to eight kept runs side by side, the overlaid
// chart beside the table velmo-cli compare prints (the same rows from the
// same builder, and for two runs the differences), small enough for a
// 768-pixel screen. Close, Escape, Ctrl+W and the close box close it.
#pragma once

#include <wx/bitmap.h>
#include <wx/dialog.h>

#include <string>
#include <utility>
#include <vector>

#include "records/scan_record.h"

class wxListCtrl;

// The chart's size in the window: beside the table, not above it.
inline constexpr int kCompareWindowChartWidth = 520;
inline constexpr int kCompareWindowChartHeight = 440;

class CCompareDlg : public wxDialog {
 public:
  // runs: each run's name ("#12") and record, in the order given; title
  // says which history they come from.
  CCompareDlg(wxWindow* parent, const std::vector<std::pair<std::string, ScanRecord>>& runs,
              const std::string& title = "Compare runs");
  wxListCtrl* Table() const { return m_table; }
  // The row labels beside a table too wide for the screen, which stay in
  // view while its runs scroll sideways (the table's own label column is
  // then empty); null when the whole table fits.
  wxListCtrl* RowLabels() const { return m_labels; }
  const wxBitmap& Chart() const { return m_chart; }

 private:
  // room: the width the table may take, labels included.
  void FillTable(const std::vector<std::pair<std::string, ScanRecord>>& runs, int room);

  wxListCtrl* m_labels = nullptr;
  wxListCtrl* m_table = nullptr;
  wxBitmap m_chart;
};
