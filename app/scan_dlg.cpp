#include "app/scan_dlg.h"

#include <wx/accel.h>
#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/choice.h>
#include <wx/evtloop.h>
#include <wx/filedlg.h>
#include <wx/filename.h>
#include <wx/menu.h>
#include <wx/panel.h>
#include <wx/print.h>
#include <wx/statbmp.h>
#include <wx/thread.h>
#include <wx/utils.h>

#include <gdk/gdk.h>

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "app/app_art.h"
#include "app/command_ids.h"
#include "app/log_printout.h"
#include "app/report_export.h"
#include "app/report_printout.h"
#include "app/sunken_text.h"
#include "app/window_capture.h"
#include "chart/graph_ctrl.h"
#include "chart/scan_series.h"
#include "commands/disc_globals.h"
#include "commands/drive_commands.h"
#include "res/resource_ids.h"
#include "results/media_codes.h"
#include "results/run_end_text.h"
#include "results/run_identity.h"
#include "session/run_lock.h"
#include "session/sim_catalogue.h"
#include "snapshot/bmp_file_name.h"

namespace {

constexpr int kExportReportId = 0x4F00;
constexpr int kPrintReportId = 0x4F01;
constexpr int kSimEjectId = 0x5000;
constexpr int kSimInsertFirstId = 0x5001;
constexpr int kSimInsertLastId = 0x5063;

constexpr char kPleaseInsert[] = "Please insert blank disc...";

wxColour ColourOf(uint32_t colorref) {
  return wxColour(colorref & 0xFF, (colorref >> 8) & 0xFF, (colorref >> 16) & 0xFF);
}

}  // namespace

wxBEGIN_EVENT_TABLE(CScanDlg, wxFrame) EVT_CLOSE(CScanDlg::OnClose)
    EVT_CHAR_HOOK(CScanDlg::OnCharHook) EVT_MENU(ToWxId(ID_HELP_ABOUT), CScanDlg::OnHelpAbout)
        EVT_MENU(ToWxId(ID_FILE_PRINT), CScanDlg::OnFilePrint) EVT_MENU(ToWxId(ID_FILE_SAVE),
                                                                        CScanDlg::OnFileSave)
            EVT_CHOICE(IDC_DRIVE, CScanDlg::OnSelchangeDrive) EVT_CHOICE(IDC_SPEED,
                                                                         CScanDlg::OnSelchangeSpeed)
                EVT_TIMER(kPollTimerId, CScanDlg::OnTimer) EVT_BUTTON(IDC_START, CScanDlg::OnStart)
                    EVT_BUTTON(IDC_STOP, CScanDlg::OnStop) EVT_CHOICE(IDC_DENSITY,
                                                                      CScanDlg::OnSelchangeDensity)
                        EVT_CHECKBOX(IDC_FE_CHECK, CScanDlg::OnFeCheck) EVT_CHECKBOX(
                            IDC_TE_CHECK, CScanDlg::OnTeCheck) EVT_MENU(ToWxId(ID_FILE_EXIT),
                                                                        CScanDlg::OnFileExit)
                            EVT_BUTTON(IDC_SMART_SCAN, CScanDlg::OnSmartScan)
                                EVT_MENU(kExportReportId, CScanDlg::OnExportReport)
                                    EVT_MENU(kPrintReportId,
                                             CScanDlg::OnPrintReport) EVT_MENU(kSimEjectId,
                                                                               CScanDlg::OnSimEject)
                                        EVT_MENU_RANGE(kSimInsertFirstId, kSimInsertLastId,
                                                       CScanDlg::OnSimInsert) wxEND_EVENT_TABLE()

                                            CScanDlg::CScanDlg(const RunOptions& options,
                                                               std::unique_ptr<UserPrompts> prompts)
    : wxFrame(nullptr, wxID_ANY, wxString::FromUTF8(kScanDialogTemplate.title), wxDefaultPosition,
              wxDefaultSize, wxCAPTION | wxSYSTEM_MENU | wxMINIMIZE_BOX | wxCLOSE_BOX),
      m_options(options),
      m_prompts(std::move(prompts)),
      m_pollTimer(this, kPollTimerId) {
  ResetDiscGlobals();
  m_densityStep = 0;
  SetIcons(MakeAppIcons());

  m_panel = new wxPanel(this, wxID_ANY, wxDefaultPosition, wxDefaultSize, wxTAB_TRAVERSAL);
  m_layout.Build(m_panel, kScanDialogTemplate);
  m_teCheck = m_layout.Get<wxCheckBox>(IDC_TE_CHECK);
  m_feCheck = m_layout.Get<wxCheckBox>(IDC_FE_CHECK);
  m_densityCombo = m_layout.Get<wxChoice>(IDC_DENSITY);
  m_speedCombo = m_layout.Get<wxChoice>(IDC_SPEED);
  m_driveCombo = m_layout.Get<wxChoice>(IDC_DRIVE);
  m_status = m_layout.Get<CSunkenText>(IDC_STATUS);

  // The legend and check-box colours; the status line takes the colour set
  // last for its next painting, then draws black again.
  for (int id : {IDC_TE_LEGEND, IDC_TE_CHECK})
    m_layout.Control(id)->SetForegroundColour(ColourOf(kTeColour));
  for (int id : {IDC_FE_LEGEND, IDC_FE_CHECK})
    m_layout.Control(id)->SetForegroundColour(ColourOf(kFeColour));
  m_status->SetColourSource([this] {
    const uint32_t colour = m_statusColor;
    m_statusColor = 0;
    return colour;
  });
  for (wxWindow* bitmap : m_layout.Bitmaps()) {
    static_cast<wxStaticBitmap*>(bitmap)->SetBitmap(MakeBanner(bitmap->GetSize()));
  }

  BuildMenu();
  AddReportMenuItems();
  BuildRecordMenu();
  BuildRunMenu();
  if (m_options.simulate) BuildSimulatorMenu();
  // Printing the log has no menu item; Ctrl+P reaches it.
  wxAcceleratorEntry print(wxACCEL_CTRL, 'P', ToWxId(ID_FILE_PRINT));
  SetAcceleratorTable(wxAcceleratorTable(1, &print));
  SetClientSize(m_layout.ClientSize());
  m_panel->SetSize(m_layout.ClientSize());
}

