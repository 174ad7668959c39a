// The Run menu of the window: start a run when a blank, supported disc is
// identified, eject the disc when a run ends, the folder for a report of
// every run, and the lab history the runs are sent to. The choices are kept
// between launches (run_choices.h).
#include <wx/menu.h>
#include <wx/statusbr.h>

#include <cstdio>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "app/lab_history_dlg.h"
#include "app/scan_dlg.h"
#include "commands/drive_commands.h"
#include "records/run_record.h"
#include "records/scan_record.h"
#include "res/resource_ids.h"

namespace {

constexpr int kRunAutostartId = 0x5100;
constexpr int kRunEjectId = 0x5101;
constexpr int kRunReportId = 0x5102;
constexpr int kRunLabHistoryId = 0x5103;
constexpr char kReportItemText[] = "Save a &report of every run to";
constexpr int kRunPartId = 0x5104;
constexpr int kRunResumeId = 0x5105;

}  // namespace

void CScanDlg::BuildRunMenu() {
  std::string message;
  m_runChoices = LoadRunChoices(RunChoicesPath(), &message);
  if (!message.empty()) m_prompts->Message(this, message);

  auto* menu = new wxMenu();
  menu->AppendCheckItem(kRunAutostartId, "&Start when a blank disc is inserted");
  menu->AppendCheckItem(kRunEjectId, "&Eject when done");
  menu->AppendCheckItem(kRunReportId, wxString::FromUTF8(kReportItemText) + "…");
  menu->Check(kRunAutostartId, m_runChoices.autostart);
  menu->Check(kRunEjectId, m_runChoices.eject);
  menu->Check(kRunReportId, !m_runChoices.reportDir.empty());
  menu->AppendSeparator();
  menu->Append(kRunLabHistoryId, wxString::FromUTF8("Lab &History…"));
  menu->AppendSeparator();
  menu->Append(kRunPartId, wxString::FromUTF8("Scan a &Part of the Disc…"));
  menu->Append(kRunResumeId, "Res&ume the Last Run");
  ChooseLab();
  // Before Help, where a menu of commands belongs.
  wxMenuBar* bar = GetMenuBar();
  bar->Insert(bar->GetMenuCount() > 0 ? bar->GetMenuCount() - 1 : 0, menu, "&Run");
  SetReportMenuLabel();
  Bind(wxEVT_MENU, &CScanDlg::OnRunMenu, this, kRunAutostartId, kRunReportId);
  Bind(wxEVT_MENU, &CScanDlg::OnLabHistoryMenu, this, kRunLabHistoryId);
  Bind(wxEVT_MENU, &CScanDlg::OnRunPartMenu, this, kRunPartId);
  Bind(wxEVT_MENU, &CScanDlg::OnRunResumeMenu, this, kRunResumeId);
  Bind(kLabPushedEvent, &CScanDlg::OnLabPushed, this);
  m_book.OnKept([this] { PushToLab(); });
}

void CScanDlg::ChooseLab() {
  m_lab = ChooseLabHistory(m_options.historyUrl, m_runChoices.historyUrl);
  if (m_lab.url.empty()) return;
  if (const std::string problem = LabUrlProblem(m_lab.url); !problem.empty()) {
    m_prompts->Message(this, "The lab history " + ShownUrl(m_lab.url) + " from " +
                                 LabUrlOrigin(m_lab.from) + " is not used: " + problem +
                                 " Runs are kept in this station's history alone.");
    m_lab = {};
  }
}

void CScanDlg::OnLabHistoryMenu(wxCommandEvent&) {
  CLabHistoryDlg dialog(this, m_runChoices.historyUrl, m_lab);
  if (!m_prompts->LabHistoryDialog(dialog)) return;
  if (dialog.Url() == m_runChoices.historyUrl) return;
  m_runChoices.historyUrl = dialog.Url();
  std::string error;
  if (!SaveRunChoices(RunChoicesPath(), m_runChoices, &error)) {
    m_prompts->Message(this, "The lab history could not be kept: " + error);
  } else if (UrlHasPassword(dialog.Url())) {
    m_prompts->Message(this,
                       "The settings file keeps the lab history without its password: passwords "
                       "belong in ~/.pgpass (or the file PGPASSFILE names). Until Velmo closes, "
                       "this session uses the password given.");
  }
  ChooseLab();
  PushToLab();
}

