#include "device/command_trace.h"

#include <cerrno>
#include <ctime>

namespace {

const char* DirectionName(uint8_t direction) {
  switch (direction) {
    case 1: return "out";
    case 2: return "in";
    default: return "none";
  }
}

// Data in: what came; data out: what was sent.
uint32_t TracedDataBytes(const ScsiExchange& x) {
  if (x.data == nullptr) return 0;
  if (x.direction == kDirectionIn) return x.Moved();
  if (x.direction == kDirectionOut) return x.dataLength;
  return 0;
}

}  // namespace

const char* TraceOutcomeName(ExchangeOutcome outcome) {
  switch (outcome) {
    case ExchangeOutcome::kDone: return "done";
    case ExchangeOutcome::kCheckCondition: return "check";
    case ExchangeOutcome::kTimedOut: return "timeout";
    case ExchangeOutcome::kDriveGone: return "gone";
    case ExchangeOutcome::kTransportError: return "transport";
  }
  return "transport";
}

CCommandTrace::~CCommandTrace() {
  if (m_file != nullptr) std::fclose(m_file);
}

bool CCommandTrace::Open(const std::string& path) {
  std::lock_guard<std::mutex> hold(m_lock);
  if (m_file != nullptr) std::fclose(m_file);
  m_file = std::fopen(path.c_str(), "w");
  return m_file != nullptr;
}

bool CCommandTrace::Attach(int fd) {
  std::lock_guard<std::mutex> hold(m_lock);
  if (m_file != nullptr) std::fclose(m_file);
  m_file = fd >= 0 ? fdopen(fd, "w") : nullptr;
  m_writeError = 0;
  return m_file != nullptr;
}

int CCommandTrace::WriteError() {
  std::lock_guard<std::mutex> hold(m_lock);
  return m_writeError;
}

std::string CCommandTrace::FormatLine(const TraceRecord& r) {
  const auto sinceEpoch = r.when.time_since_epoch();
  const std::time_t seconds = std::chrono::duration_cast<std::chrono::seconds>(sinceEpoch).count();
  const long millis = static_cast<long>(
      std::chrono::duration_cast<std::chrono::milliseconds>(sinceEpoch).count() % 1000);
  std::tm utc{};
#ifdef _WIN32
  gmtime_s(&utc, &seconds);
#else
  gmtime_r(&seconds, &utc);
#endif
  char stamp[40];
  std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%S", &utc);

  static const ScsiExchange kNothing;
  const ScsiExchange& x = r.exchange != nullptr ? *r.exchange : kNothing;
  const std::string cdb = CdbText(x);
  char line[256];
  std::snprintf(line, sizeof line,
                "%s.%03ldZ drive=%d %s cdb=[%s] dir=%s len=%u moved=%u status=%u scsi=0x%02X "
                "sense=%s err=%u time=%lldus outcome=%s data=[",
                stamp, millis, r.drive, r.transport, cdb.c_str(), DirectionName(x.direction),
                x.dataLength, x.transferred, x.Status(), x.scsiStatus, FormatSense(x.sense).c_str(),
                x.hostError | x.aspiStatus, static_cast<long long>(r.duration.count()),
                TraceOutcomeName(x.outcome));
  const uint32_t bytes = TracedDataBytes(x);
  const uint32_t kept = bytes < kTraceDataCap ? bytes : kTraceDataCap;
  std::string text = line;
  text.reserve(text.size() + kept * 3 + 6);
  static const char kHex[] = "0123456789ABCDEF";
  for (uint32_t i = 0; i < kept; ++i) {
    if (i > 0) text += ' ';
    text += kHex[x.data[i] >> 4];
    text += kHex[x.data[i] & 0x0F];
  }
  if (kept < bytes) text += " ...";
  text += ']';
  return text;
}

void CCommandTrace::Record(const TraceRecord& record) {
  const std::string line = FormatLine(record);
  std::lock_guard<std::mutex> hold(m_lock);
  if (m_file == nullptr || m_writeError != 0) return;
  if (std::fprintf(m_file, "%s\n", line.c_str()) < 0 || std::fflush(m_file) != 0) {
    m_writeError = errno != 0 ? errno : EIO;
  }
}
