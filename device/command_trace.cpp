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

}  // namespace

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
                "sense=%s err=%u time=%lldus",
                stamp, millis, r.drive, r.transport, cdb.c_str(), DirectionName(x.direction),
                x.dataLength, x.transferred, x.Status(), x.scsiStatus, FormatSense(x.sense).c_str(),
                x.hostError | x.aspiStatus, static_cast<long long>(r.duration.count()));
  return line;
}

void CCommandTrace::Record(const TraceRecord& record) {
  const std::string line = FormatLine(record);
  std::lock_guard<std::mutex> hold(m_lock);
  if (m_file == nullptr || m_writeError != 0) return;
  if (std::fprintf(m_file, "%s\n", line.c_str()) < 0 || std::fflush(m_file) != 0) {
    m_writeError = errno != 0 ? errno : EIO;
  }
}
