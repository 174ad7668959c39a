// The history in an SQLite database: WAL and a busy time-out, so the window
// and velmo-cli may write it at once; a damaged file is set aside (renamed)
// and a new one started; a file that cannot be written is read as it is.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "history/history_store.h"

struct sqlite3;
struct sqlite3_stmt;

class CSqliteHistory final : public HistoryStore {
 public:
  CSqliteHistory() = default;
  ~CSqliteHistory() override;
  CSqliteHistory(const CSqliteHistory&) = delete;
  CSqliteHistory& operator=(const CSqliteHistory&) = delete;

  // As CHistory's methods of the same names (history.h).
  bool Open(const std::string& path, std::string* error, std::string* notice) override;
  bool OpenForReading(const std::string& path, std::string* error, std::string* notice) override;
  HistoryFailure Failure() const override {
    return m_newer ? HistoryFailure::kNewer : HistoryFailure::kNone;
  }
  bool ReadOnly() const override { return m_readOnly; }
  int64_t Add(const KeptRun& run, std::string* error) override;
  bool Each(const HistoryFilter& filter, const std::function<bool(const HistoryEntry&)>& row,
            std::string* error) override;
  bool EachRecord(
      const HistoryFilter& filter,
      const std::function<bool(const HistoryEntry&, const std::string&)>& row, std::string* error,
      const std::function<void(const HistoryEntry&, const std::string&)>& damaged) override;
  bool Count(const HistoryFilter& filter, int64_t* count, std::string* error) override;
  bool Ids(const HistoryFilter& filter, const std::string& column, bool ascending,
           std::vector<int64_t>* ids, std::string* error) override;
  bool ListingPlan(const HistoryFilter& filter, std::string* plan, std::string* error) override;
  bool IdsPlan(const HistoryFilter& filter, std::string* plan, std::string* error) override;
  bool Entries(const std::vector<int64_t>& ids, std::vector<HistoryEntry>* entries,
               std::string* error) override;
  bool Load(int64_t id, ScanRecord* record, std::string* error) override;
  bool Delete(const std::vector<int64_t>& ids, std::string* error) override;
  bool Prune(int64_t before, int64_t* removed, std::string* error) override;
  bool Import(const std::vector<KeptRun>& runs, int64_t* added, int64_t* skipped,
              std::string* error) override;

  // The runs not yet in the lab's history (all: every run), oldest first,
  // after the local id after, at most limit of them, each as it is kept.
  bool Waiting(bool all, int64_t after, int limit, std::vector<KeptRun>* runs, std::string* error);
  // How many runs wait for the lab's history.
  bool WaitingCount(int64_t* count, std::string* error);
  // These runs (by local id) are in the lab's history now.
  bool MarkPushed(const std::vector<int64_t>& ids, std::string* error);

 private:
  bool OpenFile(const std::string& path, std::string* error, int* code);
  bool OpenReadOnly(const std::string& path, std::string* error);
  // True, with *error, for a version later than this build's.
  bool RefuseNewer(const std::string& path, int version, std::string* error);
  // The stored version; false with *error when it cannot be read or is later
  // than this build's.
  bool CheckVersion(const std::string& path, int* version, std::string* error, int* code);
  void Close();
  // Gives back the pages a migration freed; best effort.
  void Compact();
  // Brings a history of an earlier version to this one, within the
  // caller's transaction; an SQLite result code.
  int Migrate();
  bool Writing(std::string* error) const;
  bool Plan(const std::string& sql, const HistoryFilter& filter, std::string* plan,
            std::string* error);
  // The run's row and its record, by the two statements of InsertSql
  // (prepared once for a batch).
  int64_t Insert(const KeptRun& run, sqlite3_stmt* row, sqlite3_stmt* record, std::string* error);
  // Each and EachRecord: with summary, rows without their records.
  bool EachRecord(const HistoryFilter& filter,
                  const std::function<bool(const HistoryEntry&, const std::string&)>& full,
                  std::string* error, const std::function<bool(const HistoryEntry&)>* summary,
                  const std::function<void(const HistoryEntry&, const std::string&)>& damaged);

  sqlite3* m_db = nullptr;
  std::string m_path;  // the file open, for what a migration tells
  bool m_readOnly = false;
  bool m_newer = false;
  bool m_legacy = false;  // read-only, of version 1: records in the summary rows
};
