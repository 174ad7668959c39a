#include "app/compare_dlg.h"

#include <wx/button.h>
#include <wx/image.h>
#include <wx/listctrl.h>
#include <wx/mstream.h>
#include <wx/settings.h>
#include <wx/sizer.h>
#include <wx/statbmp.h>

#include <algorithm>

#include "app/side_window.h"
#include "reports/compare_chart.h"
#include "reports/comparison_rows.h"

namespace {

// A run's column is as wide as its longest text up to this (a maker's long
// name is cut, a difference never); the table as wide as its columns up to
// the other, and then it scrolls sideways.
constexpr int kValueColumnMax = 260;
constexpr int kTableWidthMax = 720;
// The dialog's margins and a window manager's borders beside the table.
constexpr int kCompareFrameAllowance = 3 * 12 + 8;
// Room the list leaves around a cell's text.
constexpr int kCompareCellPadding = 16;

}  // namespace

CCompareDlg::CCompareDlg(wxWindow* parent,
                         const std::vector<std::pair<std::string, ScanRecord>>& runs,
                         const std::string& title)
    : wxDialog(parent, wxID_ANY, wxString::FromUTF8(title), wxDefaultPosition, wxDefaultSize,
               wxDEFAULT_DIALOG_STYLE | wxRESIZE_BORDER) {
  auto* sizer = new wxBoxSizer(wxVERTICAL);
  auto* body = new wxBoxSizer(wxHORIZONTAL);
  std::vector<ChartRun> chartRuns;
  for (const auto& [name, record] : runs) chartRuns.push_back(ChartRun{name, &record});
  std::string png, error;
  if (DrawCompareChartPng(chartRuns, kCompareWindowChartWidth, kCompareWindowChartHeight, &png,
                          &error)) {
    if (wxImage::FindHandler(wxBITMAP_TYPE_PNG) == nullptr) wxImage::AddHandler(new wxPNGHandler);
    wxMemoryInputStream stream(png.data(), png.size());
    wxImage image(stream, wxBITMAP_TYPE_PNG);
    if (image.IsOk()) m_chart = wxBitmap(image);
  }
  if (m_chart.IsOk()) body->Add(new wxStaticBitmap(this, wxID_ANY, m_chart), 0, wxRIGHT, 12);

  m_labels = new wxListCtrl(this, wxID_ANY, wxDefaultPosition, wxDefaultSize,
                            wxLC_REPORT | wxLC_NO_SORT_HEADER);
  m_table = new wxListCtrl(this, wxID_ANY, wxDefaultPosition, wxDefaultSize, wxLC_REPORT);
  wxListCtrl* labels = m_labels;  // hidden, and no longer ours, when the table fits
  const int chart = m_chart.IsOk() ? m_chart.GetWidth() + 12 : 0;
  FillTable(runs, std::min(kTableWidthMax, ScreenAreaOf(parent != nullptr ? parent : this).width -
                                               chart - kCompareFrameAllowance));
  body->Add(labels, 0, wxEXPAND);
  body->Add(m_table, 1, wxEXPAND);
  sizer->Add(body, 1, wxEXPAND | wxALL, 12);
  sizer->Add(new wxButton(this, wxID_CLOSE, "&Close"), 0,
             wxALIGN_RIGHT | wxLEFT | wxRIGHT | wxBOTTOM, 12);
  SetSizerAndFit(sizer);

  CloseByKeys(*this);

  SizeWithinScreen(*this, parent, GetSize());
}

void CCompareDlg::FillTable(const std::vector<std::pair<std::string, ScanRecord>>& runs, int room) {
  std::vector<const ScanRecord*> records;
  for (const auto& run : runs) records.push_back(&run.second);
  std::vector<ComparisonRow> rows = ComparisonRowsOf(records);
  const size_t cuttable = rows.size();
  // As velmo-cli compare gives them under "Differences (#2 minus #1):".
  if (runs.size() == 2) {
    const RunDifferences d = DifferencesOf(runs[0].second, runs[1].second);
    const std::string minus = ", " + runs[1].first + " minus " + runs[0].first;
    rows.push_back({"TE" + minus, {"", DifferenceText(d.te)}});
    rows.push_back({"FE" + minus, {"", DifferenceText(d.fe)}});
  }

  std::vector<int> widths, whole;
  m_table->AppendColumn("");
  widths.push_back(0);
  for (const auto& run : runs) {
    const wxString name = wxString::FromUTF8(run.first);
    m_table->AppendColumn(name);
    widths.push_back(m_table->GetTextExtent(name).x);
  }
  whole.assign(widths.size(), 0);
  for (size_t r = 0; r < rows.size(); ++r) {
    const wxString label = wxString::FromUTF8(rows[r].label);
    const long item = m_table->InsertItem(m_table->GetItemCount(), label);
    widths[0] = std::max(widths[0], m_table->GetTextExtent(label).x);
    for (size_t i = 0; i < rows[r].values.size() && i + 1 < widths.size(); ++i) {
      const wxString value = wxString::FromUTF8(rows[r].values[i]);
      m_table->SetItem(item, static_cast<int>(i + 1), value);
      int& widest = r < cuttable ? widths[i + 1] : whole[i + 1];
      widest = std::max(widest, m_table->GetTextExtent(value).x);
    }
  }
  int total = 0;
  for (size_t c = 0; c < widths.size(); ++c) {
    int width = widths[c] + kCompareCellPadding;
    if (c > 0) width = std::max(std::min(width, kValueColumnMax), whole[c] + kCompareCellPadding);
    m_table->SetColumnWidth(static_cast<int>(c), width);
    total += width;
  }

  // Every row without scrolling: the last one's bottom, the frame around.
  const wxSize border = m_table->GetSize() - m_table->GetClientSize();
  int height = (static_cast<int>(rows.size()) + 1) * (m_table->GetCharHeight() + 8);
  wxRect last;
  if (!rows.empty() && m_table->GetItemRect(static_cast<long>(rows.size()) - 1, last))
    height = last.GetBottom() + 1;
  int width = total + border.x;
  if (width <= room) {
    m_labels->Hide();
    m_labels = nullptr;
    m_table->SetMinSize(wxSize(width, height + border.y));
    return;
  }
  // Too wide: the labels go into a list of their own that does not scroll,
  // and the runs scroll sideways beside it.
  const int labelWidth = widths[0] + kCompareCellPadding;
  m_labels->AppendColumn("", wxLIST_FORMAT_LEFT, labelWidth);
  for (const ComparisonRow& row : rows)
    m_labels->InsertItem(m_labels->GetItemCount(), wxString::FromUTF8(row.label));
  m_table->SetColumnWidth(0, 0);
  total -= labelWidth;
  width = std::max(std::min(total + border.x, room - labelWidth - border.x), 120);
  height += wxSystemSettings::GetMetric(wxSYS_HSCROLL_Y, m_table);
  m_labels->SetMinSize(wxSize(labelWidth + border.x, height + border.y));
  m_table->SetMinSize(wxSize(width, height + border.y));
}
