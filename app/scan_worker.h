// The scan run on its worker thread, for the window: a sink that hands every
// update to the UI thread, the chart window it draws in, and the thread
// itself. The verdict box is the one place where the worker waits for
// the UI thread; a stop releases that wait at once, so the UI thread can stop
// and join a worker whatever it is doing.
#pragma once

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "console/scan_run.h"

class CGraphCtrl;
class CGraphScanChart;

// What the window does with a run's updates; called on the UI thread only.
class ScanWindow {
 public:
  virtual ~ScanWindow() = default;
  virtual void ShowLogOpenFailed() = 0;
  virtual void ShowLogWriteFailed() = 0;
  virtual void ShowRunStarted() = 0;
  virtual void ShowElapsed(long seconds) = 0;
  // Modal: why the run ended at a sample; returns when the user closed the box.
  virtual void ShowSampleFailure(const RunEnd& end) = 0;
  // After the box: the red status, START on, STOP off.
  virtual void ShowSampleFailureEnded(const RunEnd& end) = 0;
  // Modal: the verdict's sentence; returns when the user closed the box.
  virtual void ShowVerdict(ScanVerdict verdict) = 0;
  virtual void ShowFinished() = 0;
  // One sample taken (after its chart point); the record of the run keeps it.
  virtual void ShowSample(int32_t /*lba*/, uint16_t /*te*/, uint16_t /*fe*/) {}
  // Any thread.
  virtual void SetScanning(bool scanning) = 0;
};

// Runs a function on the UI thread later; never blocks.
using UiPost = std::function<void(std::function<void()>)>;

class CScanWorker {
 public:
  CScanWorker(ScanSettings& settings, CGraphCtrl& graph, ScanWindow& window, UiPost post,
              std::string logPath);
  ~CScanWorker();  // stops and joins

  // Kept until the run ends or is stopped (its log lock): a stopped run
  // writes nothing more, so the next may start while this one's command is
  // still pending.
  void HoldUntilDone(std::shared_ptr<void> held);
  // Before Start: a part of the disc, or a run that goes on (ScanPart).
  void SetPart(ScanPart part) { m_run.SetPart(std::move(part)); }
  void Start();
  // No further sample, line, drawing or update once this returns; the
  // thread ends when its pending command returns.
  void RequestStop();
  bool Finished() const { return m_run.Finished(); }
  bool Stopped() const { return m_run.StopRequested(); }
  void Join();
  CScanRun::Counts Counts() const { return m_run.GetCounts(); }
  // The readings taken so far and how the run ended, for its record; any thread.
  std::vector<ScanSample> Samples() const { return m_run.Samples(); }
  RunEnd End() const { return m_run.End(); }

 private:
  class Sink;
  std::unique_ptr<CGraphScanChart> m_chart;
  std::unique_ptr<Sink> m_sink;
  void LetGo();

  CScanRun m_run;
  std::mutex m_heldLock;
  std::shared_ptr<void> m_held;
  std::thread m_thread;
};
