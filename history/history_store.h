// What a store of the history does, whichever database holds it: CHistory
// hands every call to one. Each method is CHistory's of the same name.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "history/history.h"
#include "history/kept_run.h"

class HistoryStore {
 public:
  virtual ~HistoryStore() = default;

  virtual bool Open(const std::string& path, std::string* error, std::string* notice) = 0;
  virtual bool OpenForReading(const std::string& path, std::string* error, std::string* notice) = 0;
  // Why the last open failed (kNone after one that did not).
  virtual HistoryFailure Failure() const = 0;
  virtual bool ReadOnly() const = 0;
  virtual int64_t Add(const KeptRun& run, std::string* error) = 0;
  virtual bool Each(const HistoryFilter& filter,
                    const std::function<bool(const HistoryEntry&)>& row, std::string* error) = 0;
  virtual bool EachRecord(
      const HistoryFilter& filter,
      const std::function<bool(const HistoryEntry&, const std::string&)>& row, std::string* error,
      const std::function<void(const HistoryEntry&, const std::string&)>& damaged) = 0;
  virtual bool Count(const HistoryFilter& filter, int64_t* count, std::string* error) = 0;
  virtual bool Ids(const HistoryFilter& filter, const std::string& column, bool ascending,
                   std::vector<int64_t>* ids, std::string* error) = 0;
  virtual bool ListingPlan(const HistoryFilter& filter, std::string* plan, std::string* error) = 0;
  virtual bool IdsPlan(const HistoryFilter& filter, std::string* plan, std::string* error) = 0;
  virtual bool Entries(const std::vector<int64_t>& ids, std::vector<HistoryEntry>* entries,
                       std::string* error) = 0;
  virtual bool Load(int64_t id, ScanRecord* record, std::string* error) = 0;
  virtual bool Delete(const std::vector<int64_t>& ids, std::string* error) = 0;
  virtual bool Prune(int64_t before, int64_t* removed, std::string* error) = 0;
  virtual bool Import(const std::vector<KeptRun>& runs, int64_t* added, int64_t* skipped,
                      std::string* error) = 0;
};

// What SetHistoryMigrationWatcher set; empty when nobody listens.
const std::function<void(const HistoryMigration&)>& HistoryMigrationWatcher();
