#include "app/history_dlg.h"

#include <wx/button.h>
#include <wx/image.h>
#include <wx/listctrl.h>
#include <wx/mstream.h>
#include <wx/sizer.h>
#include <wx/statbmp.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

#include "results/compare_chart.h"
#include "results/comparison_rows.h"

namespace {

std::string OrDash(const std::optional<int>& value) { return value ? std::to_string(*value) : "-"; }

}  // namespace

CHistoryDlg::CHistoryDlg(wxWindow* parent,
                         std::function<void(const ScanRecord&, const std::string&)> open,
                         std::function<void(const std::vector<ScanRecord>&)> exportRuns,
                         std::function<void(const std::string&)> say)
    : wxDialog(parent, wxID_ANY, "History", wxDefaultPosition, wxSize(1000, 460),
               wxDEFAULT_DIALOG_STYLE | wxRESIZE_BORDER),
      m_open(std::move(open)),
      m_export(std::move(exportRuns)),
      m_say(std::move(say)) {
  auto* sizer = new wxBoxSizer(wxVERTICAL);
  auto* filter = new wxBoxSizer(wxHORIZONTAL);
  filter->Add(new wxStaticText(this, wxID_ANY, "Manufacturer ID contains:"), 0,
              wxALIGN_CENTER_VERTICAL | wxRIGHT, 6);
  m_mid =
      new wxTextCtrl(this, wxID_ANY, "", wxDefaultPosition, wxSize(160, -1), wxTE_PROCESS_ENTER);
  filter->Add(m_mid, 0, wxRIGHT, 6);
  auto* apply = new wxButton(this, wxID_ANY, "&Filter");
  filter->Add(apply);
  sizer->Add(filter, 0, wxALL, 8);

  m_list = new wxListCtrl(this, wxID_ANY, wxDefaultPosition, wxDefaultSize, wxLC_REPORT);
  const char* columns[] = {"ID",    "Time",    "Drive",   "Disc", "MID", "Manufacturer",
                           "Speed", "Density", "Outcome", "TE",   "FE"};
  const int widths[] = {44, 170, 190, 70, 80, 170, 50, 60, 110, 44, 44};
  for (int i = 0; i < 11; ++i) m_list->AppendColumn(columns[i], wxLIST_FORMAT_LEFT, widths[i]);
  sizer->Add(m_list, 1, wxEXPAND | wxLEFT | wxRIGHT, 8);

  auto* buttons = new wxBoxSizer(wxHORIZONTAL);
  auto* openButton = new wxButton(this, wxID_OPEN, "&Open");
  auto* compare = new wxButton(this, wxID_ANY, "&Compare");
  auto* exportButton = new wxButton(this, wxID_ANY, "&Export Report...");
  buttons->Add(openButton, 0, wxRIGHT, 6);
  buttons->Add(compare, 0, wxRIGHT, 6);
  buttons->Add(exportButton, 0, wxRIGHT, 6);
  buttons->Add(new wxButton(this, wxID_CLOSE, "Close"));
  sizer->Add(buttons, 0, wxALL | wxALIGN_RIGHT, 8);
  SetSizer(sizer);

  auto reload = [this](wxCommandEvent&) {
    std::string error;
    if (!Reload(&error)) m_say(error);
  };
  apply->Bind(wxEVT_BUTTON, reload);
  m_mid->Bind(wxEVT_TEXT_ENTER, reload);
  openButton->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { OpenSelected(); });
  compare->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { CompareSelected(); });
  exportButton->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { ExportSelected(); });
  m_list->Bind(wxEVT_LIST_ITEM_ACTIVATED, [this](wxListEvent&) { OpenSelected(); });
  Bind(
      wxEVT_BUTTON, [this](wxCommandEvent&) { Destroy(); }, wxID_CLOSE);
}

bool CHistoryDlg::Reload(std::string* error) {
  CHistory history;
  std::string notice;
  m_list->DeleteAllItems();
  m_entries.clear();
  if (!history.OpenForReading(DefaultHistoryPath(), error, &notice)) return false;
  HistoryFilter filter;
  filter.mid = m_mid->GetValue().utf8_string();
  if (!history.List(filter, &m_entries, error)) return false;
  long row = 0;
  for (const HistoryEntry& e : m_entries) {
    const std::string cells[] = {std::to_string(e.id),
                                 e.startTime,
                                 e.drive,
                                 e.discType,
                                 e.manufacturerId,
                                 e.manufacturerName.value_or("unknown"),
                                 e.kind == RecordKind::kSmart ? "smart" : e.speed,
                                 e.density,
                                 HistoryOutcomeText(e),
                                 OrDash(e.maxTe),
                                 OrDash(e.maxFe)};
    m_list->InsertItem(row, wxString::FromUTF8(cells[0]));
    for (int c = 1; c < 11; ++c) m_list->SetItem(row, c, wxString::FromUTF8(cells[c]));
    ++row;
  }
  return true;
}

