// history's filter: any arguments (NUL-separated) through the parser, and
// what it accepts as a query on a small history: no failure, and every run
// listed matches the filter.
#include <algorithm>
#include <cctype>
#include <string>
#include <vector>

#include "cli/record_commands.h"
#include "fuzz/fuzz_input.h"
#include "history/history.h"

namespace {

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

CHistory& SmallHistory() {
  static CHistory* history = [] {
    auto* h = new CHistory;
    std::string error, notice;
    FUZZ_CHECK(h->Open(":memory:", &error, &notice));
    const char* mids[] = {"YUDEN000", "MCC 03", "50%_OFF", "ORBTEK", "'; DROP TABLE runs; --"};
    for (int i = 0; i < 5; ++i) {
      ScanRecord r;
      r.startTime = "2026-12-0" + std::to_string(i + 1) + "T10:00:00+00:00";
      r.drive.name = i % 2 ? "VELMO   DVDRW VX-2016   1.02" : "KESTRON DVD-RAM";
      r.drive.node = "/dev/sg" + std::to_string(i);
      r.disc.manufacturerId = mids[i];
      r.samples = {{0, 0x30000, 0, static_cast<uint16_t>(100 * i), 100, true}};
      r.outcome = static_cast<RunOutcome>(i % kRunOutcomeCount);
      FUZZ_CHECK(h->Add(r, &error) != 0);
    }
    return h;
  }();
  return *history;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<std::string> args(1);
  for (size_t i = 0; i < size; ++i) {
    if (data[i] == 0) {
      args.emplace_back();
    } else {
      args.back() += static_cast<char>(data[i]);
    }
  }
  HistoryFilter filter;
  bool json = false;
  std::string error;
  if (!ParseHistoryFilter(args, &filter, &json, &error)) {
    FUZZ_CHECK(!error.empty());
    return 0;
  }
  std::vector<HistoryEntry> entries;
  FUZZ_CHECK(SmallHistory().List(filter, &entries, &error));
  FUZZ_CHECK(entries.size() <= 5);
  for (const HistoryEntry& e : entries) {
    FUZZ_CHECK(Lower(e.manufacturerId).find(Lower(filter.mid)) != std::string::npos);
    if (!filter.outcomes.empty()) {
      FUZZ_CHECK(std::find(filter.outcomes.begin(), filter.outcomes.end(), e.outcome) !=
                 filter.outcomes.end());
    }
  }
  return 0;
}