CScanDlg::~CScanDlg() {
  StopWorkers();
  m_session.reset();
}

bool CScanDlg::IsAboutCommand(unsigned commandId) { return (commandId & 0xFFF0) == IDM_ABOUTBOX; }

void CScanDlg::BuildMenu() {
  auto* bar = new wxMenuBar();
  wxMenu* popup = nullptr;
  wxString popupText;
  for (const MenuItemTemplate& item : kMainMenu) {
    if (item.id == 0) {
      if (popup != nullptr) bar->Append(popup, popupText);
      popup = new wxMenu();
      popupText = wxString::FromUTF8(item.text);
    } else if (popup != nullptr) {
      popup->Append(ToWxId(item.id), wxString::FromUTF8(item.text));
    }
  }
  if (popup != nullptr) bar->Append(popup, popupText);
  SetMenuBar(bar);
}

// Reports of the last run, before Exit in the File menu.
void CScanDlg::AddReportMenuItems() {
  wxMenu* file = GetMenuBar()->GetMenu(0);
  const size_t beforeExit = file->GetMenuItemCount() > 0 ? file->GetMenuItemCount() - 1 : 0;
  file->Insert(beforeExit, kExportReportId, "Export &Report...");
  file->Insert(beforeExit + 1, kPrintReportId, "Print Re&port...");
}

// What Export Report and Print Report report: the last run started here.
// The recorded run the window shows, else the last run started here.
std::vector<ScanRecord> CScanDlg::RunsToReport() const {
  if (m_showingRecord) return {m_shownRecord};
  const std::optional<ScanRecord> last = LastRunRecord();
  if (!last) return {};
  return {*last};
}

void CScanDlg::OnExportReport(wxCommandEvent&) { ExportReportOf(RunsToReport()); }

void CScanDlg::ExportReportOf(const std::vector<ScanRecord>& runs) {
  if (runs.empty()) {
    m_prompts->Message(this, "There is no run to report yet.");
    return;
  }
  std::string written, error;
  if (!ExportReport(this, runs, m_reportPathHook, &written, &error)) {
    m_prompts->Message(this, "The report could not be written: " + error);
  }
}

void CScanDlg::OnPrintReport(wxCommandEvent&) {
  std::vector<ScanRecord> runs = RunsToReport();
  if (runs.empty()) {
    m_prompts->Message(this, "There is no run to report yet.");
    return;
  }
  CReportPrintout printout(std::move(runs));
  if (m_reportPrintHook) {
    m_reportPrintHook(printout);
    return;
  }
  wxPrintDialogData data;
  data.SetAllPages(true);
  data.SetMinPage(1);
  data.SetMaxPage(1);
  data.EnablePageNumbers(false);
  data.EnableSelection(false);
  wxPrinter printer(&data);
  printer.Print(this, &printout, true);
}

