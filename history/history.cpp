#include "history/history.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <utility>

#include "history/kept_run.h"
#include "history/lab_history.h"
#include "history/lab_history_store.h"
#include "history/sqlite_history.h"
#include "records/record_packing.h"
#include "records/record_statistics.h"
#include "records/run_end_text.h"
#include "records/run_id.h"

namespace {

std::function<void(const HistoryMigration&)>& WritableMigrationWatcher() {
  static std::function<void(const HistoryMigration&)> watcher;
  return watcher;
}

}  // namespace

const std::function<void(const HistoryMigration&)>& HistoryMigrationWatcher() {
  return WritableMigrationWatcher();
}

void SetHistoryMigrationWatcher(std::function<void(const HistoryMigration&)> watcher) {
  WritableMigrationWatcher() = std::move(watcher);
}

std::string DefaultHistoryPath() {
  const char* data = std::getenv("XDG_DATA_HOME");
  if (data != nullptr && data[0] == '/') return std::string(data) + "/velmo/history.sqlite";
  const char* home = std::getenv("HOME");
  if (home != nullptr && home[0] == '/') {
    return std::string(home) + "/.local/share/velmo/history.sqlite";
  }
  return "";
}

std::string HistoryOutcomeText(const HistoryEntry& entry) {
  if (entry.kind == RecordKind::kSmart) {
    const std::string answer = SmartAnswerWords(entry.outcome, entry.speed);
    if (!answer.empty()) return answer;
  }
  return RunOutcomeName(entry.outcome);
}

namespace {

const char* const kMonthNames[] = {"January",   "February", "March",    "April",
                                   "May",       "June",     "July",     "August",
                                   "September", "October",  "November", "December"};

int DaysInMonth(int year, int month) {
  static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return month == 2 && leap ? 29 : days[month - 1];
}

// Why a date or time of the right shape names no moment ("February 2025
// has 28 days"); empty when it does. mktime and timegm would carry 31
// February over into March without a word.
std::string ImpossibleDateTime(int year, int month, int day, int hour, int minute, int second) {
  if (month < 1 || month > 12) return "there is no month " + std::to_string(month);
  if (day < 1 || day > DaysInMonth(year, month)) {
    return std::string(kMonthNames[month - 1]) + " " + std::to_string(year) + " has " +
           std::to_string(DaysInMonth(year, month)) + " days";
  }
  if (hour > 23) return "there is no hour " + std::to_string(hour);
  if (minute > 59) return "there is no minute " + std::to_string(minute);
  if (second > 60) return "there is no second " + std::to_string(second);
  return "";
}

}  // namespace

std::optional<int64_t> ParseIsoTime(const std::string& text, std::string* impossible) {
  if (impossible != nullptr) impossible->clear();
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, used = 0;
  auto refuse = [&](const std::string& why) -> std::optional<int64_t> {
    if (impossible != nullptr) *impossible = why;
    return std::nullopt;
  };
  std::tm tm{};
  if (text.size() == 10) {
    if (std::sscanf(text.c_str(), "%4d-%2d-%2d%n", &year, &month, &day, &used) != 3 || used != 10 ||
        text[4] != '-' || text[7] != '-') {
      return std::nullopt;
    }
    if (const std::string why = ImpossibleDateTime(year, month, day, 0, 0, 0); !why.empty())
      return refuse(why);
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_isdst = -1;
    const std::time_t t = std::mktime(&tm);
    if (t == static_cast<std::time_t>(-1)) return std::nullopt;
    return static_cast<int64_t>(t);
  }
  if (std::sscanf(text.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d%n", &year, &month, &day, &hour, &minute,
                  &second, &used) != 6 ||
      used != 19) {
    return std::nullopt;
  }
  int64_t offset = 0;
  const std::string zone = text.substr(19);
  if (zone != "Z") {
    int zh = 0, zm = 0;
    if (zone.size() != 6 || (zone[0] != '+' && zone[0] != '-') || zone[3] != ':' ||
        std::sscanf(zone.c_str() + 1, "%2d:%2d", &zh, &zm) != 2) {
      return std::nullopt;
    }
    if (zh > 23 || zm > 59) return refuse("there is no offset " + zone);
    offset = (zh * 3600 + zm * 60) * (zone[0] == '-' ? -1 : 1);
  }
  if (hour < 0 || minute < 0 || second < 0) return std::nullopt;
  if (const std::string why = ImpossibleDateTime(year, month, day, hour, minute, second);
      !why.empty())
    return refuse(why);
  tm.tm_year = year - 1900;
  tm.tm_mon = month - 1;
  tm.tm_mday = day;
  tm.tm_hour = hour;
  tm.tm_min = minute;
  tm.tm_sec = second;
  return static_cast<int64_t>(timegm(&tm)) - offset;
}

