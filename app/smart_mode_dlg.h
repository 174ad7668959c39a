// Smart Mode Report: one TE/FE sample on the outer track per write speed of
// the disc, with a verdict per row. The measurement runs on a worker of its
// own; Exit, Escape and the close box stop it at once without waiting for a
// sample still with the drive. A worker stopped that way is handed to the
// main window, which joins it once its command has returned.
//
// UI thread only; the worker reaches the dialog through CallAfter.
#pragma once

#include <wx/dialog.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app/dialog_layout.h"
#include "console/smart_scan.h"
#include "records/scan_record.h"

class wxGauge;
class wxListCtrl;
class wxStaticText;

inline constexpr uint32_t kResultTextBackground = 0xDEB38B;  // RGB(139, 179, 222)

// A Smart Scan's answer as the window says it: "Fit for writing up to 10X."
// or "No write speed is fit for writing." after a verdict, else why the run
// has none (the first failed row's cause, or the stop).
std::string SmartAnswerLine(RunOutcome outcome, const RunCause& cause,
                            const std::optional<SpeedCode>& fitSpeed);
// The same for a kept run.
std::string SmartAnswerLine(const ScanRecord& record);

// The measurement on its thread: the run, the sink that posts to the
// dialog, and the thread. Outlives the dialog when stopped early.
// The rows as the worker ends them, for the run's record: one entry a row,
// empty until its sample is done.
struct SmartReadings {
  std::mutex lock;
  std::vector<std::optional<SmartRowEnd>> rows;
};

class CSmartScanWorker {
 public:
  CSmartScanWorker(std::vector<SpeedCode> rows, wxEvtHandler& dialog,
                   std::function<void(int row, const std::string&)> rowText,
                   std::function<void(int rows)> started, std::function<void()> stepped,
                   std::shared_ptr<SmartReadings> readings = nullptr);
  ~CSmartScanWorker();
  void Start();
  void RequestStop();  // no row changes after this returns
  bool Finished() const { return m_run.Finished(); }
  void Join();

 private:
  class Sink;
  std::unique_ptr<Sink> m_sink;
  CSmartScanRun m_run;
  std::thread m_thread;
};

class CSmartModeDlg : public wxDialog {
 public:
  // stoppedWorker receives the worker when the dialog closes before it
  // finished; the caller joins it later.
  CSmartModeDlg(wxWindow* parent,
                std::function<void(std::unique_ptr<CSmartScanWorker>)> stoppedWorker);
  ~CSmartModeDlg() override;

  bool OnInitDialog();
  void OnCancel();
  // Instead of OnInitDialog: a recorded Smart Scan in the report's layout,
  // without a worker or the drive, marked as recorded in the title.
  void ShowRecord(const ScanRecord& record);

  const CDialogLayout& Layout() const { return m_layout; }
  wxListCtrl* ResultList() const { return m_resultList; }
  wxGauge* Progress() const { return m_progress; }
  bool WorkerRunning() const { return m_pWorkerThread && !m_pWorkerThread->Finished(); }
  // The rows of this run and the readings taken so far (for its record).
  const std::vector<SpeedCode>& SpeedRows() const { return m_speedRows; }
  const std::shared_ptr<SmartReadings>& Readings() const { return m_readings; }
  // The run's answer under the list once every row has ended (empty before);
  // its colour is the main window's status colour for it.
  const std::string& Answer() const { return m_answerText; }
  uint32_t AnswerColour() const { return m_answerColour; }
  wxStaticText* AnswerLine() const { return m_answer; }

 private:
  void InitResultList();
  void ShowDiscInfo();
  // Grows the list (and the dialog below it) so that rows rows show
  // without scrolling.
  void FitListToRows(int rows);
  // Moves what lies below the list down by grow pixels, growing the list's
  // group box and the dialog with it.
  void GrowBelowList(int grow);
  // The answer line, once every row of the live run has ended.
  void ShowAnswerIfDone();
  void ShowAnswer(const std::string& text, uint32_t colour);
  std::vector<SpeedCode> FillSpeedRows();
  void OnExit(wxCommandEvent& event);
  void OnClose(wxCloseEvent& event);
  void OnCharHook(wxKeyEvent& event);

  CDialogLayout m_layout;
  wxGauge* m_progress = nullptr;
  wxListCtrl* m_resultList = nullptr;
  wxStaticText* m_answer = nullptr;
  std::string m_answerText;
  uint32_t m_answerColour = 0;
  std::unique_ptr<CSmartScanWorker> m_pWorkerThread;
  std::vector<SpeedCode> m_speedRows;
  std::shared_ptr<SmartReadings> m_readings;
  std::function<void(std::unique_ptr<CSmartScanWorker>)> m_stoppedWorker;
};