void CScanDlg::PushToLab() {
  if (m_lab.url.empty() || m_closing) return;
  m_labPusher.Push(m_book.HistoryPath(), m_lab.url);
}

void CScanDlg::OnLabPushed(wxThreadEvent&) {
  m_lastLabPush = m_labPusher.Ended();
  ++m_labPushesEnded;
  // The run is kept here whatever the server does; its runs wait for the
  // next push.
  if (m_lastLabPush.failure != HistoryFailure::kNone && !m_closing) {
    std::fprintf(stderr, "velmo: lab history %s: %lld runs wait: %s\n", ShownUrl(m_lab.url).c_str(),
                 static_cast<long long>(m_lastLabPush.waiting), m_lastLabPush.error.c_str());
  }
}

void CScanDlg::OnRunMenu(wxCommandEvent& event) {
  RunChoices choices = m_runChoices;
  if (event.GetId() == kRunAutostartId) choices.autostart = event.IsChecked();
  if (event.GetId() == kRunEjectId) choices.eject = event.IsChecked();
  if (event.GetId() == kRunReportId) {
    std::string folder;
    if (event.IsChecked()) {
      if (!m_prompts->ReportFolder(this, &folder)) folder.clear();
    }
    choices.reportDir = folder;
    if (wxMenuBar* bar = GetMenuBar()) bar->Check(kRunReportId, !folder.empty());
  }
  m_runChoices = choices;
  SetReportMenuLabel();
  RefreshTitle();
  ShowSpindle();
  std::string error;
  if (!SaveRunChoices(RunChoicesPath(), choices, &error)) {
    m_prompts->Message(this, "The Run menu's choices could not be kept: " + error);
  }
  // A blank disc already identified would otherwise wait for the next one.
  if (event.GetId() == kRunAutostartId && choices.autostart && m_discIdentified == 1 &&
      m_layout.Control(IDC_START)->IsEnabled()) {
    StartIfChosen();
  }
}

void CScanDlg::StartIfChosen() {
  if (!m_runChoices.autostart || Scanning() || m_closing) return;
  if (m_pScanThread && !m_pScanThread->Finished()) return;
  StartRun(true);
}

// A PDF of the run under its default name in the chosen folder. A report
// that cannot be written is said after the run's own status text, which
// stays: the run itself is not less done.
void CScanDlg::SaveReportIfChosen() {
  const std::optional<ScanRecord> record = LastRunRecord();
  if (m_runChoices.reportDir.empty() || !record || m_closing) return;
  std::string error;
  if (!CRunBook::WriteReport(m_runChoices.reportDir, *record, &error)) {
    const std::string status = m_layout.Control(IDC_STATUS)->GetLabel().utf8_string();
    SetText(IDC_STATUS, status + " (report not written: " + error + ")");
  }
}

void CScanDlg::EjectIfChosen() {
  SaveReportIfChosen();
  if (m_startedByItself) CountSpindleRun();
  m_startedByItself = false;
  if (!m_runChoices.eject || m_closing || !m_session) return;
  // The poll sees the tray empty and clears the disc fields; the next disc
  // is identified (and, with autostart, run) as any other.
  EjectMedium();
}

// The item names the folder the reports go to, once one is chosen.
void CScanDlg::SetReportMenuLabel() {
  wxMenuBar* bar = GetMenuBar();
  wxMenuItem* item = bar != nullptr ? bar->FindItem(kRunReportId) : nullptr;
  if (item == nullptr) return;
  wxString folder = wxString::FromUTF8(m_runChoices.reportDir);
  folder.Replace("&", "&&");  // a folder's '&' is no mnemonic
  item->SetItemLabel(wxString::FromUTF8(kReportItemText) +
                     (folder.empty() ? wxString::FromUTF8("…") : " " + folder));
}

