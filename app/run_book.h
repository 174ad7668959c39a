// The window's account of its runs: what the last run started from and how
// far it got, its record once it has ended, keeping each run in the history
// once, the history failure to say beside a run's ending, the report of
// every run, and the recorded run the window shows instead of the drive's.
// Nothing of it needs a window, so it is tested without a display.
//
// UI thread only.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "console/scan_run.h"
#include "records/run_record.h"
#include "records/scan_record.h"

class CRunBook {
 public:
  // historyPath: where runs are kept; empty keeps none (--no-history).
  explicit CRunBook(std::string historyPath) : m_historyPath(std::move(historyPath)) {}
  const std::string& HistoryPath() const { return m_historyPath; }
  // Told after each run is kept in the history (the window then sends it
  // on to the lab history).
  void OnKept(std::function<void()> kept) { m_onKept = std::move(kept); }

  // A new run: what it starts from, with the speed and density it runs at.
  // It is not in the history until Keep.
  void Begin(const RunStart& start, SpeedCode speed, const DensityChoice* density);
  // After Begin: the run covers a part of the disc, or goes on from the run
  // earlierRunId (empty: none).
  void SetPart(ScanPart part, std::string earlierRunId) {
    m_part = std::move(part);
    m_earlierRunId = std::move(earlierRunId);
  }
  const ScanPart& Part() const { return m_part; }
  void SetElapsed(long seconds) { m_elapsed = seconds; }
  bool Kept() const { return m_kept; }
  // The run begun last, with what its worker took and how it ended; kept
  // once (later calls do nothing).
  void Keep(const std::vector<ScanSample>& samples, const RunEnd& end);
  // The record of the run begun last: the kept one, else from what it has
  // taken so far; none before the first run.
  std::optional<ScanRecord> LastRun(const std::vector<ScanSample>* samples,
                                    const RunEnd* end) const;

  // A Smart Scan over rows, of which ended have ended, begun at start; the
  // last run from then on.
  void KeepSmartRun(const RunStart& start, const std::vector<SpeedCode>& rows,
                    const std::vector<SmartRowEnd>& ended, long seconds);
  void Add(const ScanRecord& record);
  // Another disc is in the drive: the last run is no longer the one to
  // report. Not while a run is going (not yet kept).
  void ForgetLastRun();
  // The last history failure, once: empty when there is none not yet said.
  std::string TakeProblem();
  const std::string& Problem() const { return m_problem; }

  // A PDF of record under its default name in folder; false with *error.
  static bool WriteReport(const std::string& folder, const ScanRecord& record, std::string* error);

  // The recorded run shown instead of the drive's disc.
  void Show(const ScanRecord& record);
  // True when a recorded run was shown (and is no longer).
  bool EndShow();
  bool Showing() const { return m_showing; }
  const ScanRecord& Shown() const { return m_shown; }

 private:
  ScanRecord RecordOf(const std::vector<ScanSample>& samples, const RunEnd& end) const;

  std::string m_historyPath;
  std::function<void()> m_onKept;
  RunStart m_start;
  SpeedCode m_speed = 0;
  const DensityChoice* m_density = nullptr;
  long m_elapsed = 0;
  ScanPart m_part;
  std::string m_earlierRunId;
  bool m_begun = false;
  bool m_kept = true;  // false from Begin until Keep
  std::optional<ScanRecord> m_last;
  std::string m_problem;
  bool m_problemPending = false;
  bool m_showing = false;
  ScanRecord m_shown;
};
