#include "app/run_recorder.h"

#include "console/scan_run.h"

void CRunRecorder::Start(ScanRecord identity, DiscTypeCode discType) {
  m_record = std::move(identity);
  m_record.kind = RecordKind::kScan;
  m_record.startTime = CurrentIsoTime();
  m_record.samples.clear();
  m_record.rows.clear();
  m_record.outcome = RunOutcome::kAborted;
  m_record.verdict.clear();
  m_record.durationSeconds = 0;
  m_discType = discType;
  m_started = true;
  m_ended = false;
}

void CRunRecorder::Sample(int32_t lba, uint16_t te, uint16_t fe) {
  if (!m_started || m_ended) return;
  RecordSample sample;
  sample.lba = lba;
  sample.psn = 0;  // the window's run hands out LBA, TE and FE only
  sample.layer = LayerOfLba(lba, m_discType);
  sample.te = te;
  sample.fe = fe;
  sample.ok = te <= m_record.settings.teLimit && fe <= m_record.settings.feLimit;
  m_record.samples.push_back(sample);
}

void CRunRecorder::End(RunOutcome outcome, const std::string& verdict) {
  if (!m_started || m_ended) return;
  m_record.outcome = outcome;
  m_record.verdict = verdict;
  m_ended = true;
}