// Not part of the window the user of a real drive sees: the simulator's tray.
void CScanDlg::BuildSimulatorMenu() {
  auto* menu = new wxMenu();
  auto* insert = new wxMenu();
  int id = kSimInsertFirstId;
  for (const std::string& label : SimDiscLabels()) {
    if (id > kSimInsertLastId) break;
    insert->Append(id++, wxString::FromUTF8(label));
  }
  menu->AppendSubMenu(insert, "&Insert disc");
  menu->Append(kSimEjectId, "&Eject disc");
  GetMenuBar()->Append(menu, "&Simulator");
}

bool CScanDlg::OnInitDialog() {
  // GTK windows have no system menu, so the About entry of string 101 is in
  // Help; IsAboutCommand keeps the id rule.
  m_scanning = 0;
  g_pDeviceManager = nullptr;
  // The template's placeholder is never the status.
  SetText(IDC_STATUS, "");
  if (!InitDeviceManager()) {
    // Nothing to run against: no chart and no drive.
    EnableRunControls(false, false, false);
    return false;
  }
  ResetDiscInfo();
  InitDensityCombo();
  EnterDiagnosticMode();

  // The chart takes the place of the template's frame; the frame goes, or
  // GTK would draw its rounded border over the chart's corners.
  wxWindow* placeholder = m_layout.Control(IDC_GRAPH);
  const wxRect rect = placeholder->GetRect();
  placeholder->Hide();
  m_graph = new CGraphCtrl();
  m_graph->Create(m_panel, rect, wxID_ANY);
  AddScanSeries(*m_graph);
  SetText(IDC_TE_LEGEND, "---");
  SetText(IDC_FE_LEGEND, "---");
  return true;
}

bool CScanDlg::InitDeviceManager() {
  m_session.reset();
  g_pDeviceManager = nullptr;
  m_session = std::make_unique<CDriveSession>();
  // The manager may speak from a worker (a refused ASPI time-out); the box
  // then opens on the UI thread and the worker waits until it is closed, as
  // for a modal box of its own. Closing the window releases it.
  auto messages = [this, alive = std::weak_ptr<int>(m_alive), gate = m_boxGate](
                      const std::string& text, const std::string& caption) {
    if (wxThread::IsMain()) {
      m_prompts->Message(this, text, caption);
      return;
    }
    auto closed = std::make_shared<bool>(false);
    {
      std::lock_guard<std::mutex> hold(gate->lock);
      if (gate->closing) return;
    }
    CallAfter([this, alive, gate, closed, text, caption] {
      bool closing;
      {
        std::lock_guard<std::mutex> hold(gate->lock);
        closing = gate->closing;
      }
      if (!closing && !alive.expired()) m_prompts->Message(this, text, caption);
      {
        std::lock_guard<std::mutex> hold(gate->lock);
        *closed = true;
      }
      gate->changed.notify_all();
    });
    std::unique_lock<std::mutex> hold(gate->lock);
    gate->changed.wait(hold, [&] { return *closed || gate->closing; });
  };
  std::string error;
  if (!m_session->Open(m_options, messages, &error)) {
    m_prompts->Message(this, error);
    return false;
  }
  // The window has no room for this advice; whoever started velmo from a
  // terminal gets it there.
  if (m_session->Initialized()) {
    for (const SkippedVolume& skipped : m_session->Manager().GetSkippedVolumes()) {
      std::fprintf(stderr, "velmo: %s\n", DescribeSkippedVolume(skipped).c_str());
    }
  }
  if (!m_session->Initialized()) {
    m_prompts->Message(this, "Initial fail.");
    return false;
  }
  CDeviceManager& manager = m_session->Manager();
  const uint8_t count = manager.GetDriveCount();
  if (count == 0) {
    m_prompts->Message(this, "No Device found!");
    return false;
  }
  for (uint8_t i = 0; i < count; ++i) {
    manager.SelectDrive(i);
    char name[100] = {};
    manager.GetDriveName(name);
    m_driveCombo->Insert(wxString::FromUTF8(name), i);
  }
  m_driveCombo->SetSelection(0);
  manager.SelectDrive(0);
  return true;
}

void CScanDlg::InitDensityCombo() {
  m_densityCombo->Insert("Normal (Default)", 0);
  m_densityCombo->Insert("Full", 1);
  m_densityCombo->Insert("Quick", 2);
  m_densityCombo->SetSelection(0);
  m_densityStep = kNormalDensityStep;
}

