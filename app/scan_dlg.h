// The test console: the program's one window. It owns the drive session (the
// device manager), fills the drive list, puts the selected drive into its
// diagnostic mode, runs the 600 ms media poll, shows what the identification
// found, and sends its buttons and menu to the run, printing, saving, Smart
// Scan and About.
//
// Threads: every method runs on the UI thread except PollMedia (the poll
// worker). Workers never touch a control: they hand their results over with
// CallAfter, tagged with the drive generation so that nothing of a drive the
// user has left reaches the window. Close stops and joins every worker
// before the device manager goes.
//
// Its files: scan_dlg.cpp (building it, the run, closing), scan_dlg_drive.cpp
// (the drive, the poll), scan_dlg_files.cpp (Save, printing, reports),
// scan_dlg_records.cpp (recorded runs, the history), run_menu.cpp (the Run
// menu, the lab history). The account of its runs is CRunBook; whatever it asks a person goes
// through UserPrompts.
#pragma once

#include <wx/frame.h>
#include <wx/timer.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app/dialog_layout.h"
#include "app/lab_push.h"
#include "app/lab_settings.h"
#include "app/run_book.h"
#include "app/run_choices.h"
#include "app/scan_worker.h"
#include "app/smart_mode_dlg.h"
#include "app/user_prompts.h"
#include "console/disc_identification.h"
#include "console/scan_run.h"
#include "console/spindle_tally.h"
#include "device/thread_annotations.h"
#include "records/run_record.h"
#include "records/scan_record.h"
#include "session/drive_session.h"
#include "session/run_lock.h"
#include "session/run_options.h"

class CDriveInfoDlg;
class CGraphCtrl;
class CHistoryDlg;
class wxCheckBox;
class wxScrolledWindow;
class wxChoice;
class wxPanel;
class CSunkenText;

inline constexpr int kPollTimerId = 1;
inline constexpr int kPollPeriodMs = 600;
// The status line of a run the Run menu's autostart began.
inline constexpr char kStartedByItself[] =
    "Testing... (started by itself: a blank disc was inserted)";

class CScanDlg : public wxFrame, private ScanWindow {
 public:
  CScanDlg(const RunOptions& options, std::unique_ptr<UserPrompts> prompts);
  ~CScanDlg() override;

  // Start-up once the window exists: device manager, drive list, density
  // list, diagnostic mode, timer, chart. False when the device manager could
  // not be set up (the window stays, with nothing to run).
  bool OnInitDialog();

  // True when a system-menu command id means About (its low four bits are
  // ignored).
  static bool IsAboutCommand(unsigned commandId);

  // What tests and the simulator menu look at.
  bool Scanning() const { return m_scanning.load() != 0; }
  const CScanWorker* ScanWorker() const { return m_pScanThread.get(); }
  int StoppedScans() const { return static_cast<int>(m_stoppedScans.size()); }
  int StoppedSmartScans() const { return static_cast<int>(m_stoppedSmartScans.size()); }
  // The last run started here as its record (a run still going reads as
  // stopped so far); an empty optional before the first.
  std::optional<ScanRecord> LastRunRecord() const;
  const RunChoices& Choices() const { return m_runChoices; }
  const CDialogLayout& Layout() const { return m_layout; }
  CGraphCtrl* Graph() const { return m_graph; }
  bool DiagMode() const { return m_diagMode.load() != 0; }
  bool Polling() const { return m_pollTimer.IsRunning(); }
  int PollsStarted() const { return m_pollsStarted.load(); }
  int PollsSkipped() const { return m_pollsSkipped.load(); }
  CDriveSession* Session() { return m_session.get(); }
  // The discs the Run menu's unattended runs have seen, and what the last
  // one came to ("ok", "skipped: not testable", ...; empty before the first).
  const SpindleTally& Spindle() const { return m_spindle; }
  const std::string& LastDisc() const { return m_lastDisc; }
  void SetStatusColor(uint32_t colour) { m_statusColor = colour; }

  // Closing: Escape, the close box and File, Exit all come here.
  void OnCancel();

