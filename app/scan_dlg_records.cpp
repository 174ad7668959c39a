// The window's recorded runs: every scan kept in the history, and File,
// Open Record... (or a record file dropped on the window) showing a kept run
// without touching the drive.
#include <wx/choice.h>
#include <wx/filename.h>
#include <wx/menu.h>
#include <wx/panel.h>

#include <ctime>
#include <mutex>

#include "app/graph_scan_chart.h"
#include "app/history_dlg.h"
#include "app/scan_dlg.h"
#include "chart/graph_ctrl.h"
#include "chart/scan_series.h"
#include "history/history.h"
#include "records/run_identity.h"
#include "records/run_record.h"
#include "reports/record_chart.h"
#include "res/resource_ids.h"
#include "session/run_options.h"

namespace {

constexpr int kOpenRecordId = wxID_HIGHEST + 180;
constexpr int kHistoryId = wxID_HIGHEST + 181;
constexpr char kRecordedMark[] = " - recorded run";

}  // namespace

void CScanDlg::BuildRecordMenu() {
  wxMenuBar* bar = GetMenuBar();
  if (bar == nullptr || bar->GetMenuCount() == 0) return;
  bar->GetMenu(0)->Insert(0, kOpenRecordId, "Open &Record...\tCtrl+O");
  bar->GetMenu(0)->Insert(1, kHistoryId, "&History...\tCtrl+H");
  Bind(wxEVT_MENU, &CScanDlg::OnFileOpenRecord, this, kOpenRecordId);
  Bind(wxEVT_MENU, &CScanDlg::OnFileHistory, this, kHistoryId);
  DragAcceptFiles(true);
  Bind(wxEVT_DROP_FILES, &CScanDlg::OnDropFiles, this);
}

void CScanDlg::OnFileOpenRecord(wxCommandEvent&) {
  std::string path;
  if (!m_prompts->OpenRecordPath(this, &path)) return;
  OpenRecordOrSay(path);
}

void CScanDlg::OnDropFiles(wxDropFilesEvent& event) {
  if (event.GetNumberOfFiles() < 1) return;
  OpenRecordOrSay(event.GetFiles()[0].utf8_string());
}

void CScanDlg::OpenRecordOrSay(const std::string& path) {
  std::string error;
  if (!OpenRecord(path, &error)) m_prompts->Message(this, error);
}

bool CScanDlg::OpenRecord(const std::string& path, std::string* error) {
  // Not while a run draws into the same chart.
  if (m_scanning == 1) {
    *error = "A scan is running; open the record when it has ended.";
    return false;
  }
  ScanRecord record;
  if (!LoadRecordFile(path, &record, error)) return false;
  ShowRecord(record, wxFileName(wxString::FromUTF8(path)).GetFullName().utf8_string());
  return true;
}

void CScanDlg::OnFileHistory(wxCommandEvent&) {
  if (*m_history != nullptr) {
    (*m_history)->Raise();
    return;
  }
  CHistoryDlg* history = new CHistoryDlg(
      this, *m_prompts, m_lab.url,
      [this](const ScanRecord& record, const std::string& name) {
        if (m_scanning == 1) {
          m_prompts->Message(this, "A scan is running; open the record when it has ended.");
          return;
        }
        ShowRecord(record, name);
      },
      [this](const std::vector<ScanRecord>& runs) { ExportReportOf(runs); });
  *m_history = history;
  // The window may go while this one is being destroyed (it is a child), so
  // the handler keeps its own reference to the slot and never touches this.
  history->Bind(wxEVT_DESTROY, [slot = m_history](wxWindowDestroyEvent& event) {
    if (event.GetWindow() == *slot) *slot = nullptr;
    event.Skip();
  });
  std::string error;
  if (!history->Reload(&error)) m_prompts->Message(this, "The history cannot be read: " + error);
  history->Show();
}

void CScanDlg::ShowRecord(const ScanRecord& record, const std::string& name) {
  PutRecordInWindow(record, name);
  if (record.kind == RecordKind::kSmart) {
    // A Smart Scan reads as its report did.
    CSmartModeDlg report(nullptr, nullptr);
    report.ShowRecord(record);
    m_prompts->SmartDialog(report);
  }
}

namespace {

// The list entry of a recorded speed: "8X" is " 8X => (11080 Kb/Sec)  ",
// never "2.4X => ..." for "4X".
int SpeedEntryOf(const wxChoice& list, const std::string& speed) {
  if (speed.empty()) return wxNOT_FOUND;
  for (unsigned i = 0; i < list.GetCount(); ++i) {
    std::string entry = list.GetString(i).utf8_string();
    entry.erase(0, entry.find_first_not_of(' '));
    if (entry.rfind(speed + " =>", 0) == 0) return static_cast<int>(i);
  }
  return wxNOT_FOUND;
}

int DensityEntryOf(const std::string& density) {
  for (int i = 0; i < kDensityChoiceCount; ++i) {
    if (density == kDensityChoices[i].name) return i;
  }
  return wxNOT_FOUND;  // a Smart Scan's "outer": no entry of the list
}

}  // namespace

