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
#include <string>
#include <vector>

#include "commands/drive_commands.h"
#include "commands/speed_codes.h"
#include "console/disc_identification.h"

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

class SmartScanSink {
 public:
  virtual ~SmartScanSink() = default;
  virtual void Started(int rows) = 0;    // progress range 0..rows, step 1, position 0
  virtual void RowTesting(int row) = 0;  // the row's sample is with the drive; shows the row
  virtual void RowVerdict(int row, SmartVerdict verdict) = 0;
  virtual void Stepped() = 0;
  // The reading behind a row's verdict, just before its RowVerdict.
  virtual void RowSample(int /*row*/, const OuterTrackSample& /*sample*/) {}
};

class CSmartScanRun {
 public:
  CSmartScanRun(std::vector<SpeedCode> rows, SmartScanSink& sink);
  void Run();
  void RequestStop();
  bool Finished() const { return m_finished.load(); }
  // Host error of the transport call of the last sample sent (0 when it did
  // not fail), for telling a drive that is gone from one that refused.
  uint32_t LastTransportError() const { return m_lastTransportError.load(); }

 private:
  std::vector<SpeedCode> m_rows;
  SmartScanSink& m_sink;
  std::mutex m_lock;  // held while the sink is called, and by RequestStop
  std::atomic<bool> m_stop{false};
  std::atomic<bool> m_finished{false};
  std::atomic<uint32_t> m_lastTransportError{0};
};