  // Recorded runs (scan_dlg_records.cpp).
  // Shows a record file's run without touching the drive; false with
  // *error when the file is no record this program reads.
  bool OpenRecord(const std::string& path, std::string* error);
  // The same, saying why in a box when it cannot (File, Open Record..., a
  // file dropped on the window, velmo RECORD.json).
  void OpenRecordOrSay(const std::string& path);
  bool ShowingRecord() const { return m_book.Showing(); }
  // The recorded run's chart, in the place of Graph() while one is shown;
  // null before the first.
  CGraphCtrl* RecordGraph() const { return m_recordGraph; }
  // File, History...'s window while it is open.
  CHistoryDlg* HistoryWindow() const { return *m_history; }
  // File, Drive Information...'s dialog while it is open.
  CDriveInfoDlg* DriveInfoWindow() const { return *m_driveInfo; }
  // What the last history write said, if it failed (said once).
  const std::string& HistoryProblem() const { return m_book.Problem(); }
  // The lab history this session reads and sends its runs to (no URL: none).
  const LabChoice& LabHistory() const { return m_lab; }
  // The pushes to it that have ended, and the last one's outcome.
  int LabPushesEnded() const { return m_labPushesEnded; }
  const LabPush& LastLabPush() const { return m_lastLabPush; }

 private:
  void BuildMenu();
  void BuildSimulatorMenu();
  void AddReportMenuItems();
  void AddHelpContentsItem();
  std::vector<ScanRecord> RunsToReport() const;
  // Export Report's file dialog for these runs (several: a comparison).
  void ExportReportOf(const std::vector<ScanRecord>& runs);
  void BuildRecordMenu();
  void BuildDriveInfoMenu();  // drive_info_dlg.cpp
  void OnDriveInfoMenu(wxCommandEvent& event);
  void OnFileOpenRecord(wxCommandEvent& event);
  void OnFileHistory(wxCommandEvent& event);
  void ShowRecord(const ScanRecord& record, const std::string& name);
  // The record's fields, lists, chart, elapsed time and verdict in the
  // window; what the window showed of the drive's disc is kept first.
  void PutRecordInWindow(const ScanRecord& record, const std::string& name);
  void OnDropFiles(wxDropFilesEvent& event);
  // Leaves the recorded run's view (START, Smart Scan, another drive, a disc
  // taken out or put in where one was shown): the window shows exactly what
  // it showed before, so the speed shown is the one sent.
  void EndRecordView();
  void KeepDriveView();
  void RestoreDriveView();
  // Keeps the current (or just stopped) run in the history, once per run.
  RunStart WindowRunStart() const;
  void KeepRunInHistory(const CScanWorker* worker);
  // The same for a Smart Scan whose report has closed.
  void KeepSmartRunInHistory(const CSmartModeDlg& dialog, const std::string& started);
  // Adds a history failure not yet said to the status line's text.
  void SayHistoryProblem(const std::string& status);
  // The View menu and the window on a short screen (window_view.cpp).
  void BuildViewMenu();
  ScanChartRange ChartRangeChoice() const;
  wxWindow* ContentHost(const wxSize& content);
  void FitToScreen();
  // The Run menu (run_menu.cpp): unattended runs.
  void BuildRunMenu();
  void OnRunMenu(wxCommandEvent& event);
  // Run, Lab History…: set or clear the settings file's lab history.
  void OnLabHistoryMenu(wxCommandEvent& event);
  // The lab history of the options, the environment or the settings; one
  // that is no URL is said and not used.
  void ChooseLab();
  // The runs kept here and not yet in the lab history sent there, in the
  // background (at each run's start and after each is kept).
  void PushToLab();
  void OnLabPushed(wxThreadEvent& event);
  void StartIfChosen();
  // While a Run menu choice acts by itself, the title says so:
  // "unattended: reports to FOLDER"; empty when none is on.
  std::string UnattendedText() const;
  // The title: a run's progress first, the window's own title (or the
  // recorded run's), then what acts unattended.
  void RefreshTitle();
  // A disc the run cannot take, identified while autostart is on: ejected
  // and counted as skipped with Eject when done, else left with the status
  // saying why nothing starts.
  void SkipUntestableDisc(const DiscView& view);
  // A run started by itself has ended: counted in the spindle's tally.
  void CountSpindleRun();
  void SetReportMenuLabel();
  void ShowSpindle();
  // True for a run the Run menu started: nobody is at the window, so what
  // would be a box goes to the status line (and the history) alone.
  bool NobodyToAsk() const { return m_startedByItself; }
  void EjectIfChosen();  // after the report of every run, where one is chosen
  void SaveReportIfChosen();
  bool InitDeviceManager();
  void InitDensityCombo();
  void ResetDiscInfo();
  void ApplyDiscView(const DiscView& view);
  void EnterDiagnosticMode();
  void StopWorkers();