void CScanDlg::SetText(int id, const std::string& text) {
  wxWindow* control = m_layout.Control(id);
  if (control != nullptr) control->SetLabel(wxString::FromUTF8(text));
  if (id == IDC_STATUS && m_statusHook) m_statusHook(text);
}

void CScanDlg::EnableRunControls(bool start, bool stop, bool others) {
  // Enabling first, so a focus leaving a disabled button has somewhere to go.
  if (start) EnableKeepingFocus(m_layout.Control(IDC_START), true);
  if (stop) EnableKeepingFocus(m_layout.Control(IDC_STOP), true);
  EnableKeepingFocus(m_layout.Control(IDC_START), start);
  EnableKeepingFocus(m_layout.Control(IDC_STOP), stop);
  for (int id : {IDC_SMART_SCAN, IDC_TE_CHECK, IDC_FE_CHECK})
    EnableKeepingFocus(m_layout.Control(id), others);
}

void CScanDlg::ResetDiscInfo() {
  EnableRunControls(false, false, false);
  m_speedCombo->Clear();
  m_speedCombo->Append("N/A");
  m_speedCombo->SetSelection(0);
  for (int id : {IDC_DISC_TYPE, IDC_MANUFACTURER_ID, IDC_MEDIA_TYPE_ID, IDC_CAPACITY})
    SetText(id, "N/A");
  SetText(IDC_STATUS, kPleaseInsert);
}

void CScanDlg::ApplyDiscView(const DiscView& view) {
  if (m_showingRecord) EndRecordView();  // the drive's disc takes the fields back
  if (view.resetDiscInfo) {
    ResetDiscInfo();
    return;
  }
  if (view.discType) SetText(IDC_DISC_TYPE, *view.discType);
  if (view.manufacturerId) {
    SetText(IDC_MANUFACTURER_ID, *view.manufacturerId);
    m_layout.Control(IDC_MANUFACTURER_ID)
        ->SetToolTip(wxString::FromUTF8(ManufacturerNameOrUnknown(*view.manufacturerId)));
  }
  if (view.mediaTypeId) SetText(IDC_MEDIA_TYPE_ID, *view.mediaTypeId);
  if (view.enableSpeedList) m_speedCombo->Enable(true);
  if (view.speedEntries) {
    m_speedCombo->Clear();
    for (const std::string& entry : *view.speedEntries)
      m_speedCombo->Append(wxString::FromUTF8(entry));
    if (!view.speedEntries->empty()) m_speedCombo->SetSelection(0);
  }
  if (view.capacity) SetText(IDC_CAPACITY, *view.capacity);
  if (view.speedCode) m_speedCode = *view.speedCode;
  if (view.chartLastLba && m_graph != nullptr) SetScanRange(*m_graph, *view.chartLastLba);
  if (view.enableRunControls) EnableRunControls(true, false, true);
  if (view.enableRunControls) StartIfChosen();
  if (view.status) SetText(IDC_STATUS, *view.status);
  Update();
}

void CScanDlg::EnterDiagnosticMode() {
  const int selected = m_driveCombo->GetSelection();
  const std::string drivePath =
      selected < 0 ? "" : m_session->Manager().GetDrivePath(static_cast<uint8_t>(selected));
  m_driveHold.Release();
  if (CRunLock::Refuses(m_driveHold.Take(DriveLockPath(drivePath)))) {
    // Not a drive fault: no notice box, the status says who has it or why
    // it cannot be locked.
    m_diagMode = 0;
    m_statusColor = kColorRed;
    SetText(IDC_STATUS, m_driveHold.Refusal(drivePath));
    return;
  }
  ScsiExchange enter;
  if (SetDiagnosticMode(kDiagnosticEnter, &enter)) {
    m_diagMode = 1;
    m_pollTimer.Start(kPollPeriodMs);
  } else {
    const int index = m_driveCombo->GetSelection();
    const std::string path =
        index < 0 ? "" : m_session->Manager().GetDrivePath(static_cast<uint8_t>(index));
    const std::string why = DescribeVendorCommandFailure(enter.hostError, path);
    std::fprintf(stderr, "velmo: %s: %s\n", path.c_str(),
                 why.empty() ? "the drive refuses the diagnostic mode; it is not one Velmo "
                               "can test (velmo --simulate shows a supported one)"
                             : why.c_str());
    m_prompts->DriveNotice(this);
    m_diagMode = 0;
  }
}

