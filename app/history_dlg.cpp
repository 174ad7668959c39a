#include "app/history_dlg.h"

#include <wx/button.h>
#include <wx/choice.h>
#include <wx/settings.h>
#include <wx/sizer.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

#include <algorithm>

#include "app/compare_dlg.h"
#include "app/side_window.h"
#include "app/user_prompts.h"
#include "history/lab_history.h"
#include "reports/compare_chart.h"
#include "reports/comparison_rows.h"

namespace {

constexpr int kDefaultHeight = 460;
// A window manager's borders beside the dialog.
constexpr int kHistoryFrameAllowance = 8;

wxTextCtrl* AddFilterField(wxWindow* parent, wxSizer* row, const char* label, int width,
                           const char* hint = "") {
  row->Add(new wxStaticText(parent, wxID_ANY, label), 0, wxALIGN_CENTER_VERTICAL | wxRIGHT, 6);
  auto* field = new wxTextCtrl(parent, wxID_ANY, "", wxDefaultPosition, wxSize(width, -1),
                               wxTE_PROCESS_ENTER);
  if (hint[0] != '\0') field->SetHint(hint);
  row->Add(field, 0, wxALIGN_CENTER_VERTICAL | wxRIGHT, 12);
  return field;
}

}  // namespace

CHistoryDlg::CHistoryDlg(wxWindow* parent, UserPrompts& prompts, const std::string& labUrl,
                         std::function<void(const ScanRecord&, const std::string&)> open,
                         std::function<void(const std::vector<ScanRecord>&)> exportRuns)
    : wxDialog(parent, wxID_ANY, "History", wxDefaultPosition, wxDefaultSize,
               wxDEFAULT_DIALOG_STYLE | wxRESIZE_BORDER),
      m_prompts(prompts),
      m_open(std::move(open)),
      m_export(std::move(exportRuns)),
      m_labUrl(labUrl) {
  auto* sizer = new wxBoxSizer(wxVERTICAL);
  if (!m_labUrl.empty()) {
    auto* which = new wxBoxSizer(wxHORIZONTAL);
    m_source = new wxChoice(this, wxID_ANY);
    m_source->Append("Lab history");
    m_source->Append("Local history");
    m_source->SetSelection(0);
    which->Add(m_source, 0, wxALIGN_CENTER_VERTICAL | wxRIGHT, 12);
    // One line, whatever the server says: the rest is cut, not wrapped.
    m_where =
        new wxStaticText(this, wxID_ANY, "", wxDefaultPosition, wxDefaultSize, wxST_ELLIPSIZE_END);
    which->Add(m_where, 1, wxALIGN_CENTER_VERTICAL);
    sizer->Add(which, 0, wxLEFT | wxRIGHT | wxTOP | wxEXPAND, 12);
  }
  auto* filter = new wxBoxSizer(wxHORIZONTAL);
  m_mid = AddFilterField(this, filter, "Manufacturer ID contains:", 110);
  m_drive = AddFilterField(this, filter, "Drive contains:", 130);
  filter->Add(new wxStaticText(this, wxID_ANY, "Outcome:"), 0, wxALIGN_CENTER_VERTICAL | wxRIGHT,
              6);
  m_outcome = new wxChoice(this, wxID_ANY);
  m_outcome->Append("any");
  for (int i = 0; i < kRunOutcomeCount; ++i)
    m_outcome->Append(RunOutcomeName(static_cast<RunOutcome>(i)));
  m_outcome->SetSelection(0);
  filter->Add(m_outcome, 0, wxALIGN_CENTER_VERTICAL | wxRIGHT, 12);
  m_since = AddFilterField(this, filter, "Since:", 110, "YYYY-MM-DD");
  auto* apply = new wxButton(this, wxID_ANY, "&Filter");
  filter->Add(apply, 0, wxALIGN_CENTER_VERTICAL);
  sizer->Add(filter, 0, wxALL, 12);

  m_list = new CHistoryList(this);
  sizer->Add(m_list, 1, wxEXPAND | wxLEFT | wxRIGHT, 12);

  auto* buttons = new wxBoxSizer(wxHORIZONTAL);
  auto* deleteButton = new wxButton(this, wxID_DELETE, "&Delete");
  auto* openButton = new wxButton(this, wxID_OPEN, "&Open");
  // Alt+C is Close's (GTK's own label for it).
  auto* compare = new wxButton(this, wxID_ANY, "Co&mpare");
  auto* exportButton = new wxButton(this, wxID_ANY, "&Export Report...");
  // The destructive action apart from the others, on the far side.
  buttons->Add(deleteButton);
  buttons->AddStretchSpacer();
  buttons->Add(openButton, 0, wxRIGHT, 6);
  buttons->Add(compare, 0, wxRIGHT, 6);
  buttons->Add(exportButton, 0, wxRIGHT, 6);
  buttons->Add(new wxButton(this, wxID_CLOSE, "Close"));
  sizer->Add(buttons, 0, wxALL | wxEXPAND, 12);
  SetSizer(sizer);

  // Every column within the default width, and never past the screen.
  // (The list's frame and a little more beside the scroll bar.)
  // On a narrow screen the name columns give way so TE, FE and Station stay
  // in view.
  const int spare = wxSystemSettings::GetMetric(wxSYS_VSCROLL_X, m_list) + 8;
  m_list->FitColumnsWithin(ScreenAreaOf(parent != nullptr ? parent : this).width - 24 - spare -
                           kHistoryFrameAllowance);
  const int listWidth = m_list->ColumnsWidth() + spare;
  const wxSize wanted(std::max(listWidth + 24, sizer->GetMinSize().x), kDefaultHeight);
  SizeWithinScreen(*this, parent, wanted);

  auto reload = [this](wxCommandEvent&) {
    std::string error;
    if (!Reload(&error)) Say(error);
  };
  apply->Bind(wxEVT_BUTTON, reload);
  for (wxTextCtrl* field : {m_mid, m_drive, m_since}) field->Bind(wxEVT_TEXT_ENTER, reload);
  m_outcome->Bind(wxEVT_CHOICE, reload);
  if (m_source != nullptr) m_source->Bind(wxEVT_CHOICE, reload);
  deleteButton->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { DeleteSelected(); });
  openButton->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { OpenSelected(); });
  compare->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { CompareSelected(); });
  exportButton->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { ExportSelected(); });
  m_list->Bind(wxEVT_LIST_ITEM_ACTIVATED, [this](wxListEvent&) { OpenSelected(); });
  m_list->Bind(wxEVT_LIST_KEY_DOWN, [this](wxListEvent& event) {
    if (event.GetKeyCode() == WXK_DELETE) {
      DeleteSelected();
    } else {
      event.Skip();
    }
  });
  CloseByKeys(*this);
}