  // Poll worker.
  static void PollThreadProc(CScanDlg* dialog, uint64_t generation);
  void PollMedia(uint64_t generation) EXCLUDES(m_driveLock);

  // Handlers.
  void OnClose(wxCloseEvent& event);
  void OnCharHook(wxKeyEvent& event);
  void OnHelpAbout(wxCommandEvent& event);
  void OnFilePrint(wxCommandEvent& event);
  void OnFileSave(wxCommandEvent& event);
  void OnFileExit(wxCommandEvent& event);
  void OnExportReport(wxCommandEvent& event);
  void OnPrintReport(wxCommandEvent& event);
  void OnSelchangeDrive(wxCommandEvent& event) EXCLUDES(m_driveLock);
  void OnSelchangeSpeed(wxCommandEvent& event);
  void OnSelchangeDensity(wxCommandEvent& event);
  void OnTimer(wxTimerEvent& event) EXCLUDES(m_driveLock);
  void OnStart(wxCommandEvent& event);
  // byItself: the Run menu's autostart, not a person, starts it. part: a
  // part of the disc, or the readings of the run earlierRunId it goes on from.
  void StartRun(bool byItself, ScanPart part = {}, const std::string& earlierRunId = {});
  // Run, Scan a Part of the Disc… and Run, Resume the Last Run (run_part.cpp).
  void OnRunPartMenu(wxCommandEvent& event);
  void OnRunResumeMenu(wxCommandEvent& event);
  void OnStop(wxCommandEvent& event);
  void OnFeCheck(wxCommandEvent& event);
  void OnTeCheck(wxCommandEvent& event);
  void OnSmartScan(wxCommandEvent& event);
  void OnSimInsert(wxCommandEvent& event);
  void OnSimEject(wxCommandEvent& event);

  // ScanWindow: the run's updates, on the UI thread.
  void ShowLogOpenFailed() override;
  void ShowLogWriteFailed() override;
  void ShowRunStarted() override;
  void ShowElapsed(long seconds) override;
  void ShowSampleFailure(const RunEnd& end) override;
  void ShowSampleFailureEnded(const RunEnd& end) override;
  void ShowVerdict(ScanVerdict verdict) override;
  void ShowFinished() override;
  void ShowSample(int32_t lba, uint16_t te, uint16_t fe) override;
  // The run has ended: its progress leaves the title.
  void EndProgress();
  void RecordRunStart();
  void SetScanning(bool scanning) override { m_scanning = scanning ? 1 : 0; }
  void ReapStoppedScans();

  void EnableRunControls(bool start, bool stop, bool others);
  void SetText(int id, const std::string& text);

  RunOptions m_options;
  std::unique_ptr<UserPrompts> m_prompts;
  wxPanel* m_panel = nullptr;
  // The panel's parent on a screen shorter than the window; null otherwise.
  wxScrolledWindow* m_scroller = nullptr;
  wxSize m_shortScreenSize;
  CDialogLayout m_layout;

  // Controls of the template, by their roles.
  wxCheckBox* m_teCheck = nullptr;
  wxCheckBox* m_feCheck = nullptr;
  wxChoice* m_densityCombo = nullptr;
  wxChoice* m_speedCombo = nullptr;
  wxChoice* m_driveCombo = nullptr;
  CSunkenText* m_status = nullptr;