std::string CScanDlg::UnattendedText() const {
  std::vector<std::string> parts;
  const RunChoices& chosen = m_runChoices;
  if (chosen.autostart || chosen.eject || !chosen.reportDir.empty()) {
    parts.push_back(chosen.reportDir.empty() ? "unattended"
                                             : "unattended: reports to " + chosen.reportDir);
  }
  return parts.empty() ? "" : parts.front();
}

namespace {

// The tally in the bar's room: the counts that are not zero.
std::string ShortSpindleTally(const SpindleTally& tally) {
  std::string text = std::to_string(tally.seen) + (tally.seen == 1 ? " disc" : " discs");
  const std::pair<int, const char*> counts[] = {{tally.ok, "ok"},
                                                {tally.notRecommended, "not recommended"},
                                                {tally.failed, "failed"},
                                                {tally.skipped, "skipped"},
                                                {tally.aborted, "aborted"}};
  const char* joint = ": ";
  for (const auto& [count, name] : counts) {
    if (count == 0) continue;
    text += joint + std::to_string(count) + " " + name;
    joint = ", ";
  }
  return text;
}

}  // namespace

// A bar under the window while unattended runs are on or have run: the last
// disc and the tally stay in view after each eject, whatever the status
// line says of the next disc.
void CScanDlg::ShowSpindle() {
  const bool wanted = !UnattendedText().empty() || m_spindle.seen > 0;
  wxStatusBar* bar = GetStatusBar();
  if (bar == nullptr && !wanted) return;
  if (bar == nullptr) bar = CreateStatusBar(2);
  const std::string tally =
      m_spindle.seen > 0 ? ShortSpindleTally(m_spindle) : "Unattended: no disc yet";
  const std::string last = m_lastDisc.empty() ? "" : "Last: " + m_lastDisc;
  // The tally whole; the last disc has the rest, its outcome first.
  const int widths[] = {bar->GetTextExtent(wxString::FromUTF8(tally)).x + 12, -1};
  bar->SetStatusWidths(2, widths);
  bar->SetStatusText(wxString::FromUTF8(tally), 0);
  bar->SetStatusText(wxString::FromUTF8(last), 1);
  if (bar->IsShown() != wanted) bar->Show(wanted);
  // The bar takes its height below the panel, never from it; on a short
  // screen it takes it from the scrolled content instead.
  if (m_scroller != nullptr)
    FitToScreen();
  else
    SetClientSize(m_layout.ClientSize());
}

void CScanDlg::CountSpindleRun() {
  const std::optional<ScanRecord> record = LastRunRecord();
  if (!record) return;
  m_spindle.Count(SpindleDiscOf(record->outcome));
  m_lastDisc = std::string(RunOutcomeName(record->outcome)) + " (" + record->disc.manufacturerId +
               (record->settings.speed.empty() ? "" : ", " + record->settings.speed) + ")";
  ShowSpindle();
}

void CScanDlg::SkipUntestableDisc(const DiscView& view) {
  if (!m_runChoices.autostart || m_diagMode != 1 || m_closing || view.enableRunControls) return;
  m_spindle.Count(SpindleDisc::kSkipped);
  m_lastDisc = "skipped (not testable)";
  // Kept in the history as the disc was found, with why nothing ran on it.
  m_book.Add(SkippedDiscRecord(WindowRunStart(), view.untestable));
  ShowSpindle();
  if (!m_runChoices.eject) {
    // Nobody may be there to see why nothing starts: the status says it.
    const std::string status = m_layout.Control(IDC_STATUS)->GetLabel().utf8_string();
    SetText(IDC_STATUS, status + " Waiting: take the disc out (Eject when done is off).");
    return;
  }
  // As velmo-cli watch --eject: out it goes, and the next disc is taken.
  EjectMedium();
}
