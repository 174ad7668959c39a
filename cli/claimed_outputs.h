// The files a run leaves besides its log (JSON record, CSV samples, chart,
// report), claimed before the drive is used and put in place after it: a
// scan takes minutes, and its results must not be lost to a path that cannot
// be written. scan claims all of them and its log; smart only its JSON.
//
// Threads: the command's thread.
#pragma once

#include <cstdio>
#include <functional>
#include <memory>
#include <string>

#include "reports/report_output.h"
#include "session/output_file.h"
#include "session/run_lock.h"

class CInterruptWatch;
class CRunChart;
struct CliOptions;
struct ScanRecord;

class CClaimedOutputs {
 public:
  // Refusals and failures go to err; a signal that ends a wait for a FIFO's
  // reader is told by interrupt.
  CClaimedOutputs(const CInterruptWatch& interrupt, std::FILE* err)
      : m_interrupt(interrupt), m_err(err) {}

  ~CClaimedOutputs();

  // Claims every output options name; with withLog, the log too (only
  // looked at and locked: an earlier run's log stays until this run starts;
  // a log written in place, a FIFO or a device, is opened here, so that a
  // FIFO's wait for its reader comes before the drive is used).
  // kExitOk, or the exit code with the reason on err.
  int Claim(const CliOptions& options, bool withLog);

  // How the run opens its log at path: the one opened by Claim, else path.
  std::function<int()> LogOpener(const std::string& path) const;

  // The claimed files, "a, b", for the line that tells what the run left
  // unwritten (the record and samples first, as they are written).
  std::string OpenPaths() const;

  // Writes the record's files all or none, then the report, naming on out
  // the chart and report written. code: the run's exit code; returned, or
  // what a failed write makes it.
  int Commit(const ScanRecord& record, const CRunChart& chart, std::FILE* out, int code);
  // Smart Scan's record is its only file: a failure names nothing more.
  int CommitRecordOnly(const ScanRecord& record, int code);

 private:
  int ClaimFile(const std::string& path, COutputFile& file);
  int ClaimReport(const std::string& value);
  // The exit code of an output that failed with errno error.
  int FailureCode(int error) const;

  const CInterruptWatch& m_interrupt;
  std::FILE* m_err;
  COutputFile m_json;
  COutputFile m_csv;
  COutputFile m_chart;
  std::unique_ptr<CReportOutput> m_report;
  CRunLock m_logLock;
  int m_logFd = -1;  // a log written in place, opened by Claim
};