void CScanDlg::OnSelchangeDrive(wxCommandEvent&) {
  if (!m_session) return;
  const int index = m_driveCombo->GetSelection();
  if (index < 0) return;
  if (m_showingRecord) EndRecordView();
  {
    std::lock_guard<std::mutex> hold(m_driveLock);
    ++m_generation;
    m_session->Manager().SelectDrive(static_cast<uint8_t>(index));
    m_discIdentified = 0;
  }
  ResetDiscInfo();
  if (m_diagMode == 1) m_pollTimer.Stop();
  // No leave request to the drive we came from.
  EnterDiagnosticMode();
}

void CScanDlg::OnSelchangeSpeed(wxCommandEvent&) {
  const int index = m_speedCombo->GetSelection();
  if (index < 0 || index >= kMaxSpeedCodes) return;
  std::lock_guard<std::mutex> hold(g_discLock);
  m_speedCode = g_speedCodes[index];
}

void CScanDlg::OnSelchangeDensity(wxCommandEvent&) {
  switch (m_densityCombo->GetSelection()) {
    case 1:
      m_densityStep = kFullDensityStep;
      m_densityMode = kDensityFull;
      break;
    case 2:
      m_densityStep = kNormalDensityStep;
      m_densityMode = kDensityQuick;
      break;
    default:
      m_densityStep = kNormalDensityStep;
      m_densityMode = kDensityNormal;
      break;
  }
}

void CScanDlg::OnFeCheck(wxCommandEvent&) {
  m_showFeLimit = m_showFeLimit ? 0 : 1;
  if (m_graph != nullptr)
    m_graph->DrawLimitLine(SeriesIndex(ScanSeries::kFeLimit), kFeLimit, m_showFeLimit);
}

void CScanDlg::OnTeCheck(wxCommandEvent&) {
  m_showTeLimit = m_showTeLimit ? 0 : 1;
  if (m_graph != nullptr)
    m_graph->DrawLimitLine(SeriesIndex(ScanSeries::kTeLimit), kTeLimit, m_showTeLimit);
}

// Media poll.

void CScanDlg::OnTimer(wxTimerEvent&) {
  ReapStoppedScans();
  if (m_closing || !m_session) return;
  if (m_polling.exchange(true)) {
    ++m_pollsSkipped;
    return;
  }
  if (m_pollThread.joinable()) m_pollThread.join();  // done: m_polling was false
  uint64_t generation;
  {
    std::lock_guard<std::mutex> hold(m_driveLock);
    generation = m_generation;
  }
  ++m_pollsStarted;
  m_pollThread = std::thread(&CScanDlg::PollThreadProc, this, generation);
}

void CScanDlg::PollThreadProc(CScanDlg* dialog, uint64_t generation) {
  dialog->PollMedia(generation);
  dialog->m_polling = false;
}

void CScanDlg::PollMedia(uint64_t generation) {
  if (m_scanning == 1) return;
  auto current = [this, generation] { return m_generation == generation; };
  if (DriveNotReady()) {
    {
      std::lock_guard<std::mutex> hold(m_driveLock);
      if (!current()) return;
      m_discIdentified = 0;
    }
    CallAfter([this, generation] {
      std::lock_guard<std::mutex> hold(m_driveLock);
      if (m_generation == generation && !m_closing) ResetDiscInfo();
    });
    return;
  }
  if (m_discIdentified != 0) return;
  DiscView view = IdentifyDisc(m_diagMode == 1);
  {
    std::lock_guard<std::mutex> hold(m_driveLock);
    if (!current()) return;
    m_discIdentified = 1;
  }
  CallAfter([this, generation, view = std::move(view)] {
    {
      std::lock_guard<std::mutex> hold(m_driveLock);
      if (m_generation != generation || m_closing) return;
    }
    ApplyDiscView(view);
  });
}

// Scan run.

void CScanDlg::OnStart(wxCommandEvent&) {
  // One run at a time, and none without a chart and a drive.
  if (m_graph == nullptr || !m_session || m_closing) return;
  if (m_pScanThread && !m_pScanThread->Finished()) return;
  m_pScanThread.reset();
  // Another Velmo process writing this folder's log, or a log that cannot
  // be locked: no run, and the status says who has it or why.
  struct RunLocks {
    CRunLock log;
  };
  auto locks = std::make_shared<RunLocks>();
  std::string refusal;
  if (CRunLock::Refuses(locks->log.TakeLog(kLogFileName))) {
    refusal = locks->log.Refusal(kLogFileName);
  }
  // The drive itself is held since it was chosen (EnterDiagnosticMode).
  if (!refusal.empty()) {
    m_statusColor = kColorRed;
    SetText(IDC_STATUS, refusal);
    return;
  }
  if (m_showingRecord) EndRecordView();
  RecordRunStart();
  m_runKept = false;
  m_pScanThread = std::make_unique<CScanWorker>(
      m_settings, *m_graph, static_cast<ScanWindow&>(*this),
      [this](std::function<void()> update) { CallAfter(std::move(update)); }, kLogFileName);
  m_pScanThread->HoldUntilDone(std::move(locks));
  m_pScanThread->Start();
}

