// The window's recorded runs: every scan kept in the history, and File,
// Open Record... (or a record file dropped on the window) showing a kept run
// without touching the drive.
#include <wx/choice.h>
#include <wx/filename.h>
#include <wx/menu.h>

#include <ctime>
#include <mutex>

#include "app/history_dlg.h"
#include "app/scan_dlg.h"
#include "chart/graph_ctrl.h"
#include "chart/scan_series.h"
#include "commands/disc_globals.h"
#include "res/resource_ids.h"
#include "results/history.h"
#include "results/media_codes.h"
#include "results/run_identity.h"
#include "results/run_record.h"

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
  std::string error;
  if (!OpenRecord(path, &error)) m_prompts->Message(this, error);
}

void CScanDlg::OnDropFiles(wxDropFilesEvent& event) {
  if (event.GetNumberOfFiles() < 1) return;
  std::string error;
  if (!OpenRecord(event.GetFiles()[0].utf8_string(), &error)) m_prompts->Message(this, error);
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
      this,
      [this](const ScanRecord& record, const std::string& name) {
        if (m_scanning == 1) {
          m_prompts->Message(this, "A scan is running; open the record when it has ended.");
          return;
        }
        ShowRecord(record, name);
      },
      [this](const std::vector<ScanRecord>& runs) { ExportReportOf(runs); },
      [this](const std::string& text) { m_prompts->Message(this, text); });
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
  SetText(IDC_DISC_TYPE, record.disc.type);
  SetText(IDC_MANUFACTURER_ID, record.disc.manufacturerId);
  m_layout.Control(IDC_MANUFACTURER_ID)
      ->SetToolTip(wxString::FromUTF8(record.disc.manufacturerName.value_or("unknown")));
  SetText(IDC_MEDIA_TYPE_ID, record.disc.mediaTypeId);
  SetText(IDC_CAPACITY, record.disc.capacity);
  m_speedCombo->Clear();
  for (const std::string& entry : record.disc.writeSpeeds)
    m_speedCombo->Append(wxString::FromUTF8(entry));
  for (unsigned i = 0; i < m_speedCombo->GetCount(); ++i) {
    if (!record.settings.speed.empty() && m_speedCombo->GetString(i).utf8_string().find(
                                              record.settings.speed + " =>") != std::string::npos) {
      m_speedCombo->SetSelection(static_cast<int>(i));
    }
  }
  SetText(IDC_ELAPSED, std::to_string(record.durationSeconds) + " seconds");
  if (m_graph != nullptr) {
    m_graph->ClearData();
    SetScanRange(*m_graph, record.disc.lastLba);
    for (const RecordSample& s : record.samples) {
      m_graph->AppendPoint(SeriesIndex(ScanSeries::kTeCurve), s.te, s.lba);
      m_graph->AppendPoint(SeriesIndex(ScanSeries::kFeCurve), s.fe, s.lba);
    }
    m_graph->Refresh();
  }
  // The verdict the user saw then; without one, the outcome.
  std::string status =
      record.verdict.empty() ? std::string(RunOutcomeName(record.outcome)) : record.verdict;
  if (record.kind == RecordKind::kSmart) {
    status = "Smart Scan:";
    for (const SmartRow& row : record.rows) status += " " + row.speed + " " + row.result + ";";
    status.pop_back();
  }
  m_statusColor = record.outcome == RunOutcome::kOk ? kColorGreen : kColorRed;
  SetText(IDC_STATUS, "Recorded run: " + status);
  SetTitle(wxString::FromUTF8(kScanDialogTemplate.title) + kRecordedMark + " (" +
           wxString::FromUTF8(name) + ")");
  // START would scan the drive's disc, not the recorded one: it stays as
  // it was, and pressing it leaves this view.
  m_book.Show(record);
  if (record.kind == RecordKind::kSmart) {
    // A Smart Scan reads as its report did.
    CSmartModeDlg report(nullptr, nullptr);
    report.ShowRecord(record);
    m_prompts->SmartDialog(report);
  }
}

void CScanDlg::EndRecordView() {
  if (!m_book.EndShow()) return;
  SetTitle(wxString::FromUTF8(kScanDialogTemplate.title));
  if (m_graph != nullptr) {
    m_graph->ClearData();
    m_graph->Refresh();
  }
  // The drive's disc as the last identification found it.
  const DiscView view = StoredDiscInfo();
  if (view.discType) SetText(IDC_DISC_TYPE, *view.discType);
  if (view.manufacturerId) {
    SetText(IDC_MANUFACTURER_ID, *view.manufacturerId);
    m_layout.Control(IDC_MANUFACTURER_ID)
        ->SetToolTip(wxString::FromUTF8(ManufacturerNameOrUnknown(*view.manufacturerId)));
  }
  if (view.mediaTypeId) SetText(IDC_MEDIA_TYPE_ID, *view.mediaTypeId);
  if (view.capacity) SetText(IDC_CAPACITY, *view.capacity);
  if (view.speedEntries) {
    m_speedCombo->Clear();
    for (const std::string& entry : *view.speedEntries)
      m_speedCombo->Append(wxString::FromUTF8(entry));
    if (!view.speedEntries->empty()) m_speedCombo->SetSelection(0);
  }
  SetText(IDC_ELAPSED, " ");
  SetText(IDC_STATUS, " ");
}

void CScanDlg::KeepRunInHistory(const CScanWorker* worker) {
  if (m_book.Kept() || worker == nullptr) return;
  m_book.Keep(worker->Samples(), worker->End());
}

void CScanDlg::KeepSmartRunInHistory(const CSmartModeDlg& dialog, const std::string& started) {
  if (m_options.noHistory || !dialog.Readings()) return;
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
