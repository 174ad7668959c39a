#include "app/run_book.h"

#include <cstdio>

#include "console/smart_scan.h"
#include "history/history.h"
#include "reports/paper_size.h"
#include "reports/report_output.h"

void CRunBook::Begin(const RunStart& start, SpeedCode speed, const DensityChoice* density) {
  m_start = start;
  m_speed = speed;
  m_density = density;
  m_elapsed = 0;
  m_part = {};
  m_earlierRunId.clear();
  m_begun = true;
  m_kept = false;
  m_last.reset();
}

ScanRecord CRunBook::RecordOf(const std::vector<ScanSample>& samples, const RunEnd& end) const {
  ScanRecord record =
      ScanRunRecord(m_start, m_speed, m_density, kLogFileName, samples, end, m_elapsed);
  SetRecordPart(&record, m_part, m_earlierRunId);
  return record;
}

void CRunBook::Keep(const std::vector<ScanSample>& samples, const RunEnd& end) {
  if (m_kept) return;
  m_kept = true;
  m_last = RecordOf(samples, end);
  Add(*m_last);
}

std::optional<ScanRecord> CRunBook::LastRun(const std::vector<ScanSample>* samples,
                                            const RunEnd* end) const {
  if (m_last) return m_last;
  if (m_begun && samples != nullptr && end != nullptr) return RecordOf(*samples, *end);
  return std::nullopt;
}

void CRunBook::KeepSmartRun(const RunStart& start, const std::vector<SpeedCode>& rows,
                            const std::vector<SmartRowEnd>& ended, long seconds) {
  const bool complete = ended.size() == rows.size();
  // The last run from now on, whatever ran before it: Export reports it.
  m_last = SmartRunRecord(start, rows, ended, JudgeSmartRows(ended, complete), seconds);
  Add(*m_last);
}

void CRunBook::ForgetLastRun() {
  if (!m_kept) return;  // a run still going is the disc's
  m_last.reset();
  m_begun = false;
}

void CRunBook::Add(const ScanRecord& record) {
  if (m_historyPath.empty()) return;
  CHistory history;
  std::string error, notice;
  const bool open = history.Open(m_historyPath, &error, &notice);
  if (!notice.empty()) std::fprintf(stderr, "velmo: %s\n", notice.c_str());
  if (open && history.Add(record, &error) != 0) {
    if (m_onKept) m_onKept();
    return;
  }
  // Said once: on standard error now, in the status line beside the run's
  // own ending (TakeProblem).
  if (!m_problem.empty()) return;
  m_problem = "history not kept: " + error;
  m_problemPending = true;
  std::fprintf(stderr, "velmo: %s\n", m_problem.c_str());
}

std::string CRunBook::TakeProblem() {
  if (!m_problemPending) return {};
  m_problemPending = false;
  return m_problem;
}

bool CRunBook::WriteReport(const std::string& folder, const ScanRecord& record,
                           std::string* error) {
  CReportOutput output(folder, ReportFormat::kPdf);
  std::string written;
  return output.Open(error) && output.Write({record}, PaperSizeFromEnvironment(), &written, error);
}

void CRunBook::Show(const ScanRecord& record) {
  m_showing = true;
  m_shown = record;
}

bool CRunBook::EndShow() {
  const bool was = m_showing;
  m_showing = false;
  return was;
}