void CHistoryDlg::Say(const std::string& text) { m_prompts.Message(this, text); }

bool CHistoryDlg::ReadingLab() const {
  return !m_labUrl.empty() && m_source != nullptr && m_source->GetSelection() == 0;
}

std::string CHistoryDlg::Location() const { return ReadingLab() ? m_labUrl : DefaultHistoryPath(); }

std::string CHistoryDlg::Where() const {
  return m_where != nullptr ? m_where->GetLabelText().utf8_string() : std::string();
}

bool CHistoryDlg::FilterOf(HistoryFilter* filter, std::string* error) const {
  filter->mid = m_mid->GetValue().utf8_string();
  filter->drive = m_drive->GetValue().utf8_string();
  if (const int outcome = m_outcome->GetSelection(); outcome > 0)
    filter->outcomes.push_back(static_cast<RunOutcome>(outcome - 1));
  const std::string since = m_since->GetValue().Strip(wxString::both).utf8_string();
  if (!since.empty()) {
    std::string impossible;
    filter->since = ParseIsoTime(since, &impossible);
    if (!impossible.empty()) {
      *error = "Since: " + since + " is no date (" + impossible + ").";
      return false;
    }
    if (!filter->since) {
      *error = "Since takes a date (2026-12-08) or a time (2026-12-08T10:00:00+01:00), not '" +
               since + "'.";
      return false;
    }
  }
  return true;
}

