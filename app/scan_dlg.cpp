#include "app/scan_dlg.h"

#include <wx/accel.h>
#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/choice.h>
#include <wx/menu.h>
#include <wx/panel.h>
#include <wx/statbmp.h>

#include <gdk/gdk.h>
#include <gtk/gtk.h>

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "app/app_art.h"
#include "app/command_ids.h"
#include "app/hyper_link.h"
#include "app/sunken_text.h"
#include "chart/graph_ctrl.h"
#include "chart/scan_series.h"
#include "commands/disc_globals.h"
#include "commands/drive_commands.h"
#include "console/run_progress.h"
#include "history/history.h"
#include "links/manual_address.h"
#include "records/media_codes.h"
#include "records/run_end_text.h"
#include "records/run_identity.h"
#include "res/resource_ids.h"
#include "session/output_file.h"
#include "session/run_lock.h"
#include "session/sim_catalogue.h"

namespace {

constexpr int kExportReportId = 0x4F00;
constexpr int kPrintReportId = 0x4F01;
constexpr int kHelpContentsId = 0x4F02;
constexpr int kSimEjectId = 0x5000;
constexpr int kSimInsertFirstId = 0x5001;
constexpr int kSimInsertLastId = 0x5063;

wxColour PenColourOf(uint32_t colorref) {
  return wxColour(colorref & 0xFF, (colorref >> 8) & 0xFF, (colorref >> 16) & 0xFF);
}

// True while a menu or a list's popup is open: GTK holds a grab for it (or
// the menu bar has an item selected), and the Escape is its own to close it.
bool PopupOpen(wxFrame* frame) {
  if (gtk_grab_get_current() != nullptr) return true;
  wxMenuBar* bar = frame->GetMenuBar();
  GtkWidget* shell = bar != nullptr ? bar->GetHandle() : nullptr;
  return shell != nullptr && GTK_IS_MENU_SHELL(shell) &&
         gtk_menu_shell_get_selected_item(GTK_MENU_SHELL(shell)) != nullptr;
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
      m_baseTitle(kScanDialogTemplate.title),
      m_book(options.noHistory ? "" : DefaultHistoryPath()),
      m_pollTimer(this, kPollTimerId) {
  ResetDiscGlobals();
  m_densityStep = 0;
  // The window never waits on an output: a FIFO nobody reads fails its open
  // at once, and the box that follows names it.
  SetOutputReaderWait([](const std::string&) { return false; });
  SetIcons(MakeAppIcons());

  m_panel = new wxPanel(ContentHost(CDialogLayout::ClientSizeOf(kScanDialogTemplate)), wxID_ANY,
                        wxDefaultPosition, wxDefaultSize, wxTAB_TRAVERSAL);
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
    m_layout.Control(id)->SetForegroundColour(PenColourOf(kTeColour));
  for (int id : {IDC_FE_LEGEND, IDC_FE_CHECK})
    m_layout.Control(id)->SetForegroundColour(PenColourOf(kFeColour));
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
  AddHelpContentsItem();
  BuildRecordMenu();
  BuildDriveInfoMenu();
  BuildRunMenu();
  BuildViewMenu();
  if (m_options.simulate) BuildSimulatorMenu();
  // Choices kept from an earlier launch act from the start: said at once.
  RefreshTitle();
  // Printing the log has no menu item; Ctrl+P reaches it.
  wxAcceleratorEntry print(wxACCEL_CTRL, 'P', ToWxId(ID_FILE_PRINT));
  SetAcceleratorTable(wxAcceleratorTable(1, &print));
  Bind(wxEVT_MENU_OPEN, [this](wxMenuEvent& event) {
    ++m_menusOpen;
    event.Skip();
  });
  Bind(wxEVT_MENU_CLOSE, [this](wxMenuEvent& event) {
    if (m_menusOpen > 0) --m_menusOpen;
    event.Skip();
  });
  SetClientSize(m_layout.ClientSize());
  m_panel->SetSize(m_layout.ClientSize());
  ShowSpindle();
  FitToScreen();
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
      wxString text = wxString::FromUTF8(item.text);
      // Ctrl+Q quits as on the rest of the desktop, through Exit itself.
      if (item.id == ID_FILE_EXIT) text += "\tCtrl+Q";
      popup->Append(ToWxId(item.id), text);
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

// The manual, first in Help: opened as the About dialog's links are.
void CScanDlg::AddHelpContentsItem() {
  wxMenu* help = nullptr;
  if (GetMenuBar()->FindItem(ToWxId(ID_HELP_ABOUT), &help) == nullptr) return;
  help->Insert(0, kHelpContentsId, "&Contents");
  Bind(
      wxEVT_MENU,
      [this](wxCommandEvent&) {
        const int result = CHyperLink::s_open(ManualAddress());
        if (result <= 32) CHyperLink::s_showOpenError(this, result);
      },
      kHelpContentsId);
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
  // A picture, as the frame it stands for: no tab stop.
  m_graph->DisableFocusFromKeyboard();
  AddScanSeries(*m_graph);
  SetScanChartRange(*m_graph, ChartRangeChoice());
  SetText(IDC_TE_LEGEND, "---");
  SetText(IDC_FE_LEGEND, "---");
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
  if (id == IDC_STATUS) m_prompts->StatusShown(text);
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

void CScanDlg::OnSelchangeSpeed(wxCommandEvent&) {
  // A recorded run's list is not the drive's disc's: its entries are no
  // index into g_speedCodes.
  if (m_book.Showing()) return;
  const int index = m_speedCombo->GetSelection();
  if (index < 0 || index >= kMaxSpeedCodes) return;
  std::lock_guard<std::mutex> hold(g_discLock);
  m_speedCode = g_speedCodes[index];
}

void CScanDlg::OnSelchangeDensity(wxCommandEvent&) {
  if (m_book.Showing()) return;  // the recorded run's density, not a choice
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
  for (CGraphCtrl* graph : {m_graph, m_recordGraph}) {
    if (graph != nullptr)
      graph->DrawLimitLine(SeriesIndex(ScanSeries::kFeLimit), kFeLimit, m_showFeLimit);
  }
}

void CScanDlg::OnTeCheck(wxCommandEvent&) {
  m_showTeLimit = m_showTeLimit ? 0 : 1;
  for (CGraphCtrl* graph : {m_graph, m_recordGraph}) {
    if (graph != nullptr)
      graph->DrawLimitLine(SeriesIndex(ScanSeries::kTeLimit), kTeLimit, m_showTeLimit);
  }
}

// Scan run.

void CScanDlg::OnStart(wxCommandEvent&) { StartRun(false); }

void CScanDlg::StartRun(bool byItself, ScanPart part, const std::string& earlierRunId) {
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
  if (m_book.Showing()) EndRecordView();
  m_startedByItself = byItself;
  RecordRunStart();
  m_book.SetPart(part, earlierRunId);
  m_pScanThread = std::make_unique<CScanWorker>(
      m_settings, *m_graph, static_cast<ScanWindow&>(*this),
      [this](std::function<void()> update) { CallAfter(std::move(update)); }, kLogFileName);
  m_pScanThread->SetPart(std::move(part));
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
  EndProgress();
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
  if (NobodyToAsk()) {
    m_statusColor = kColorRed;
    SetText(IDC_STATUS, "Can't support to save log file.");
    return;
  }
  m_prompts->Message(this, "Can't support to save log file.");
}

// The log could not take a line (disk full): the run ended without a
// verdict, so the window must not look as if it had one.
void CScanDlg::ShowLogWriteFailed() {
  EndProgress();
  std::weak_ptr<int> alive = m_alive;
  KeepRunInHistory(m_pScanThread.get());
  if (!NobodyToAsk()) m_prompts->Message(this, "Can't support to save log file.");
  if (alive.expired()) return;
  ShowFinished();
  m_statusColor = kColorRed;
  SetText(IDC_STATUS, "Can't support to save log file.");
}

void CScanDlg::ShowRunStarted() {
  {
    std::lock_guard<std::mutex> hold(g_discLock);
    m_expectedSamples = CountScanSamples(m_densityMode.load(), m_densityStep.load(),
                                         g_discType.load(), g_lastLba, m_book.Part());
  }
  m_samplesDone = 0;
  m_runBegan = std::chrono::steady_clock::now();
  m_progressText = "0%";
  RefreshTitle();
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
    if (selected != kNoDriveSelected) {
      start.drive = RecordDriveOf(m_session->Manager(), selected);
      start.drive.facts = m_driveFacts;
    }
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
  start.disc.layer0Sectors = StoredLayer0Sectors();
  start.discType = g_discType.load();
  return start;
}

// A new run: what it starts from, with the speed and density it runs at.
void CScanDlg::RecordRunStart() {
  const int density = m_densityCombo != nullptr ? m_densityCombo->GetSelection() : 0;
  m_book.Begin(WindowRunStart(), m_speedCode.load(),
               density >= 0 && density < kDensityChoiceCount ? &kDensityChoices[density] : nullptr);
  PushToLab();
}

std::optional<ScanRecord> CScanDlg::LastRunRecord() const {
  if (!m_pScanThread) return m_book.LastRun(nullptr, nullptr);
  const std::vector<ScanSample> samples = m_pScanThread->Samples();
  const RunEnd end = m_pScanThread->End();
  return m_book.LastRun(&samples, &end);
}

// Percent, samples and time left, as velmo-cli's progress line counts them.
void CScanDlg::ShowSample(int32_t, uint16_t, uint16_t) {
  if (m_progressText.empty()) return;
  const double spent =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - m_runBegan).count();
  const ScanProgress progress = ProgressOf(++m_samplesDone, m_expectedSamples, spent);
  m_progressText = std::to_string(progress.percent) + "% (" + std::to_string(progress.done) + "/" +
                   std::to_string(progress.total) + ", " + ProgressClock(progress.secondsLeft) +
                   " left)";
  RefreshTitle();
}

void CScanDlg::EndProgress() {
  if (m_progressText.empty()) return;
  m_progressText.clear();
  RefreshTitle();
}

void CScanDlg::RefreshTitle() {
  std::string title = m_baseTitle;
  if (!m_progressText.empty()) title = m_progressText + " - " + title;
  const std::string unattended = UnattendedText();
  if (!unattended.empty()) title += " - " + unattended;
  const wxString shown = wxString::FromUTF8(title);
  if (GetTitle() != shown) SetTitle(shown);
}

void CScanDlg::ShowElapsed(long seconds) {
  m_book.SetElapsed(seconds);
  SetText(IDC_ELAPSED, std::to_string(seconds) + " seconds");
}

void CScanDlg::ShowSampleFailure(const RunEnd& end) {
  KeepRunInHistory(m_pScanThread.get());
  // The status line says it next (ShowSampleFailureEnded).
  if (NobodyToAsk()) return;
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
  EndProgress();
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
  EndProgress();
  const std::string text = VerdictText(verdict);
  std::weak_ptr<int> alive = m_alive;
  // Kept before the box: the run is whole, whatever the user does next.
  KeepRunInHistory(m_pScanThread.get());
  if (!NobodyToAsk()) m_prompts->Message(this, text);
  if (alive.expired()) return;
  m_statusColor = VerdictColour(verdict);
  SetText(IDC_STATUS, text);
  SayHistoryProblem(text);
}

void CScanDlg::ShowFinished() {
  EndProgress();
  EnableKeepingFocus(m_layout.Control(IDC_START), true);
  EnableKeepingFocus(m_layout.Control(IDC_STOP), false);
  EnableKeepingFocus(m_layout.Control(IDC_SMART_SCAN), true);
  EjectIfChosen();
}

// Commands.

void CScanDlg::OnHelpAbout(wxCommandEvent&) { m_prompts->About(this); }

void CScanDlg::OnSmartScan(wxCommandEvent&) {
  if (!m_session || m_closing || m_scanning == 1) return;
  if (m_book.Showing()) EndRecordView();  // it runs on the drive's disc
  CSmartModeDlg dialog(nullptr, [this](std::unique_ptr<CSmartScanWorker> worker) {
    m_stoppedSmartScans.push_back(std::move(worker));
  });
  const std::string started = CurrentIsoTime();
  PushToLab();
  dialog.OnInitDialog();
  m_prompts->SmartDialog(dialog);
  KeepSmartRunInHistory(dialog, started);
  // The answer stays in view once its report has closed; a run closed
  // before its end has none, and the status keeps what it said.
  if (!dialog.Answer().empty() && !m_closing) {
    m_statusColor = dialog.AnswerColour();
    SetText(IDC_STATUS, dialog.Answer());
    SayHistoryProblem(dialog.Answer());
  }
}

void CScanDlg::OnFileExit(wxCommandEvent&) { OnCancel(); }

void CScanDlg::OnCharHook(wxKeyEvent& event) {
  // Escape closes, as a dialog's Cancel; Enter never does. An open menu
  // or list takes its Escape first, and only that Escape.
  if (event.GetKeyCode() == WXK_ESCAPE) {
    if (m_menusOpen > 0 || PopupOpen(this)) {
      event.Skip();
      return;
    }
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
  // A push that waits for the server ends now; its runs wait for the next.
  m_labPusher.Stop();
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
    if (m_closing && !m_book.Kept()) {
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
  if (m_factsThread.joinable()) m_factsThread.join();
}

void CScanDlg::OnClose(wxCloseEvent&) {
  if (m_closing) return;
  {
    MutexLock hold(m_driveLock);
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