void CScanDlg::OnStop(wxCommandEvent&) {
  if (!m_pScanThread) return;
  // The worker may be waiting for the drive: it is let finish that command
  // on its own, and the window shows the abort now.
  m_pScanThread->RequestStop();
  KeepRunInHistory(m_pScanThread.get());
  m_stoppedScans.push_back(std::move(m_pScanThread));
  m_scanning = 0;
  EnableRunControls(true, false, true);
  m_statusColor = kColorRed;
  SetText(IDC_STATUS, "User abort!");
  SayHistoryProblem("User abort!");
}

void CScanDlg::ReapStoppedScans() {
  for (auto it = m_stoppedSmartScans.begin(); it != m_stoppedSmartScans.end();) {
    if ((*it)->Finished()) {
      (*it)->Join();
      it = m_stoppedSmartScans.erase(it);
    } else {
      ++it;
    }
  }
  for (auto it = m_stoppedScans.begin(); it != m_stoppedScans.end();) {
    if ((*it)->Finished()) {
      (*it)->Join();
      it = m_stoppedScans.erase(it);
    } else {
      ++it;
    }
  }
}

void CScanDlg::ShowLogOpenFailed() {
  KeepRunInHistory(m_pScanThread.get());
  m_prompts->Message(this, "Can't support to save log file.");
}

// The log could not take a line (disk full): the run ended without a
// verdict, so the window must not look as if it had one.
void CScanDlg::ShowLogWriteFailed() {
  std::weak_ptr<int> alive = m_alive;
  KeepRunInHistory(m_pScanThread.get());
  m_prompts->Message(this, "Can't support to save log file.");
  if (alive.expired()) return;
  ShowFinished();
  m_statusColor = kColorRed;
  SetText(IDC_STATUS, "Can't support to save log file.");
}

void CScanDlg::ShowRunStarted() {
  SetText(IDC_ELAPSED, " ");
  SetText(IDC_STATUS, m_startedByItself ? kStartedByItself : "Testing...");
  EnableKeepingFocus(m_layout.Control(IDC_STOP), true);
  EnableKeepingFocus(m_layout.Control(IDC_START), false);
  // Two workers at the drive at once is not a situation the drive supports.
  EnableKeepingFocus(m_layout.Control(IDC_SMART_SCAN), false);
}

// Who and what a run of the window is about: the selected drive, and the
// drive's disc as the last identification found it with the speed list.
RunStart CScanDlg::WindowRunStart() const {
  RunStart start;
  start.program = "velmo";
  start.startTime = CurrentIsoTime();
  if (m_session) {
    const uint8_t selected = m_session->Manager().GetSelected();
    if (selected != kNoDriveSelected) start.drive = RecordDriveOf(m_session->Manager(), selected);
  }
  std::vector<std::string> speeds;
  for (unsigned i = 0; i < m_speedCombo->GetCount(); ++i) {
    speeds.push_back(m_speedCombo->GetString(i).utf8_string());
  }
  int32_t lastLba = 0;
  {
    std::lock_guard<std::mutex> hold(g_discLock);
    lastLba = g_lastLba;
  }
  const DiscView view = StoredDiscInfo();
  start.disc = RecordDiscOf(view.discType.value_or("N/A"), view.manufacturerId.value_or("N/A"),
                            view.mediaTypeId.value_or("N/A"), view.capacity.value_or("N/A"),
                            lastLba, speeds);
  start.discType = g_discType.load();
  return start;
}

// A new run: what it starts from, with the speed and density it runs at.
void CScanDlg::RecordRunStart() {
  m_runStart = WindowRunStart();
  m_runSpeed = m_speedCode.load();
  const int density = m_densityCombo != nullptr ? m_densityCombo->GetSelection() : 0;
  m_runDensity =
      density >= 0 && density < kDensityChoiceCount ? &kDensityChoices[density] : nullptr;
  m_runElapsed = 0;
  m_hasRun = true;
  m_lastRecord.reset();
}

