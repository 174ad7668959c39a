// Smart Scan: one TE/FE sample on the outer track for every write speed of
// the disc, with a verdict per speed. The rows are taken from the disc's
// speed list when the run is made; the run reports to a SmartScanSink.
//
// Stopping: after RequestStop returns, the run calls no sink method; a sample
// already with the drive is let finish and its result dropped.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "commands/drive_commands.h"
#include "commands/speed_codes.h"
#include "console/disc_identification.h"
#include "console/run_end.h"

inline constexpr char kSmartTesting[] = "Testing...";
inline constexpr char kSmartOk[] = "OK.";
inline constexpr char kSmartNotRecommended[] = "Not recommended.";
inline constexpr char kSmartFail[] = "TE/FE fail.";

// A row's judgement, from its outer-track sample.
enum class SmartVerdict : uint8_t {
  kOk,              // the sample is within both limits
  kNotRecommended,  // over a limit
  kFail,            // no reading: the command or its status byte failed
};

const char* SpeedLabel(SpeedCode code);  // "2.4X" ... "16X"; "" for any other code
SmartVerdict SmartVerdictOf(int sampleResult);
// The row's text as the dialog shows it: "OK.", "Not recommended.", "TE/FE fail.".
const char* SmartVerdictText(SmartVerdict verdict);
const char* SmartVerdictText(int sampleResult);

// The disc fields of the last identified disc, from the disc globals alone
// (no command): for an untestable type only the type is set, the other
// fields keep what the dialog shows.
DiscView StoredDiscInfo();

// The speed list of the last identified disc, in list order.
std::vector<SpeedCode> CurrentSpeedRows();

// One row as it ended: its speed, verdict, the reading behind it, and for a
// row without a reading why (failure.outcome).
struct SmartRowEnd {
  SpeedCode speed = 0;
  SmartVerdict verdict = SmartVerdict::kFail;
  OuterTrackSample sample;
  RunEnd failure;  // meaningful when verdict is kFail
};

class SmartScanSink {
 public:
  virtual ~SmartScanSink() = default;
  virtual void Started(int rows) = 0;    // progress range 0..rows, step 1, position 0
  virtual void RowTesting(int row) = 0;  // the row's sample is with the drive; shows the row
  virtual void RowVerdict(int row, SmartVerdict verdict) = 0;
  virtual void Stepped() = 0;
  // The row as it ended (reading, or why it has none), just before its
  // RowVerdict.
  virtual void RowEnded(int /*row*/, const SmartRowEnd& /*ended*/) {}
};

// A Smart Scan's answer: the highest speed whose row is "OK.", or none.
struct SmartEnd {
  RunEnd end;  // ok: a speed fits; not recommended: none does; or the first failed row's cause
  std::optional<SpeedCode> fitSpeed;
  bool operator==(const SmartEnd&) const = default;
};

// The answer of finished rows; complete: every row of the run has ended.
SmartEnd JudgeSmartRows(const std::vector<SmartRowEnd>& rows, bool complete);

class CSmartScanRun {
 public:
  CSmartScanRun(std::vector<SpeedCode> rows, SmartScanSink& sink);
  void Run();
  void RequestStop();
  bool Finished() const { return m_finished.load(); }
  // The rows that have ended so far, in order; any thread.
  std::vector<SmartRowEnd> Rows() const;
  // The run's answer: aborted until every row has ended.
  SmartEnd End() const;

 private:
  std::vector<SpeedCode> m_rows;
  SmartScanSink& m_sink;
  mutable std::mutex m_lock;  // held while the sink is called, and by RequestStop
  std::atomic<bool> m_stop{false};
  std::atomic<bool> m_finished{false};
  std::vector<SmartRowEnd> m_ended;  // guarded by m_lock
};
