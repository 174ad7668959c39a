// The Run menu of the window: start a run when a blank, supported disc is
// identified, eject the disc when a run ends, and the folder for a report of
// every run. The choices are kept between launches (run_choices.h).
#include <wx/menu.h>

#include "app/scan_dlg.h"
#include "commands/drive_commands.h"
#include "res/resource_ids.h"

namespace {

constexpr int kRunAutostartId = 0x5100;
constexpr int kRunEjectId = 0x5101;
constexpr int kRunReportId = 0x5102;

}  // namespace

void CScanDlg::BuildRunMenu() {
  std::string message;
  m_runChoices = LoadRunChoices(RunChoicesPath(), &message);
  if (!message.empty()) m_prompts->Message(this, message);

  auto* menu = new wxMenu();
  menu->AppendCheckItem(kRunAutostartId, "&Start when a blank disc is inserted");
  menu->AppendCheckItem(kRunEjectId, "&Eject when done");
  menu->AppendCheckItem(kRunReportId, wxString::FromUTF8("Save a &report of every run to…"));
  menu->Check(kRunAutostartId, m_runChoices.autostart);
  menu->Check(kRunEjectId, m_runChoices.eject);
  menu->Check(kRunReportId, !m_runChoices.reportDir.empty());
  // Before Help, where a menu of commands belongs.
  wxMenuBar* bar = GetMenuBar();
  bar->Insert(bar->GetMenuCount() > 0 ? bar->GetMenuCount() - 1 : 0, menu, "&Run");
  Bind(wxEVT_MENU, &CScanDlg::OnRunMenu, this, kRunAutostartId, kRunReportId);
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
  m_startedByItself = false;
  if (!m_runChoices.eject || m_closing || !m_session) return;
  // The poll sees the tray empty and clears the disc fields; the next disc
  // is identified (and, with autostart, run) as any other.
  EjectMedium();
}
