// The history: every run of either program kept with its record. Callers
// use CHistory alone; it hands each call to the store that holds the runs:
// an SQLite database under $XDG_DATA_HOME/velmo/ (~/.local/share/velmo/,
// sqlite_history.h), or a lab's PostgreSQL server (lab_history_store.h) when
// opened with its URL. The window and velmo-cli may
// write it at the same time. A damaged database is set aside (renamed) and a
// new one started. A history that cannot be written (a backup, a snapshot, a
// read-only file system) is still read; one written by a newer Velmo is read
// by none of this build's code and never written.
//
// Threads: one CHistory per thread; separate objects (and processes) may use
// the same file at once.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "records/scan_record.h"

class HistoryStore;

// The schema this build writes, kept in PRAGMA user_version. A database of
// a later version is refused; an earlier one is brought forward when opened
// for writing. 0 is a database from before the version was kept: the same
// schema as 1. 2: records deflated in a table of their own, beside the
// summary rows, and the host each run was made on. 3: each run's id (a
// UUID), and whether it has gone to the lab's history.
inline constexpr int kHistoryVersion = 3;

// Why a history could not be opened or written.
enum class HistoryFailure {
  kNone,
  kNewer,        // written by a newer Velmo: velmo-cli exits 65
  kUnreachable,  // a lab's server that does not answer: 75
  kRefused,      // a lab's server that does not allow it (the role's rights): 77
  kOther,        // anything else: 66
};

// One line of the history listing.
struct HistoryEntry {
  int64_t id = 0;
  std::string startTime;
  RecordKind kind = RecordKind::kScan;
  std::string drive;
  std::string discType;
  std::string manufacturerId;
  std::optional<std::string> manufacturerName;
  std::string speed;    // a Smart Scan's: the speed that fits ("" for none)
  std::string density;  // kSmartDensity for a Smart Scan (empty in older runs)
  RunOutcome outcome = RunOutcome::kAborted;
  std::optional<int> maxTe;  // none without readings; a Smart Scan's at the speed that fits
  std::optional<int> maxFe;
  std::string host;  // the computer the run was made on ("" when not known)
};

// The outcome as a listing shows it: a Smart Scan's is its answer ("fit up
// to 10X", "no speed fit"), any other run's its outcome's name.
std::string HistoryOutcomeText(const HistoryEntry& entry);

// Initialised members: a filter may be written {"MID"} with the rest left out.
struct HistoryFilter {
  std::string mid{};                   // part of the manufacturer ID (any case)
  std::string drive{};                 // part of the drive's name or node (any case)
  std::vector<RunOutcome> outcomes{};  // any of these; empty: all
  std::optional<int64_t> since{};      // runs started at or after (Unix time)
  int64_t limit = 0;                   // 0: all
  int64_t offset = 0;                  // rows passed over first
  std::optional<int64_t> before{};     // runs started before (Unix time)
  std::string station{};               // the station (host) the runs were made on, whole
};

// A run from elsewhere (another history's export, a record file) and the
// computer it was made on.
struct ImportedRun {
  ScanRecord record;
  std::string host;
};

// A history being brought forward to this build's version.
struct HistoryMigration {
  std::string path;
  int fromVersion = 0;
  int toVersion = 0;
  int64_t runs = 0;
};

// Told as each migration starts, before the seconds a large history takes
// (other runs wait to be kept meanwhile); not told when another program
// has already brought it forward. Set once, before any history is opened:
// the front end says it in its own words.
void SetHistoryMigrationWatcher(std::function<void(const HistoryMigration&)> watcher);

// This computer's name as runs kept here carry it.
std::string LocalHostName();

// Where the history lives for this user: $XDG_DATA_HOME/velmo/history.sqlite,
// or ~/.local/share/velmo/history.sqlite. Empty when neither is known.
std::string DefaultHistoryPath();

