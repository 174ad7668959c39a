#include "history/lab_history.h"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
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

constexpr const char* kLabSchemes[] = {"postgresql://", "postgres://"};

size_t LabSchemeLength(const std::string& url) {
  for (const char* scheme : kLabSchemes) {
    const std::string prefix(scheme);
    if (url.compare(0, prefix.size(), prefix) == 0) return prefix.size();
  }
  return 0;
}

// The parts of a URL a password may hide in: user[:password]@ (everything
// before the authority's last '@', so that a password with an '@' of its
// own is taken whole) and the query's parameters.
struct LabUrlParts {
  std::string scheme;
  bool hasUser = false;
  std::string user;
  bool hasPassword = false;
  std::string password;
  std::string rest;  // host, port, database, before the query
  bool hasQuery = false;
  std::vector<std::string> params;
};

LabUrlParts SplitLabUrl(const std::string& url) {
  LabUrlParts parts;
  const size_t start = LabSchemeLength(url);
  parts.scheme = url.substr(0, start);
  const size_t end = std::min(url.find_first_of("/?", start), url.size());
  const size_t at = url.rfind('@', end == 0 ? 0 : end - 1);
  size_t body = start;
  if (at != std::string::npos && at >= start && at < end) {
    parts.hasUser = true;
    const std::string info = url.substr(start, at - start);
    const size_t colon = info.find(':');
    parts.user = info.substr(0, colon);
    if (colon != std::string::npos) {
      parts.hasPassword = true;
      parts.password = info.substr(colon + 1);
    }
    body = at + 1;
  }
  const size_t query = url.find('?', body);
  parts.rest = url.substr(body, query == std::string::npos ? std::string::npos : query - body);
  if (query != std::string::npos) {
    parts.hasQuery = true;
    const std::string text = url.substr(query + 1);
    size_t from = 0;
    while (from <= text.size()) {
      const size_t amp = text.find('&', from);
      parts.params.push_back(text.substr(from, amp == std::string::npos ? amp : amp - from));
      if (amp == std::string::npos) break;
      from = amp + 1;
    }
  }
  return parts;
}

bool IsPasswordParam(const std::string& param) { return param.rfind("password=", 0) == 0; }

// The URL again from its parts, its password taken out (masked: shown as
// *** in its place, the rest kept as it was written).
std::string JoinLabUrl(const LabUrlParts& parts, bool masked) {
  std::string url = parts.scheme;
  if (parts.hasUser) url += parts.user + (masked && parts.hasPassword ? ":***@" : "@");
  url += parts.rest;
  std::string query;
  bool first = true;
  for (const std::string& param : parts.params) {
    if (IsPasswordParam(param) && !masked) continue;
    if (!masked && !query.empty()) query += "&";
    if (masked && !first) query += "&";
    first = false;
    query += IsPasswordParam(param) ? "password=***" : param;
  }
  if (masked ? parts.hasQuery : !query.empty()) url += "?" + query;
  return url;
}

bool BadPercentEscape(const std::string& text) {
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') continue;
    if (i + 2 >= text.size() || !std::isxdigit(static_cast<unsigned char>(text[i + 1])) ||
        !std::isxdigit(static_cast<unsigned char>(text[i + 2])) ||
        (text[i + 1] == '0' && text[i + 2] == '0')) {
      return true;
    }
  }
  return false;
}

}  // namespace

bool IsLabHistoryUrl(const std::string& text) { return LabSchemeLength(text) > 0; }

std::string ShownUrl(const std::string& url) { return JoinLabUrl(SplitLabUrl(url), true); }

std::string LabUrlProblem(const std::string& url) {
  if (LabSchemeLength(url) == 0)
    return "A lab history's URL starts with postgresql:// or postgres://.";
  for (const char c : url) {
    const auto u = static_cast<unsigned char>(c);
    if (u <= 0x20 || u == 0x7f)
      return "A URL holds no spaces or control characters (write a space as %20).";
  }
  if (BadPercentEscape(url))
    return "A % in a URL starts two hexadecimal digits (%2F), and never %00.";
  const LabUrlParts parts = SplitLabUrl(url);
  for (const std::string& param : parts.params) {
    const size_t equals = param.find('=');
    if (equals == std::string::npos || equals == 0)
      return "Each setting after ? is name=value (such as host=/run/postgresql), not '" + param +
             "'.";
  }
  // host[:port][,host[:port]...][/database]: a port is a number.
  const std::string hosts = parts.rest.substr(0, parts.rest.find('/'));
  size_t from = 0;
  while (from <= hosts.size()) {
    const size_t comma = hosts.find(',', from);
    const std::string host =
        hosts.substr(from, comma == std::string::npos ? std::string::npos : comma - from);
    const size_t bracket = host.rfind(']');
    const size_t colon = host.rfind(':');
    if (colon != std::string::npos && (bracket == std::string::npos || colon > bracket)) {
      const std::string port = host.substr(colon + 1);
      bool digits = !port.empty() && port.size() <= 5;
      for (const char c : port) digits = digits && std::isdigit(static_cast<unsigned char>(c));
      if (!digits || std::atoi(port.c_str()) > 65535)
        return "The port after ':' is a number up to 65535, not '" + port + "'.";
    }
    if (comma == std::string::npos) break;
    from = comma + 1;
  }
  return {};
}

bool UrlHasPassword(const std::string& url) {
  const LabUrlParts parts = SplitLabUrl(url);
  if (parts.hasPassword) return true;
  for (const std::string& param : parts.params)
    if (IsPasswordParam(param)) return true;
  return false;
}

std::string UrlWithoutPassword(const std::string& url) {
  if (!UrlHasPassword(url)) return url;
  return JoinLabUrl(SplitLabUrl(url), false);
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