std::vector<int64_t> CHistoryDlg::SelectedIds() const {
  std::vector<int64_t> ids;
  for (long item = m_list->GetNextItem(-1, wxLIST_NEXT_ALL, wxLIST_STATE_SELECTED); item != -1;
       item = m_list->GetNextItem(item, wxLIST_NEXT_ALL, wxLIST_STATE_SELECTED)) {
    if (item < static_cast<long>(m_entries.size()))
      ids.push_back(m_entries[static_cast<size_t>(item)].id);
  }
  return ids;
}

void CHistoryDlg::OpenSelected() {
  const std::vector<int64_t> ids = SelectedIds();
  if (ids.size() != 1) return;
  CHistory history;
  std::string error, notice;
  ScanRecord record;
  if (!history.OpenForReading(DefaultHistoryPath(), &error, &notice) ||
      !history.Load(ids[0], &record, &error)) {
    m_say(error);
    return;
  }
  m_open(record, "#" + std::to_string(ids[0]));
}

std::vector<std::pair<std::string, ScanRecord>> CHistoryDlg::LoadSelected(size_t least, size_t most,
                                                                          const std::string& what) {
  const std::vector<int64_t> ids = SelectedIds();
  if (ids.size() < least || ids.size() > most) {
    m_say(what);
    return {};
  }
  CHistory history;
  std::string error, notice;
  if (!history.OpenForReading(DefaultHistoryPath(), &error, &notice)) {
    m_say(error);
    return {};
  }
  std::vector<std::pair<std::string, ScanRecord>> runs;
  for (const int64_t id : ids) {
    ScanRecord record;
    if (!history.Load(id, &record, &error)) {
      m_say(error);
      return {};
    }
    runs.emplace_back("#" + std::to_string(id), std::move(record));
  }
  return runs;
}

void CHistoryDlg::CompareSelected() {
  const auto runs = LoadSelected(
      2, kMaxComparedRuns, "Select 2 to " + std::to_string(kMaxComparedRuns) + " runs to compare.");
  if (runs.empty()) return;
  m_comparison = new CCompareDlg(this, runs);
  m_comparison->Show();
}

void CHistoryDlg::ExportSelected() {
  const auto runs = LoadSelected(
      1, kMaxComparedRuns, "Select 1 to " + std::to_string(kMaxComparedRuns) + " runs to report.");
  if (runs.empty()) return;
  std::vector<ScanRecord> records;
  for (const auto& run : runs) records.push_back(run.second);
  m_export(records);
}

CCompareDlg::CCompareDlg(wxWindow* parent,
                         const std::vector<std::pair<std::string, ScanRecord>>& runs)
    : wxDialog(parent, wxID_ANY, "Compare runs", wxDefaultPosition, wxDefaultSize,
               wxDEFAULT_DIALOG_STYLE | wxRESIZE_BORDER) {
  auto* sizer = new wxBoxSizer(wxVERTICAL);
  std::vector<ChartRun> chartRuns;
  for (const auto& [name, record] : runs) chartRuns.push_back(ChartRun{name, &record});
  std::string png, error;
  if (DrawCompareChartPng(chartRuns, &png, &error)) {
    if (wxImage::FindHandler(wxBITMAP_TYPE_PNG) == nullptr) wxImage::AddHandler(new wxPNGHandler);
    wxMemoryInputStream stream(png.data(), png.size());
    wxImage image(stream, wxBITMAP_TYPE_PNG);
    if (image.IsOk()) m_chart = wxBitmap(image);
  }
  if (m_chart.IsOk()) sizer->Add(new wxStaticBitmap(this, wxID_ANY, m_chart), 0, wxALL, 8);

  m_table = new wxListCtrl(this, wxID_ANY, wxDefaultPosition, wxSize(-1, 300), wxLC_REPORT);
  m_table->AppendColumn("", wxLIST_FORMAT_LEFT, 130);
  for (const auto& [name, record] : runs)
    m_table->AppendColumn(wxString::FromUTF8(name), wxLIST_FORMAT_LEFT, 170);
  std::vector<const ScanRecord*> records;
  for (const auto& run : runs) records.push_back(&run.second);
  for (const ComparisonRow& row : ComparisonRowsOf(records)) {
    const long item = m_table->InsertItem(m_table->GetItemCount(), wxString::FromUTF8(row.label));
    for (size_t i = 0; i < row.values.size(); ++i)
      m_table->SetItem(item, static_cast<int>(i + 1), wxString::FromUTF8(row.values[i]));
  }
  sizer->Add(m_table, 1, wxEXPAND | wxLEFT | wxRIGHT | wxBOTTOM, 8);
  SetSizerAndFit(sizer);
}
