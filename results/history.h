// The history: every run of either program kept with its record, in an
// SQLite database under $XDG_DATA_HOME/velmo/ (~/.local/share/velmo/). The
// window and velmo-cli may write it at the same time: WAL and a busy
// time-out. A damaged database is set aside (renamed) and a new one started.
// A history that cannot be written (a backup, a snapshot, a read-only file
// system) is still read; one written by a newer Velmo is read by none of
// this build's code and never written.
//
// Threads: one CHistory per thread; separate objects (and processes) may use
// the same file at once.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "results/scan_record.h"

struct sqlite3;

// The schema this build writes, kept in PRAGMA user_version. A database of
// a later version is refused; an earlier one is brought forward when opened
// for writing. 0 is a database from before the version was kept: the same
// schema as 1.
inline constexpr int kHistoryVersion = 1;

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
};

// The outcome as a listing shows it: a Smart Scan's is its answer ("fit up
// to 10X", "no speed fit"), any other run's its outcome's name.
std::string HistoryOutcomeText(const HistoryEntry& entry);

struct HistoryFilter {
  std::string mid;                   // part of the manufacturer ID (any case)
  std::string drive;                 // part of the drive's name or node (any case)
  std::vector<RunOutcome> outcomes;  // any of these; empty: all
  std::optional<int64_t> since;      // runs started at or after (Unix time)
  int limit = 0;                     // 0: all
};

// Where the history lives for this user: $XDG_DATA_HOME/velmo/history.sqlite,
// or ~/.local/share/velmo/history.sqlite. Empty when neither is known.
std::string DefaultHistoryPath();

// Unix time of an ISO 8601 time with offset ("2026-12-08T02:10:00+01:00",
// "...Z"), or of a date alone ("2026-12-08", local midnight).
std::optional<int64_t> ParseIsoTime(const std::string& text);

class CHistory {
 public:
  CHistory() = default;
  ~CHistory();
  CHistory(const CHistory&) = delete;
  CHistory& operator=(const CHistory&) = delete;

  // Opens for keeping runs (creating folder and file). False with *error when
  // the history cannot be used or written. A damaged file is renamed aside, a
  // new one started, and *notice says so.
  bool Open(const std::string& path, std::string* error, std::string* notice);

  // Opens for listing and loading: as Open when the history can be written,
  // otherwise read-only (nothing created, stamped or switched to WAL).
  bool OpenForReading(const std::string& path, std::string* error, std::string* notice);

  // After a failed open: the history was written by a newer Velmo (velmo-cli
  // exits 65 for it rather than 66).
  bool RefusedAsNewer() const { return m_newer; }
  // After an open: it is read-only; Add refuses.
  bool ReadOnly() const { return m_readOnly; }

  // Keeps a run; its id, or 0 with *error.
  int64_t Add(const ScanRecord& record, std::string* error);

  // Newest first. False with *error.
  bool List(const HistoryFilter& filter, std::vector<HistoryEntry>* entries, std::string* error);

  // The record of a run; false with *error for an unknown id (or a stored
  // record that no longer reads).
  bool Load(int64_t id, ScanRecord* record, std::string* error);

 private:
  bool OpenFile(const std::string& path, std::string* error, int* code);
  bool OpenReadOnly(const std::string& path, std::string* error);
  // True, with *error, for a version later than this build's.
  bool RefuseNewer(const std::string& path, int version, std::string* error);
  // The stored version; false with *error when it cannot be read or is later
  // than this build's.
  bool CheckVersion(const std::string& path, int* version, std::string* error, int* code);
  void Close();

  sqlite3* m_db = nullptr;
  bool m_readOnly = false;
  bool m_newer = false;
};