void CScanDlg::PutRecordInWindow(const ScanRecord& record, const std::string& name) {
  if (!m_book.Showing()) KeepDriveView();
  m_recordName = name;
  SetText(IDC_DISC_TYPE, record.disc.type);
  SetText(IDC_MANUFACTURER_ID, record.disc.manufacturerId);
  m_layout.Control(IDC_MANUFACTURER_ID)
      ->SetToolTip(wxString::FromUTF8(record.disc.manufacturerName.value_or("unknown")));
  SetText(IDC_MEDIA_TYPE_ID, record.disc.mediaTypeId);
  SetText(IDC_CAPACITY, record.disc.capacity);
  // The record's speed and density as it ran; not choices while it is
  // shown (the drive's disc has other speeds under the same places).
  m_speedCombo->Clear();
  for (const RecordWriteSpeed& speed : record.disc.writeSpeeds)
    m_speedCombo->Append(wxString::FromUTF8(WriteSpeedListEntry(speed)));
  m_speedCombo->SetSelection(SpeedEntryOf(*m_speedCombo, record.settings.speed));
  m_speedCombo->Enable(false);
  m_densityCombo->SetSelection(DensityEntryOf(record.settings.density));
  m_densityCombo->Enable(false);
  SetText(IDC_ELAPSED, std::to_string(record.durationSeconds) + " seconds");
  if (m_graph != nullptr) {
    if (m_recordGraph == nullptr) {
      m_recordGraph = new CGraphCtrl();
      m_recordGraph->Create(m_panel, m_graph->GetRect(), wxID_ANY);
      AddScanSeries(*m_recordGraph);
    }
    SetScanRange(*m_recordGraph, record.disc.lastLba, ChartRangeChoice());
    CGraphScanChart chart(*m_recordGraph);
    DrawRecordedRun(record, m_showTeLimit == 1, m_showFeLimit == 1, chart);
    m_graph->Hide();
    m_recordGraph->Show();
  }
  // The verdict the user saw then; without one, the outcome.
  std::string status =
      record.verdict.empty() ? std::string(RunOutcomeName(record.outcome)) : record.verdict;
  // A Smart Scan's rows are in its report; the line gives its answer.
  if (record.kind == RecordKind::kSmart) status = "Smart Scan: " + SmartAnswerLine(record);
  m_statusColor = record.outcome == RunOutcome::kOk ? kColorGreen : kColorRed;
  SetText(IDC_STATUS, "Recorded run: " + status);
  m_baseTitle = std::string(kScanDialogTemplate.title) + kRecordedMark + " (" + name + ")";
  RefreshTitle();
  // START would scan the drive's disc, not the recorded one: it stays as
  // it was, and pressing it leaves this view.
  m_book.Show(record);
}

void CScanDlg::KeepDriveView() {
  DriveView& kept = m_driveView;
  kept = DriveView();
  for (int id : {IDC_DISC_TYPE, IDC_MANUFACTURER_ID, IDC_MEDIA_TYPE_ID, IDC_CAPACITY, IDC_ELAPSED,
                 IDC_STATUS}) {
    kept.texts.emplace_back(id, m_layout.Control(id)->GetLabel().utf8_string());
  }
  kept.manufacturerTip = m_layout.Control(IDC_MANUFACTURER_ID)->GetToolTipText().utf8_string();
  for (unsigned i = 0; i < m_speedCombo->GetCount(); ++i)
    kept.speedEntries.push_back(m_speedCombo->GetString(i).utf8_string());
  kept.speedSelection = m_speedCombo->GetSelection();
  kept.speedEnabled = m_speedCombo->IsEnabled();
  kept.densitySelection = m_densityCombo->GetSelection();
  kept.densityEnabled = m_densityCombo->IsEnabled();
}

void CScanDlg::RestoreDriveView() {
  const DriveView& kept = m_driveView;
  for (const auto& [id, text] : kept.texts) SetText(id, text);
  wxWindow* manufacturer = m_layout.Control(IDC_MANUFACTURER_ID);
  if (kept.manufacturerTip.empty()) {
    manufacturer->UnsetToolTip();
  } else {
    manufacturer->SetToolTip(wxString::FromUTF8(kept.manufacturerTip));
  }
  m_speedCombo->Clear();
  for (const std::string& entry : kept.speedEntries)
    m_speedCombo->Append(wxString::FromUTF8(entry));
  // The entry m_speedCode was taken from: what is shown is what is sent.
  m_speedCombo->SetSelection(kept.speedSelection);
  m_speedCombo->Enable(kept.speedEnabled);
  m_densityCombo->SetSelection(kept.densitySelection);
  m_densityCombo->Enable(kept.densityEnabled);
}

void CScanDlg::EndRecordView() {
  if (!m_book.EndShow()) return;
  m_baseTitle = kScanDialogTemplate.title;
  RefreshTitle();
  if (m_recordGraph != nullptr) m_recordGraph->Hide();
  if (m_graph != nullptr) m_graph->Show();
  RestoreDriveView();
}

void CScanDlg::KeepRunInHistory(const CScanWorker* worker) {
  if (m_book.Kept() || worker == nullptr) return;
  m_book.Keep(worker->Samples(), worker->End());
}

void CScanDlg::KeepSmartRunInHistory(const CSmartModeDlg& dialog, const std::string& started) {
  if (!dialog.Readings()) return;
  RunStart start = WindowRunStart();
  start.startTime = started;
  std::vector<SmartRowEnd> ended;
  {
    std::lock_guard<std::mutex> hold(dialog.Readings()->lock);
    for (const auto& row : dialog.Readings()->rows) {
      if (!row) break;
      ended.push_back(*row);
    }
  }
  long seconds = 0;
  if (const auto begun = ParseIsoTime(started))
    seconds = static_cast<long>(std::time(nullptr) - *begun);
  m_book.KeepSmartRun(start, dialog.SpeedRows(), ended, seconds);
}

void CScanDlg::SayHistoryProblem(const std::string& status) {
  const std::string problem = m_book.TakeProblem();
  if (!problem.empty()) SetText(IDC_STATUS, status + " (" + problem + ")");
}