bool CHistoryDlg::Reload(std::string* error) {
  HistoryFilter filter;
  if (!FilterOf(&filter, error)) return false;
  m_list->SetSource({});
  m_history.reset();
  auto history = std::make_shared<CHistory>();
  std::string notice;
  if (m_where != nullptr) {
    std::string line = "Local history: this station's own runs (" + StationName() + ")";
    if (ReadingLab()) {
      // What the server does not show yet of this station's.
      const int64_t waiting = WaitingRunCount(DefaultHistoryPath());
      std::string wait;
      if (waiting == 1) wait = "; 1 run of this station waits to be sent";
      if (waiting > 1)
        wait = "; " + std::to_string(waiting) + " runs of this station wait to be sent";
      line = "Lab history: " + ShownUrl(m_labUrl) + " (every station's runs" + wait + ")";
    }
    m_where->SetLabel(wxControl::EscapeMnemonics(wxString::FromUTF8(line)));
  }
  if (!history->OpenForReading(Location(), error, &notice)) {
    if (!ReadingLab()) return false;
    // Said in the window's own line, the way out first: a long reason is
    // cut at the line's end (the tooltip holds it whole).
    const char* cannot = history->Failure() == HistoryFailure::kUnreachable
                             ? "The lab history cannot be reached"
                             : "The lab history cannot be read";
    // A URL's '&' is no mnemonic.
    m_where->SetLabel(wxControl::EscapeMnemonics(wxString::FromUTF8(
        std::string(cannot) + "; choose Local history for this station's runs (" +
        ShownUrl(m_labUrl) + ": " + *error + ")")));
    m_where->SetToolTip(m_where->GetLabelText());
    error->clear();
    return true;
  }
  if (m_where != nullptr) m_where->UnsetToolTip();
  m_history = history;
  // The list asks for what it shows; a failure shows no rows rather than a
  // message on every repaint.
  auto failure = std::make_shared<std::string>();
  HistoryListSource source;
  source.ids = [history, filter, failure](HistoryColumn column, bool ascending,
                                          std::vector<int64_t>* ids) {
    return history->Ids(filter, CHistoryList::OrderColumn(column), ascending, ids, failure.get());
  };
  source.rows = [history](const std::vector<int64_t>& ids, std::vector<HistoryEntry>* rows) {
    std::string ignored;
    return history->Entries(ids, rows, &ignored);
  };
  m_list->SetSource(std::move(source));
  if (failure->empty()) return true;
  *error = *failure;
  return false;
}

namespace {

// "Run #5 is a skipped disc (why): nothing was run on it;"
std::string SkippedDiscText(const std::string& name, const ScanRecord& record) {
  return "Run " + name + " is a skipped disc (" + record.skippedBecause +
         "): nothing was run on it;";
}

}  // namespace

void CHistoryDlg::OpenSelected() {
  const std::vector<int64_t> ids = m_list->SelectedIds();
  if (ids.size() != 1) return;
  CHistory history;
  std::string error, notice;
  ScanRecord record;
  if (!history.OpenForReading(Location(), &error, &notice) ||
      !history.Load(ids[0], &record, &error)) {
    Say(error);
    return;
  }
  if (record.outcome == RunOutcome::kSkipped) {
    Say(SkippedDiscText("#" + std::to_string(ids[0]), record) + " there is nothing to show.");
    return;
  }
  m_open(record, "#" + std::to_string(ids[0]));
}