ScanRecord CScanDlg::RecordOfRun(const CScanWorker& worker) const {
  return ScanRunRecord(m_runStart, m_runSpeed, m_runDensity, kLogFileName, worker.Samples(),
                       worker.End(), m_runElapsed);
}

std::optional<ScanRecord> CScanDlg::LastRunRecord() const {
  if (m_lastRecord) return m_lastRecord;
  if (m_hasRun && m_pScanThread) return RecordOfRun(*m_pScanThread);
  return std::nullopt;
}

void CScanDlg::ShowElapsed(long seconds) {
  m_runElapsed = seconds;
  SetText(IDC_ELAPSED, std::to_string(seconds) + " seconds");
}

void CScanDlg::ShowSampleFailure(const RunEnd& end) {
  KeepRunInHistory(m_pScanThread.get());
  if (end.outcome == RunOutcome::kFirmwareFailure) {
    m_prompts->Message(this, "Firmware not supported.Please flash to latest version.");
    return;
  }
  // Any other cause is said as what it is: flashing the drive would not
  // help a scratched disc or a loose cable.
  std::string text = DescribeRunEnd(end.outcome, end.cause);
  text[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(text[0])));
  m_prompts->Message(this, text + ".");
}

void CScanDlg::ShowSampleFailureEnded(const RunEnd& end) {
  EnableKeepingFocus(m_layout.Control(IDC_START), true);
  EnableKeepingFocus(m_layout.Control(IDC_STOP), false);
  EnableKeepingFocus(m_layout.Control(IDC_SMART_SCAN), true);
  m_statusColor = kColorRed;
  const std::string status = RunEndStatus(end.outcome, end.cause);
  SetText(IDC_STATUS, status);
  SayHistoryProblem(status);
  EjectIfChosen();
}

void CScanDlg::ShowVerdict(ScanVerdict verdict) {
  const std::string text = VerdictText(verdict);
  std::weak_ptr<int> alive = m_alive;
  // Kept before the box: the run is whole, whatever the user does next.
  KeepRunInHistory(m_pScanThread.get());
  m_prompts->Message(this, text);
  if (alive.expired()) return;
  m_statusColor = VerdictColour(verdict);
  SetText(IDC_STATUS, text);
  SayHistoryProblem(text);
}

void CScanDlg::ShowFinished() {
  EnableKeepingFocus(m_layout.Control(IDC_START), true);
  EnableKeepingFocus(m_layout.Control(IDC_STOP), false);
  EnableKeepingFocus(m_layout.Control(IDC_SMART_SCAN), true);
  EjectIfChosen();
}

// Commands.

void CScanDlg::OnHelpAbout(wxCommandEvent&) { m_prompts->About(this); }

void CScanDlg::OnSmartScan(wxCommandEvent&) {
  if (!m_session || m_closing || m_scanning == 1) return;
  CSmartModeDlg dialog(nullptr, [this](std::unique_ptr<CSmartScanWorker> worker) {
    m_stoppedSmartScans.push_back(std::move(worker));
  });
  const std::string started = CurrentIsoTime();
  dialog.OnInitDialog();
  if (m_smartHook) {
    m_smartHook(dialog);
  } else {
    dialog.ShowModal();
  }
  KeepSmartRunInHistory(dialog, started);
}

void CScanDlg::OnFilePrint(wxCommandEvent&) {
  wxPrintDialogData data;
  data.SetAllPages(true);
  data.SetMinPage(1);
  data.SetMaxPage(1);
  data.EnablePageNumbers(false);
  data.EnablePrintToFile(false);
  data.EnableSelection(false);
  if (m_printHook) {
    m_printHook(data);
    return;
  }
  wxPrinter printer(&data);
  CLogPrintout printout(kLogFileName,
                        [this](const std::string& text) { m_prompts->Message(this, text); });
  printer.Print(nullptr, &printout, true);
}