// Unix time of an ISO 8601 time with offset ("2026-12-08T02:10:00+01:00",
// "...Z"), or of a date alone ("2026-12-08", local midnight). A date or
// time of that shape that names no moment (31 February, 24:61) is none;
// *impossible, when given, then says why ("February 2025 has 28 days"),
// and is left empty for text of another shape.
std::optional<int64_t> ParseIsoTime(const std::string& text, std::string* impossible = nullptr);

class CHistory {
 public:
  CHistory();
  ~CHistory();
  CHistory(const CHistory&) = delete;
  CHistory& operator=(const CHistory&) = delete;

  // Opens for keeping runs (creating folder and file). False with *error when
  // the history cannot be used or written. A damaged file is renamed aside, a
  // new one started, and *notice says so. location is a file, or a lab's
  // URL (postgresql://...): its server, its tables made on first use.
  bool Open(const std::string& location, std::string* error, std::string* notice);

  // Opens for listing and loading: as Open when the history can be written,
  // otherwise read-only (nothing created, stamped or switched to WAL).
  bool OpenForReading(const std::string& location, std::string* error, std::string* notice);

  // After a failed open or write: why.
  HistoryFailure Failure() const;
  // After a failed open: the history was written by a newer Velmo.
  bool RefusedAsNewer() const;
  // After an open: it is read-only; Add refuses.
  bool ReadOnly() const;

  // Keeps a run; its id, or 0 with *error.
  int64_t Add(const ScanRecord& record, std::string* error);

  // Newest first. False with *error.
  bool List(const HistoryFilter& filter, std::vector<HistoryEntry>* entries, std::string* error);
  // The same one row at a time, as it is read: nothing is gathered. row
  // returns false to stop (not an error).
  bool Each(const HistoryFilter& filter, const std::function<bool(const HistoryEntry&)>& row,
            std::string* error);
  // The same rows with each one's record as stored (JSON text). A stored
  // record that no longer unpacks (damaged, cut short) goes to damaged, with
  // why, and the rows go on; without damaged it ends the reading as an error.
  bool EachRecord(
      const HistoryFilter& filter,
      const std::function<bool(const HistoryEntry&, const std::string&)>& row, std::string* error,
      const std::function<void(const HistoryEntry&, const std::string&)>& damaged = nullptr);
  // How many rows the filter lets through (its limit and offset aside).
  bool Count(const HistoryFilter& filter, int64_t* count, std::string* error);
  // The ids the filter lets through, ordered by column (a HistoryEntry
  // field's column name: "id", "started", "drive", "mid", ...), newest
  // first among ties.
  bool Ids(const HistoryFilter& filter, const std::string& column, bool ascending,
           std::vector<int64_t>* ids, std::string* error);
  // How SQLite reads the listing for this filter (EXPLAIN QUERY PLAN), one
  // step a line: which index serves which filter.
  bool ListingPlan(const HistoryFilter& filter, std::string* plan, std::string* error);
  // The same for the ids in time order, newest first (the window's list).
  bool IdsPlan(const HistoryFilter& filter, std::string* plan, std::string* error);
  // These runs' rows, in no particular order.
  bool Entries(const std::vector<int64_t>& ids, std::vector<HistoryEntry>* entries,
               std::string* error);

  // The record of a run; false with *error for an unknown id (or a stored
  // record that no longer reads).
  bool Load(int64_t id, ScanRecord* record, std::string* error);

  // Removes these runs, all or none: false with *error for an id not in the
  // history, or a history open for reading only. Ids are never given again.
  bool Delete(const std::vector<int64_t>& ids, std::string* error);

  // Removes every run started before this Unix time; *removed says how many.
  bool Prune(int64_t before, int64_t* removed, std::string* error);

  // Keeps runs from elsewhere with their own time, drive and host, in one
  // transaction: all or none. A run already here (the same id; for a record
  // without one, the same start time, drive and disc) is passed over, so
  // importing twice adds nothing.
  bool Import(const std::vector<ImportedRun>& runs, int64_t* added, int64_t* skipped,
              std::string* error);

 private:
  void Choose(const std::string& location);

  std::unique_ptr<HistoryStore> m_store;
  bool m_lab = false;
};
