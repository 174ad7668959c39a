#include "console/smart_scan.h"

#include <algorithm>

#include "commands/disc_globals.h"
#include "commands/drive_commands.h"

const char* SpeedLabel(SpeedCode code) {
  switch (code) {
    case kSpeed2_4X: return "2.4X";
    case kSpeed4X: return "4X";
    case kSpeed6X: return "6X";
    case kSpeed8X: return "8X";
    case kSpeed10X: return "10X";
    case kSpeed12X: return "12X";
    case kSpeed16X: return "16X";
    default: return "";
  }
}

SmartVerdict SmartVerdictOf(int sampleResult) {
  if (sampleResult == kSampleFit) return SmartVerdict::kOk;
  if (sampleResult == kSampleNotRecommended) return SmartVerdict::kNotRecommended;
  return SmartVerdict::kFail;
}

const char* SmartVerdictText(SmartVerdict verdict) {
  switch (verdict) {
    case SmartVerdict::kOk: return kSmartOk;
    case SmartVerdict::kNotRecommended: return kSmartNotRecommended;
    case SmartVerdict::kFail: break;
  }
  return kSmartFail;
}

const char* SmartVerdictText(int sampleResult) {
  return SmartVerdictText(SmartVerdictOf(sampleResult));
}

DiscView StoredDiscInfo() {
  DiscView view;
  const DiscTypeCode type = g_discType;
  view.discType = DiscTypeText(type);
  if (!IsTestableDisc(type)) return view;
  std::lock_guard<std::mutex> hold(g_discLock);
  view.manufacturerId = g_manufacturerId;
  view.mediaTypeId = g_mediaTypeId;
  view.capacity = CapacityText(g_lastLba);
  return view;
}

std::vector<SpeedCode> CurrentSpeedRows() {
  std::lock_guard<std::mutex> hold(g_discLock);
  const int32_t count = std::clamp<int32_t>(g_speedCount, 0, kMaxSpeedCodes);
  return std::vector<SpeedCode>(g_speedCodes, g_speedCodes + count);
}

CSmartScanRun::CSmartScanRun(std::vector<SpeedCode> rows, SmartScanSink& sink)
    : m_rows(std::move(rows)), m_sink(sink) {}

SmartEnd JudgeSmartRows(const std::vector<SmartRowEnd>& rows, bool complete) {
  SmartEnd answer;
  const RunEnd* failed = nullptr;
  for (const SmartRowEnd& row : rows) {
    // Speed codes rise with the speed.
    if (row.verdict == SmartVerdict::kOk && (!answer.fitSpeed || row.speed > *answer.fitSpeed))
      answer.fitSpeed = row.speed;
    if (row.verdict == SmartVerdict::kFail && failed == nullptr) failed = &row.failure;
  }
  if (!complete) {
    answer.end.outcome = RunOutcome::kAborted;
  } else if (failed != nullptr) {
    answer.end = *failed;
  } else {
    answer.end.outcome = answer.fitSpeed ? RunOutcome::kOk : RunOutcome::kNotRecommended;
  }
  return answer;
}

std::vector<SmartRowEnd> CSmartScanRun::Rows() const {
  std::lock_guard<std::mutex> hold(m_lock);
  return m_ended;
}

SmartEnd CSmartScanRun::End() const {
  std::lock_guard<std::mutex> hold(m_lock);
  return JudgeSmartRows(m_ended, m_ended.size() == m_rows.size() && !m_stop);
}

void CSmartScanRun::RequestStop() {
  std::lock_guard<std::mutex> hold(m_lock);
  m_stop = true;
}

void CSmartScanRun::Run() {
  struct Finish {
    std::atomic<bool>& flag;
    ~Finish() { flag = true; }
  } finish{m_finished};
  {
    std::lock_guard<std::mutex> hold(m_lock);
    if (m_stop) return;
    m_sink.Started(static_cast<int>(m_rows.size()));
  }
  for (size_t i = 0; i < m_rows.size(); ++i) {
    {
      std::lock_guard<std::mutex> hold(m_lock);
      if (m_stop) return;
      m_sink.RowTesting(static_cast<int>(i));
    }
    SmartRowEnd row;
    row.speed = m_rows[i];
    row.sample = TakeOuterTrackSample(m_rows[i]);
    row.verdict = SmartVerdictOf(row.sample.result);
    if (row.verdict == SmartVerdict::kFail) {
      bool earlier = false;
      {
        std::lock_guard<std::mutex> hold(m_lock);
        for (const SmartRowEnd& before : m_ended) earlier |= before.verdict != SmartVerdict::kFail;
      }
      row.failure = JudgeFailedSample(
          SampleEnd{row.sample.answer, row.sample.exchange, row.sample.reading}, earlier);
      row.failure.cause.psn = row.sample.psn;
    }
    std::lock_guard<std::mutex> hold(m_lock);
    if (m_stop) return;
    m_ended.push_back(row);
    m_sink.RowEnded(static_cast<int>(i), row);
    m_sink.RowVerdict(static_cast<int>(i), row.verdict);
    m_sink.Stepped();
  }
}