KeptRun KeptRunOf(const ScanRecord& record, const std::string& host) {
  KeptRun run;
  run.runId = record.runId.empty()
                  ? DerivedRunId(record.startTime, record.drive.name, record.drive.node,
                                 record.disc.type, record.disc.manufacturerId)
                  : record.runId;
  run.started = ParseIsoTime(record.startTime).value_or(0);
  run.startTime = record.startTime;
  run.kind = RecordKindName(record.kind);
  run.drive = record.drive.name;
  run.node = record.drive.node;
  run.discType = record.disc.type;
  run.manufacturerId = record.disc.manufacturerId;
  run.manufacturerName = record.disc.manufacturerName;
  run.density = record.settings.density;
  // Listings say beside the density that a run covered part of the disc or
  // went on from another (the record holds the range and the earlier run).
  if (record.resumed) {
    run.density += ", resumed";
  } else if (record.range) {
    run.density += ", part";
  }
  run.outcome = RunOutcomeName(record.outcome);
  // A Smart Scan's row carries its answer: the speed that fits, and the
  // reading taken at it (never a figure pooled over speeds).
  const RecordStatistics stats = StatisticsOf(record);
  const bool smart = record.kind == RecordKind::kSmart;
  std::optional<LayerStatistics> reading;
  if (!smart && stats.whole.samples > 0) reading = stats.whole;
  for (const SpeedStatistics& speed : stats.speeds) {
    if (record.fitSpeed && speed.speedCode == record.fitSpeed->speedCode) reading = speed.reading;
  }
  if (reading) {
    run.maxTe = reading->te.max;
    run.maxFe = reading->fe.max;
  }
  run.speed = smart ? (record.fitSpeed ? record.fitSpeed->speed : "") : record.settings.speed;
  run.host = host;
  run.packed = PackRecord(WriteRecordJson(record));
  return run;
}

std::string LocalHostName() {
  char name[256] = {};
  if (gethostname(name, sizeof name - 1) != 0) return "";
  return name;
}

CHistory::CHistory() : m_store(std::make_unique<CSqliteHistory>()) {}
CHistory::~CHistory() = default;

// A lab's URL opens its server; anything else is an SQLite file.
void CHistory::Choose(const std::string& location) {
  const bool lab = IsLabHistoryUrl(location);
  if (lab == m_lab) return;
  m_lab = lab;
  if (lab) {
    m_store = std::make_unique<CLabHistory>();
  } else {
    m_store = std::make_unique<CSqliteHistory>();
  }
}

bool CHistory::Open(const std::string& location, std::string* error, std::string* notice) {
  Choose(location);
  return m_store->Open(location, error, notice);
}
bool CHistory::OpenForReading(const std::string& location, std::string* error,
                              std::string* notice) {
  Choose(location);
  return m_store->OpenForReading(location, error, notice);
}
bool CHistory::RefusedAsNewer() const { return m_store->Failure() == HistoryFailure::kNewer; }
HistoryFailure CHistory::Failure() const { return m_store->Failure(); }
bool CHistory::ReadOnly() const { return m_store->ReadOnly(); }
int64_t CHistory::Add(const ScanRecord& record, std::string* error) {
  if (!record.runId.empty()) return m_store->Add(KeptRunOf(record, StationName()), error);
  // A run kept as it ends is a run of its own, however like another it looks.
  ScanRecord withId = record;
  withId.runId = NewRunId();
  return m_store->Add(KeptRunOf(withId, StationName()), error);
}
bool CHistory::List(const HistoryFilter& filter, std::vector<HistoryEntry>* entries,
                    std::string* error) {
  entries->clear();
  return m_store->Each(
      filter,
      [entries](const HistoryEntry& e) {
        entries->push_back(e);
        return true;
      },
      error);
}
bool CHistory::Each(const HistoryFilter& filter,
                    const std::function<bool(const HistoryEntry&)>& row, std::string* error) {
  return m_store->Each(filter, row, error);
}
bool CHistory::EachRecord(
    const HistoryFilter& filter,
    const std::function<bool(const HistoryEntry&, const std::string&)>& row, std::string* error,
    const std::function<void(const HistoryEntry&, const std::string&)>& damaged) {
  return m_store->EachRecord(filter, row, error, damaged);
}
bool CHistory::Count(const HistoryFilter& filter, int64_t* count, std::string* error) {
  return m_store->Count(filter, count, error);
}
bool CHistory::Ids(const HistoryFilter& filter, const std::string& column, bool ascending,
                   std::vector<int64_t>* ids, std::string* error) {
  return m_store->Ids(filter, column, ascending, ids, error);
}
bool CHistory::ListingPlan(const HistoryFilter& filter, std::string* plan, std::string* error) {
  return m_store->ListingPlan(filter, plan, error);
}
bool CHistory::IdsPlan(const HistoryFilter& filter, std::string* plan, std::string* error) {
  return m_store->IdsPlan(filter, plan, error);
}
bool CHistory::Entries(const std::vector<int64_t>& ids, std::vector<HistoryEntry>* entries,
                       std::string* error) {
  return m_store->Entries(ids, entries, error);
}
bool CHistory::Load(int64_t id, ScanRecord* record, std::string* error) {
  return m_store->Load(id, record, error);
}
bool CHistory::Delete(const std::vector<int64_t>& ids, std::string* error) {
  return m_store->Delete(ids, error);
}
bool CHistory::Prune(int64_t before, int64_t* removed, std::string* error) {
  return m_store->Prune(before, removed, error);
}
bool CHistory::Import(const std::vector<ImportedRun>& runs, int64_t* added, int64_t* skipped,
                      std::string* error) {
  std::vector<KeptRun> kept;
  kept.reserve(runs.size());
  for (const ImportedRun& run : runs) {
    kept.push_back(KeptRunOf(run.record, run.host));
    kept.back().derivedId = run.record.runId.empty();
  }
  return m_store->Import(kept, added, skipped, error);
}
