#include "history/lab_history.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

#include "history/lab_history_store.h"
#include "history/sqlite_history.h"
#include "session/run_options.h"

namespace {

// Runs sent in one transaction: few enough that a cut push loses little
// work, many enough that a backlog goes in seconds.
constexpr int kPushBatch = 250;

bool StartsWith(const std::string& text, const char* start) { return text.rfind(start, 0) == 0; }

}  // namespace

bool IsLabHistoryUrl(const std::string& text) {
  return StartsWith(text, "postgresql://") || StartsWith(text, "postgres://");
}

std::string ShownUrl(const std::string& url) {
  std::string shown = url;
  // user:password@ in the authority.
  const size_t scheme = shown.find("://");
  if (scheme != std::string::npos) {
    const size_t start = scheme + 3;
    const size_t end = shown.find_first_of("/?", start);
    const std::string authority = shown.substr(start, end == std::string::npos ? end : end - start);
    const size_t at = authority.rfind('@');
    const size_t colon = authority.find(':');
    if (at != std::string::npos && colon != std::string::npos && colon < at)
      shown.replace(start + colon + 1, at - colon - 1, "***");
  }
  // password=... among the parameters.
  for (size_t at = shown.find('?'); at != std::string::npos;) {
    const size_t next = shown.find('&', at + 1);
    const size_t from = at + 1;
    if (shown.compare(from, 9, "password=") == 0) {
      const size_t value = from + 9;
      shown.replace(value, (next == std::string::npos ? shown.size() : next) - value, "***");
    }
    at = shown.find('&', from);
  }
  return shown;
}

std::string ChosenLabUrl(const RunOptions& options) {
  if (!options.historyUrl.empty()) return options.historyUrl;
  const char* env = std::getenv("VELMO_HISTORY");
  return env != nullptr ? env : "";
}

std::string StationName() {
  const char* station = std::getenv("VELMO_STATION");
  if (station != nullptr && station[0] != '\0') return station;
  return LocalHostName();
}

LabPush PushPendingRuns(const std::string& localPath, const std::string& url, bool all,
                        const std::atomic<bool>* stop, int timeoutMs) {
  LabPush result;
  CSqliteHistory local;
  std::string error, notice;
  if (!local.Open(localPath, &error, &notice) || !local.WaitingCount(&result.waiting, &error)) {
    result.failure =
        local.Failure() == HistoryFailure::kNone ? HistoryFailure::kOther : local.Failure();
    result.error = "the station's own history: " + error;
    return result;
  }
  // Asked even with nothing waiting: a push says whether the server takes
  // runs, and the owner's first one makes the tables.
  CLabHistory lab;
  lab.SetLimits(timeoutMs, stop);
  if (!lab.Open(url, &error, &notice)) {
    result.failure = lab.Failure();
    result.error = error;
    return result;
  }
  // Each batch is marked sent only once the server holds it: a push cut
  // between the two sends the batch again, and the server passes over the
  // ids it has.
  int64_t after = 0;
  std::vector<KeptRun> batch;
  while (stop == nullptr || !stop->load()) {
    if (!local.Waiting(all, after, kPushBatch, &batch, &error)) {
      result.failure = HistoryFailure::kOther;
      result.error = "the station's own history: " + error;
      break;
    }
    if (batch.empty()) break;
    int64_t added = 0, skipped = 0;
    if (!lab.Import(batch, &added, &skipped, &error)) {
      result.failure = lab.Failure();
      result.error = error;
      break;
    }
    std::vector<int64_t> ids;
    for (const KeptRun& run : batch) ids.push_back(run.localId);
    if (!local.MarkPushed(ids, &error)) {
      result.failure = HistoryFailure::kOther;
      result.error = "the station's own history: " + error;
      break;
    }
    result.pushed += static_cast<int64_t>(batch.size());
    after = batch.back().localId;
  }
  local.WaitingCount(&result.waiting, &error);
  return result;
}

LabStatus LabHistoryStatus(const std::string& url, int timeoutMs) {
  LabStatus status;
  CLabHistory lab;
  lab.SetLimits(timeoutMs, nullptr);
  std::string notice;
  status.answers =
      lab.OpenForReading(url, &status.error, &notice) || lab.Failure() == HistoryFailure::kNewer;
  status.failure = lab.Failure();
  status.schemaVersion = lab.SchemaVersion();
  return status;
}

int64_t WaitingRunCount(const std::string& localPath) {
  // Asking makes no history where there is none.
  struct stat info {};
  if (::stat(localPath.c_str(), &info) != 0) return errno == ENOENT ? 0 : -1;
  CSqliteHistory local;
  std::string error, notice;
  int64_t count = -1;
  if (!local.OpenForReading(localPath, &error, &notice) || !local.WaitingCount(&count, &error))
    return -1;
  return count;
}
