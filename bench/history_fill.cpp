// Fills a history with N runs through the history's own writer, for
// bench/history_scale.sh: copies of the given records, one a minute back
// from the newest, every eighth on a disc of its own ("KAIRO 01") so that a
// filter has something to find. Runs go in through CHistory::Import in
// batches of one transaction (--add: one CHistory::Add each, as scans keep
// them).
// HISTORY may be a lab history's URL: the server is filled the same way.
// --newest: the newest run's start (2026-12-08T12:00:00Z).
// Usage: velmo_history_fill [--add] [--newest TIME] HISTORY N RECORD.json...
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "history/history.h"

namespace {

std::string IsoTime(int64_t t) {
  const std::time_t time = static_cast<std::time_t>(t);
  std::tm utc{};
  gmtime_r(&time, &utc);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S+00:00", &utc);
  return text;
}

}  // namespace

int main(int argc, char** argv) {
  bool add = argc > 1 && std::strcmp(argv[1], "--add") == 0;
  if (add) {
    --argc;
    ++argv;
  }
  std::string newestTime = "2026-12-08T12:00:00Z";
  if (argc > 2 && std::strcmp(argv[1], "--newest") == 0) {
    newestTime = argv[2];
    argc -= 2;
    argv += 2;
  }
  if (argc < 4) {
    std::fprintf(stderr,
                 "usage: velmo_history_fill [--add] [--newest TIME] HISTORY N RECORD.json...\n");
    return 64;
  }
  const int64_t count = std::strtoll(argv[2], nullptr, 10);
  std::vector<ScanRecord> records;
  std::string error, notice;
  for (int i = 3; i < argc; ++i) {
    records.emplace_back();
    if (!LoadRecordFile(argv[i], &records.back(), &error)) {
      std::fprintf(stderr, "%s\n", error.c_str());
      return 65;
    }
  }
  CHistory history;
  if (!history.Open(argv[1], &error, &notice)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 66;
  }
  const int64_t newest = ParseIsoTime(newestTime).value_or(0);
  std::vector<ImportedRun> batch;
  constexpr size_t kBatch = 10000;
  for (int64_t i = 0; i < count; ++i) {
    ImportedRun run{records[static_cast<size_t>(i) % records.size()], "bench"};
    run.record.startTime = IsoTime(newest - 60 * (count - 1 - i));
    run.record.runId.clear();  // each copy a run of its own: its id derived from its start
    if (i % 8 == 0) run.record.disc.manufacturerId = "KAIRO 01";
    if (add) {
      if (history.Add(run.record, &error) == 0) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 73;
      }
      continue;
    }
    batch.push_back(std::move(run));
    if (batch.size() == kBatch || i + 1 == count) {
      int64_t added = 0, skipped = 0;
      if (!history.Import(batch, &added, &skipped, &error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 73;
      }
      batch.clear();
    }
  }
  return 0;
}