void CScanDlg::OnFileSave(wxCommandEvent&) {
  std::string path;
  if (m_savePathHook) {
    if (!m_savePathHook(&path)) return;
  } else {
    wxFileDialog dialog(nullptr, "Save As", "", "TEFE", "Bitmap File (*.bmp)|*.bmp", wxFD_SAVE);
    if (dialog.ShowModal() != wxID_OK) return;
    path = dialog.GetPath().utf8_string();
  }
  path = WithBmpExtension(path);
  wxFileName written(wxString::FromUTF8(path));
  written.MakeAbsolute();
  path = written.GetFullPath().utf8_string();

  // Half a second for the file dialog to leave the screen; the window
  // repaints what it uncovered meanwhile, as the picture is read from the
  // screen. Window-system events only: no click reaches the window, and no
  // control is greyed for the wait (it would be in the picture).
  const wxLongLong until = wxGetLocalTimeMillis() + 500;
  while (wxGetLocalTimeMillis() < until) {
    if (wxEventLoopBase* loop = wxEventLoopBase::GetActive()) {
      loop->YieldFor(wxEVT_CATEGORY_UI);
    } else {
      wxYield();
    }
    wxMilliSleep(10);
  }
  Update();

  SnapshotResult result;
  result.failedStep = SnapshotStep::kDescribe;
  wxWindow* top = wxGetTopLevelParent(this);
  if (top == nullptr || SaveWindowBitmap(top, path, &result) == 0 || !result.Succeeded()) {
    m_prompts->Message(this, "Fail to save file.");
    return;
  }
  // The folder of the file written becomes the working directory (not the
  // folder the dialog showed: a full path typed there can name another
  // one). The next run's TEFE.txt goes there, and Print reads it from there.
  // Only once written: a folder that refused the picture would refuse the
  // next run's log too.
  const std::string folder = written.GetPath().utf8_string();
  if (!folder.empty() && wxDirExists(wxString::FromUTF8(folder))) {
    wxSetWorkingDirectory(wxString::FromUTF8(folder));
  }
  m_prompts->Message(this, "Save successfully.");
}

void CScanDlg::OnFileExit(wxCommandEvent&) { OnCancel(); }

void CScanDlg::OnCharHook(wxKeyEvent& event) {
  // Escape closes, as a dialog's Cancel; Enter never does.
  if (event.GetKeyCode() == WXK_ESCAPE) {
    OnCancel();
    return;
  }
  if (event.GetKeyCode() == WXK_RETURN || event.GetKeyCode() == WXK_NUMPAD_ENTER) {
    wxWindow* focus = wxWindow::FindFocus();
    if (dynamic_cast<wxButton*>(focus) == nullptr) return;
  }
  event.Skip();
}

void CScanDlg::OnCancel() { Close(); }

void CScanDlg::OnSimEject(wxCommandEvent&) {
  if (!m_session) return;
  m_session->EjectSimDisc(m_session->Manager().GetSelected());
}

void CScanDlg::OnSimInsert(wxCommandEvent& event) {
  if (!m_session) return;
  const size_t index = static_cast<size_t>(event.GetId() - kSimInsertFirstId);
  m_session->InsertSimDisc(m_session->Manager().GetSelected(), index,
                           std::chrono::milliseconds(800));
}

void CScanDlg::StopWorkers() {
  m_pollTimer.Stop();
  // A worker waiting for a box would otherwise never be joined.
  {
    std::lock_guard<std::mutex> hold(m_boxGate->lock);
    m_boxGate->closing = true;
  }
  m_boxGate->changed.notify_all();
  if (m_pScanThread) {
    m_pScanThread->RequestStop();
    // A run ended by closing (or by a signal, which closes) is kept as
    // stopped, as STOP keeps it, once its pending command has returned.
    if (m_closing && !m_runKept) {
      m_pScanThread->Join();
      KeepRunInHistory(m_pScanThread.get());
    }
    m_stoppedScans.push_back(std::move(m_pScanThread));
  }
  for (auto& worker : m_stoppedScans) worker->RequestStop();
  for (auto& worker : m_stoppedScans) worker->Join();
  m_stoppedScans.clear();
  m_stoppedSmartScans.clear();  // each joins its thread
  if (m_pollThread.joinable()) m_pollThread.join();
}

void CScanDlg::OnClose(wxCloseEvent&) {
  if (m_closing) return;
  {
    std::lock_guard<std::mutex> hold(m_driveLock);
    m_closing = true;
  }
  // The window goes at once, and nothing is shown after it has gone; the
  // process still waits for the pending command (bounded by its time-out).
  m_alive.reset();
  Hide();
  if (GdkDisplay* display = gdk_display_get_default()) gdk_display_flush(display);
  // Every worker ends before the drive leaves its diagnostic mode and the
  // device manager goes.
  StopWorkers();
  if (m_diagMode == 1 && m_session) SetDiagnosticMode(kDiagnosticLeave);
  m_driveHold.Release();
  m_session.reset();
  g_pDeviceManager = nullptr;
  m_alive.reset();
  Destroy();
}