  uint32_t m_statusColor = 0;  // for the status line's next painting only
  CGraphCtrl* m_graph = nullptr;
  // A recorded run is drawn here, over the live chart's place, so the live
  // chart keeps its range and curves while one is shown.
  CGraphCtrl* m_recordGraph = nullptr;
  // What the window showed of the drive's disc when a recorded run took its
  // place: control texts by id, the lists' entries and selections.
  struct DriveView {
    std::vector<std::pair<int, std::string>> texts;
    std::string manufacturerTip;
    std::vector<std::string> speedEntries;
    int speedSelection = -1;
    bool speedEnabled = true;
    int densitySelection = -1;
    bool densityEnabled = true;
  };
  DriveView m_driveView;
  std::string m_recordName;  // the shown record's file or history name
  std::string m_baseTitle;   // the template's title, or the shown record's
  // The running scan's progress (UI thread): empty when none runs.
  std::string m_progressText;
  int m_expectedSamples = 0;
  int m_samplesDone = 0;
  std::chrono::steady_clock::time_point m_runBegan;
  SpindleTally m_spindle;
  std::string m_lastDisc;
  // The disc fields show an identified disc (UI thread): its removal or
  // replacement ends a recorded run's view, the first disc found does not.
  bool m_discShown = false;
  std::atomic<int> m_discIdentified{0};
  std::atomic<int> m_diagMode{0};
  // The selected real drive, held while the window uses it: another Velmo
  // process's commands must not interleave with the poll's or a run's.
  CRunLock m_driveHold;
  // The run's choices, read by the scan worker at each sample.
  ScanSettings m_settings;
  std::atomic<SpeedCode>& m_speedCode = m_settings.speedCode;
  std::atomic<int32_t>& m_densityStep = m_settings.densityStep;
  std::atomic<uint8_t>& m_densityMode = m_settings.densityMode;
  std::atomic<uint8_t>& m_showFeLimit = m_settings.showFeLimit;
  std::atomic<uint8_t>& m_showTeLimit = m_settings.showTeLimit;
  std::atomic<int> m_scanning{0};

  // The running scan worker; stopped ones wait in m_stoppedScans for their
  // pending command to return and are joined then.
  std::unique_ptr<CScanWorker> m_pScanThread;
  std::vector<std::unique_ptr<CScanWorker>> m_stoppedScans;
  // Smart Scan workers whose dialog closed while a sample was pending.
  std::vector<std::unique_ptr<CSmartScanWorker>> m_stoppedSmartScans;
  // The runs started here and the recorded run shown.
  CRunBook m_book;
  // The open History window, or null; shared with its destroy handler.
  std::shared_ptr<CHistoryDlg*> m_history = std::make_shared<CHistoryDlg*>(nullptr);
  // The open Drive Information dialog, or null, and the worker reading for it.
  std::shared_ptr<CDriveInfoDlg*> m_driveInfo = std::make_shared<CDriveInfoDlg*>(nullptr);
  std::thread m_factsThread;
  // UI thread: the drive's facts, read with its disc's identification and
  // kept in the record of each run on it.
  std::optional<DriveFacts> m_driveFacts;
  RunChoices m_runChoices;
  LabChoice m_lab;
  CLabPusher m_labPusher{this};
  LabPush m_lastLabPush;
  int m_labPushesEnded = 0;
  bool m_startedByItself = false;  // the running scan was started by a disc, not START

  std::unique_ptr<CDriveSession> m_session;
  wxTimer m_pollTimer;

  // The poll worker. m_polling is true from the tick that starts a poll
  // until the poll is done; a tick that finds it true is skipped.
  std::thread m_pollThread;
  std::atomic<bool> m_polling{false};
  std::atomic<int> m_pollsStarted{0};
  std::atomic<int> m_pollsSkipped{0};
  // Bumped by every drive change; m_discIdentified is changed under it so a
  // poll of the previous drive cannot mark the new one identified.
  Mutex m_driveLock;
  uint64_t m_generation GUARDED_BY(m_driveLock) = 0;
  bool m_closing = false;  // UI thread
  int m_menusOpen = 0;     // menus of the bar shown now (submenus count too)
  // Lets a call that ran a modal loop tell whether the window outlived it.
  std::shared_ptr<int> m_alive = std::make_shared<int>(0);
  // Workers waiting for a box on the UI thread; closing releases them all.
  struct BoxGate {
    std::mutex lock;
    std::condition_variable changed;
    bool closing = false;
  };
  std::shared_ptr<BoxGate> m_boxGate = std::make_shared<BoxGate>();

  wxDECLARE_EVENT_TABLE();
};
