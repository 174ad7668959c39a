// The history on a lab's PostgreSQL server (libpq): the summary rows and the
// packed records of every station's runs, each run's id kept once. Its
// tables are made on first use by a role that may, and carry a version of
// their own (velmo_schema): a newer one is refused, nothing written. Every
// query is parameterised; every wait for the server is bounded, so a
// server that never answers ends in an error, not a hang.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "history/history_store.h"

// The version of the server's tables this build makes and reads.
inline constexpr int kLabSchemaVersion = 1;

class CLabConnection;
struct LabParam;

class CLabHistory final : public HistoryStore {
 public:
  CLabHistory();
  ~CLabHistory() override;
  CLabHistory(const CLabHistory&) = delete;
  CLabHistory& operator=(const CLabHistory&) = delete;

  // How long a wait for the server may take (ms), and what stops it early.
  void SetLimits(int timeoutMs, const std::atomic<bool>* stop);
  // The version of the server's tables found on open (0: none yet).
  int SchemaVersion() const { return m_version; }

  // As CHistory's methods of the same names (history.h); a location is the
  // server's URL.
  bool Open(const std::string& url, std::string* error, std::string* notice) override;
  bool OpenForReading(const std::string& url, std::string* error, std::string* notice) override;
  HistoryFailure Failure() const override { return m_failure; }
  bool ReadOnly() const override { return false; }
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

 private:
  bool Connect(const std::string& url, bool make, std::string* error);
  bool Fail(HistoryFailure failure, const std::string& why, std::string* error);
  bool Rows(const std::string& sql, const std::vector<LabParam>& params, bool withRecord,
            const std::function<bool(const HistoryEntry&, const std::string&)>& row,
            std::string* error,
            const std::function<void(const HistoryEntry&, const std::string&)>& damaged);

  std::unique_ptr<CLabConnection> m_db;
  HistoryFailure m_failure = HistoryFailure::kNone;
  int m_version = 0;
  int m_timeoutMs = 10000;  // a server silent this long is taken for away
  const std::atomic<bool>* m_stop = nullptr;
};