std::vector<std::pair<std::string, ScanRecord>> CHistoryDlg::LoadSelected(size_t least, size_t most,
                                                                          const std::string& what) {
  // Oldest first, whatever the list's order: a comparison reads as what
  // changed since, and its differences are the later run's minus the earlier.
  std::vector<int64_t> ids = m_list->SelectedIds();
  std::sort(ids.begin(), ids.end());
  if (ids.size() < least || ids.size() > most) {
    Say(what);
    return {};
  }
  CHistory history;
  std::string error, notice;
  if (!history.OpenForReading(Location(), &error, &notice)) {
    Say(error);
    return {};
  }
  std::vector<std::pair<std::string, ScanRecord>> runs;
  for (const int64_t id : ids) {
    ScanRecord record;
    if (!history.Load(id, &record, &error)) {
      Say(error);
      return {};
    }
    if (record.outcome == RunOutcome::kSkipped) {
      Say(SkippedDiscText("#" + std::to_string(id), record) + " select runs with readings.");
      return {};
    }
    runs.emplace_back("#" + std::to_string(id), std::move(record));
  }
  if (runs.size() > 1) {
    std::vector<const ScanRecord*> records;
    std::vector<std::string> names;
    for (const auto& [name, record] : runs) {
      records.push_back(&record);
      names.push_back("Run " + name);
    }
    if (const std::string mixed = MixedKindsError(records, names); !mixed.empty()) {
      Say(mixed + ".");
      return {};
    }
  }
  return runs;
}

void CHistoryDlg::CompareSelected() {
  const auto runs = LoadSelected(
      2, kMaxComparedRuns, "Select 2 to " + std::to_string(kMaxComparedRuns) + " runs to compare.");
  if (runs.empty()) return;
  auto* comparison = new CCompareDlg(
      this, runs,
      ReadingLab() ? "Compare runs (lab history " + ShownUrl(m_labUrl) + ")" : "Compare runs");
  *m_comparison = comparison;
  comparison->Bind(wxEVT_DESTROY, [slot = m_comparison](wxWindowDestroyEvent& event) {
    if (event.GetWindow() == *slot) *slot = nullptr;
    event.Skip();
  });
  comparison->Show();
}

void CHistoryDlg::ExportSelected() {
  const auto runs = LoadSelected(
      1, kMaxComparedRuns, "Select 1 to " + std::to_string(kMaxComparedRuns) + " runs to report.");
  if (runs.empty()) return;
  std::vector<ScanRecord> records;
  for (const auto& run : runs) records.push_back(run.second);
  m_export(records);
}

void CHistoryDlg::DeleteSelected() {
  std::vector<int64_t> ids = m_list->SelectedIds();
  if (ids.empty()) {
    Say("Select the runs to delete.");
    return;
  }
  // A history that cannot take it (read-only, a newer Velmo's) says why
  // before anything is asked.
  CHistory history;
  std::string error, notice;
  if (!history.Open(Location(), &error, &notice)) {
    Say("The runs cannot be deleted: " + error);
    return;
  }
  std::sort(ids.begin(), ids.end());
  std::string names;
  for (const int64_t id : ids) names += (names.empty() ? "#" : ", #") + std::to_string(id);
  const std::string question = ids.size() == 1 ? "Delete run " + names + " from the history?"
                                               : "Delete " + std::to_string(ids.size()) +
                                                     " runs (" + names + ") from the history?";
  const std::string fromLab = ReadingLab() ? " Every station of the lab loses them." : "";
  if (!m_prompts.Confirm(this, question,
                         "A deleted run cannot be brought back. Files written from it (TEFE.txt, "
                         "reports, record files) stay where they are." +
                             fromLab,
                         "Delete")) {
    return;
  }
  if (!history.Delete(ids, &error)) Say("The runs cannot be deleted: " + error);
  if (!Reload(&error)) Say(error);
}
