#include "history/lab_history_store.h"

#include <libpq-fe.h>
#include <poll.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <set>
#include <utility>

#include "records/record_packing.h"

// What a parameter list holds: texts, a NULL, or bytes.
struct LabParam {
  std::string value;
  bool null = false;
  bool binary = false;
};

namespace {

using LabClock = std::chrono::steady_clock;

// Type oids of the columns read (pg_type.h is the server's, not the client's).
constexpr Oid kLabInt8 = 20;
constexpr Oid kLabInt4 = 23;

// Serialises the making and bringing forward of the tables between stations.
constexpr int64_t kLabSchemaLock = 0x76656C6D6FLL;

// Summary rows and records, as in the station's history; the station each
// run came from; the time the server took it. Ids (bigserial) are the
// server's own; run_id is the run's, kept once.
constexpr char kLabSchema[] =
    "CREATE TABLE velmo_schema (version integer NOT NULL);"
    "CREATE TABLE runs ("
    " id bigserial PRIMARY KEY,"
    " run_id uuid NOT NULL UNIQUE,"
    " started bigint NOT NULL,"
    " start_time text NOT NULL,"
    " kind text NOT NULL,"
    " drive text NOT NULL,"
    " node text NOT NULL,"
    " disc_type text NOT NULL,"
    " mid text NOT NULL,"
    " maker text,"
    " speed text NOT NULL,"
    " density text NOT NULL,"
    " outcome text NOT NULL,"
    " max_te integer,"
    " max_fe integer,"
    " station text NOT NULL,"
    " received timestamptz NOT NULL DEFAULT now());"
    "CREATE TABLE records ("
    " id bigint PRIMARY KEY REFERENCES runs ON DELETE CASCADE,"
    " data bytea NOT NULL);"
    // The listing's order, an outcome sought directly, one station's runs,
    // and a run found by its start on import: chosen with EXPLAIN
    // (lab_history_bench).
    "CREATE INDEX runs_started ON runs (started DESC, id DESC);"
    "CREATE INDEX runs_outcome ON runs (outcome, started DESC, id DESC);"
    "CREATE INDEX runs_station ON runs (station, started DESC, id DESC);";

// Whether the tables are made, read from the catalog as it stands when the
// statement starts: to_regclass would answer from this session's cache,
// which taking the advisory lock does not refresh.
constexpr char kLabSchemaMade[] =
    "SELECT EXISTS (SELECT 1 FROM pg_catalog.pg_tables WHERE schemaname = current_schema()"
    " AND tablename = 'velmo_schema')";

constexpr char kLabColumns[] =
    "runs.id, start_time, kind, drive, disc_type, mid, maker, speed, density, outcome, max_te,"
    " max_fe, station";

// A run goes in once: an id already there is passed over, and so is a
// record without an id of its own whose start, drive and disc are there.
constexpr char kLabInsert[] =
    "WITH kept AS (INSERT INTO runs (run_id, started, start_time, kind, drive, node, disc_type,"
    " mid, maker, speed, density, outcome, max_te, max_fe, station)"
    " SELECT $1::uuid, $2::bigint, $3, $4, $5, $6, $7, $8, $9, $10, $11, $12, $13::integer,"
    " $14::integer, $15"
    " WHERE NOT ($17::boolean AND EXISTS (SELECT 1 FROM runs WHERE started = $2::bigint"
    " AND start_time = $3 AND drive = $5 AND node = $6 AND disc_type = $7 AND mid = $8))"
    " ON CONFLICT (run_id) DO NOTHING RETURNING id)"
    " INSERT INTO records (id, data) SELECT id, $16::bytea FROM kept RETURNING id";

// One connection, every wait bounded by the time-out and the stop flag.
// Results are read as binary, so records come as their bytes.
}  // namespace

class CLabConnection {
 public:
  ~CLabConnection() {
    if (m_conn != nullptr) PQfinish(m_conn);
  }

  // False with *error (and *lost: the server did not answer) when no
  // connection could be made in time.
  bool Connect(const std::string& url, int timeoutMs, const std::atomic<bool>* stop,
               std::string* error, bool* lost) {
    m_timeoutMs = timeoutMs;
    m_stop = stop;
    const char* keys[] = {"dbname", "fallback_application_name", nullptr};
    const char* values[] = {url.c_str(), "velmo", nullptr};
    m_conn = PQconnectStartParams(keys, values, 1);
    *lost = true;
    if (m_conn == nullptr) {
      *error = "out of memory";
      return false;
    }
    if (PQstatus(m_conn) == CONNECTION_BAD) {
      *error = Message();
      *lost = !Refusal(*error);
      return false;
    }
    const auto deadline = LabClock::now() + std::chrono::milliseconds(timeoutMs);
    PostgresPollingStatusType state = PGRES_POLLING_WRITING;
    while (state != PGRES_POLLING_OK) {
      if (state == PGRES_POLLING_FAILED) {
        *error = Message();
        *lost = !Refusal(*error);
        return false;
      }
      const int wait = Remaining(deadline);
      if (wait <= 0 || Stopped()) {
        *error = Stopped() ? "stopped" : "the server did not answer within " + Seconds();
        return false;
      }
      pollfd fd{PQsocket(m_conn),
                static_cast<short>(state == PGRES_POLLING_READING ? POLLIN : POLLOUT), 0};
      if (poll(&fd, 1, std::min(wait, 100)) < 0 && errno != EINTR) {
        *error = std::strerror(errno);
        return false;
      }
      if (fd.revents != 0) state = PQconnectPoll(m_conn);
    }
    PQsetnonblocking(m_conn, 1);
    return true;
  }

  // Prepares a statement under a name, once a connection; Send then takes
  // the name ("=NAME") for the text. A run's insert, made a hundred
  // thousand times in a push, is planned once.
  bool Prepare(const std::string& name, const std::string& sql, std::string* error,
               std::string* state) {
    error->clear();
    state->clear();
    if (m_prepared.count(name) != 0) return true;
    if (!PQsendPrepare(m_conn, name.c_str(), sql.c_str(), 0, nullptr) || !Flush(error)) {
      if (error->empty()) *error = Message();
      return false;
    }
    bool ok = true;
    while (PGresult* r = Next(error)) {
      if (PQresultStatus(r) != PGRES_COMMAND_OK && ok) {
        *error = ResultMessage(r);
        const char* code = PQresultErrorField(r, PG_DIAG_SQLSTATE);
        *state = code == nullptr ? "" : code;
        ok = false;
      }
      PQclear(r);
    }
    if (ok && error->empty()) m_prepared.insert(name);
    return ok && error->empty();
  }

  // Sends a statement (or a prepared one, "=NAME"); its results are then
  // read with Next.
  bool Send(const std::string& sql, const std::vector<LabParam>& params, bool singleRows,
            std::string* error) {
    std::vector<const char*> values;
    std::vector<int> lengths, formats;
    for (const LabParam& p : params) {
      values.push_back(p.null ? nullptr : p.value.data());
      lengths.push_back(static_cast<int>(p.value.size()));
      formats.push_back(p.binary ? 1 : 0);
    }
    const int sent =
        sql.rfind('=', 0) == 0
            ? PQsendQueryPrepared(m_conn, sql.c_str() + 1, static_cast<int>(params.size()),
                                  values.data(), lengths.data(), formats.data(), 1)
            : PQsendQueryParams(m_conn, sql.c_str(), static_cast<int>(params.size()), nullptr,
                                values.data(), lengths.data(), formats.data(), 1);
    if (!sent) {
      *error = Message();
      return false;
    }
    if (singleRows) PQsetSingleRowMode(m_conn);
    return Flush(error);
  }

  bool Flush(std::string* error) {
    const auto deadline = LabClock::now() + std::chrono::milliseconds(m_timeoutMs);
    int flushed;
    while ((flushed = PQflush(m_conn)) == 1) {
      if (!Wait(POLLOUT, deadline, error)) return false;
    }
    if (flushed < 0) {
      *error = Message();
      return false;
    }
    return true;
  }

  // The next result of the statement sent, or null at its end (or with
  // *error set when the server went quiet or away). The caller clears it.
  PGresult* Next(std::string* error) {
    const auto deadline = LabClock::now() + std::chrono::milliseconds(m_timeoutMs);
    while (PQisBusy(m_conn)) {
      if (!Wait(POLLIN, deadline, error)) return nullptr;
      if (!PQconsumeInput(m_conn)) {
        *error = Message();
        return nullptr;
      }
    }
    return PQgetResult(m_conn);
  }

  // Runs a statement to its end: its one result kept in *result (when given),
  // false with *error and *state (SQLSTATE) when it failed.
  bool Run(const std::string& sql, const std::vector<LabParam>& params, PGresult** result,
           std::string* error, std::string* state) {
    state->clear();
    error->clear();
    if (!Send(sql, params, false, error)) return false;
    bool ok = true;
    while (PGresult* r = Next(error)) {
      const ExecStatusType status = PQresultStatus(r);
      if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) {
        if (ok) {
          *error = ResultMessage(r);
          const char* code = PQresultErrorField(r, PG_DIAG_SQLSTATE);
          *state = code == nullptr ? "" : code;
        }
        ok = false;
      }
      if (result != nullptr && ok && *result == nullptr) {
        *result = r;
      } else {
        PQclear(r);
      }
    }
    if (!error->empty() && ok) ok = false;
    return ok;
  }

  bool Broken() const { return m_conn == nullptr || PQstatus(m_conn) == CONNECTION_BAD; }

  static std::string ResultMessage(const PGresult* r) {
    const char* primary = PQresultErrorField(r, PG_DIAG_MESSAGE_PRIMARY);
    if (primary != nullptr) return primary;
    return Trimmed(PQresultErrorMessage(r));
  }

  // An answer that says no rather than nothing: a wrong password, a role
  // the server does not know or lets in nowhere.
  static bool Refusal(const std::string& message) {
    for (const char* words : {"authentication failed", "password", "permission denied",
                              "does not exist", "no pg_hba.conf entry", "not permitted"}) {
      if (message.find(words) != std::string::npos) return true;
    }
    return false;
  }

 private:
  // libpq's message on one line: its lines joined, its hint indented.
  static std::string Trimmed(const char* text) {
    std::string s;
    bool space = false;
    for (const char* c = text == nullptr ? "" : text; *c != '\0'; ++c) {
      if (*c == '\n' || *c == '\t' || *c == ' ') {
        space = !s.empty();
      } else {
        if (space) s += ' ';
        space = false;
        s += *c;
      }
    }
    return s;
  }
  std::string Message() const { return Trimmed(PQerrorMessage(m_conn)); }
  bool Stopped() const { return m_stop != nullptr && m_stop->load(); }
  std::string Seconds() const {
    return std::to_string((m_timeoutMs + 999) / 1000) +
           (m_timeoutMs > 1000 ? " seconds" : " second");
  }
  static int Remaining(LabClock::time_point deadline) {
    return static_cast<int>(
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - LabClock::now()).count());
  }
  bool Wait(short events, LabClock::time_point deadline, std::string* error) {
    for (;;) {
      const int wait = Remaining(deadline);
      if (wait <= 0 || Stopped()) {
        *error = Stopped() ? "stopped" : "the server did not answer within " + Seconds();
        // Nothing more is read from a connection left mid-answer.
        PQfinish(m_conn);
        m_conn = nullptr;
        return false;
      }
      pollfd fd{PQsocket(m_conn), events, 0};
      const int n = poll(&fd, 1, std::min(wait, 100));
      if (n > 0) return true;
      if (n < 0 && errno != EINTR) {
        *error = std::strerror(errno);
        return false;
      }
    }
  }

  PGconn* m_conn = nullptr;
  int m_timeoutMs = 10000;
  const std::atomic<bool>* m_stop = nullptr;
  std::set<std::string> m_prepared;
};

namespace {

// A result's value: binary columns as their bytes; integers by their width.
std::string LabText(const PGresult* r, int row, int column) {
  return std::string(PQgetvalue(r, row, column), static_cast<size_t>(PQgetlength(r, row, column)));
}

int64_t LabInt(const PGresult* r, int row, int column) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(PQgetvalue(r, row, column));
  const int width = PQgetlength(r, row, column);
  if (PQftype(r, column) != kLabInt8 && PQftype(r, column) != kLabInt4) return 0;
  uint64_t value = 0;
  for (int i = 0; i < width; ++i) value = (value << 8) | bytes[i];
  return width == 4 ? static_cast<int32_t>(static_cast<uint32_t>(value))
                    : static_cast<int64_t>(value);
}

std::optional<int> LabIntOrNull(const PGresult* r, int row, int column) {
  if (PQgetisnull(r, row, column)) return std::nullopt;
  return static_cast<int>(LabInt(r, row, column));
}

HistoryEntry LabEntryOf(const PGresult* r, int row) {
  HistoryEntry e;
  e.id = LabInt(r, row, 0);
  e.startTime = LabText(r, row, 1);
  e.kind = LabText(r, row, 2) == "smart" ? RecordKind::kSmart : RecordKind::kScan;
  e.drive = LabText(r, row, 3);
  e.discType = LabText(r, row, 4);
  e.manufacturerId = LabText(r, row, 5);
  if (!PQgetisnull(r, row, 6)) e.manufacturerName = LabText(r, row, 6);
  e.speed = LabText(r, row, 7);
  e.density = LabText(r, row, 8);
  e.outcome = RunOutcomeFromName(LabText(r, row, 9)).value_or(RunOutcome::kAborted);
  e.maxTe = LabIntOrNull(r, row, 10);
  e.maxFe = LabIntOrNull(r, row, 11);
  e.host = LabText(r, row, 12);
  return e;
}

// A pattern matching text anywhere, the pattern's own wildcards escaped
// (LIKE's escape is the backslash).
std::string LabContains(const std::string& part) {
  std::string pattern = "%";
  for (const char c : part) {
    if (c == '%' || c == '_' || c == '\\') pattern += '\\';
    pattern += c;
  }
  return pattern + "%";
}

// A filter's WHERE clause; its values appended to params as $n.
std::string LabWhere(const HistoryFilter& filter, std::vector<LabParam>* params) {
  auto next = [params](std::string value) {
    params->push_back(LabParam{std::move(value)});
    return "$" + std::to_string(params->size());
  };
  std::string sql = " WHERE true";
  if (!filter.mid.empty()) sql += " AND mid ILIKE " + next(LabContains(filter.mid));
  if (!filter.drive.empty()) {
    const std::string p = next(LabContains(filter.drive));
    sql += " AND (drive ILIKE " + p + " OR node ILIKE " + p + ")";
  }
  if (!filter.station.empty()) sql += " AND station = " + next(filter.station);
  if (filter.since) sql += " AND started >= " + next(std::to_string(*filter.since)) + "::bigint";
  if (filter.before) sql += " AND started < " + next(std::to_string(*filter.before)) + "::bigint";
  if (!filter.outcomes.empty()) {
    sql += " AND outcome IN (";
    for (size_t i = 0; i < filter.outcomes.size(); ++i)
      sql += (i ? "," : "") + next(RunOutcomeName(filter.outcomes[i]));
    sql += ")";
  }
  return sql;
}

std::string LabLimit(const HistoryFilter& filter) {
  std::string sql;
  if (filter.limit > 0) sql += " LIMIT " + std::to_string(filter.limit);
  if (filter.offset > 0) sql += " OFFSET " + std::to_string(filter.offset);
  return sql;
}

// The ORDER BY of a column as the window orders it (as the station's
// history does): numbers as numbers, texts without regard to case.
std::optional<std::string> LabOrderOf(const std::string& column) {
  if (column == "id") return "runs.id";
  if (column == "started") return "started";
  if (column == "speed") {
    return "(CASE WHEN kind = 'smart' THEN NULL"
           " ELSE NULLIF(NULLIF(substring(speed from '^[0-9]+(?:\\.[0-9]+)?'), ''), '0')::real"
           " END) NULLS FIRST";
  }
  if (column == "maker") return "lower(COALESCE(maker, 'unknown'))";
  // A run without a reading comes last, whichever way the readings go.
  if (column == "max_te" || column == "max_fe") return column + " NULLS LAST";
  if (column == "host") return "lower(station)";
  for (const char* text : {"drive", "disc_type", "mid", "density", "outcome"}) {
    if (column == text) return "lower(" + column + ")";
  }
  return std::nullopt;
}

std::string LabIdsSql(const HistoryFilter& filter, const std::string& order, bool ascending,
                      std::vector<LabParam>* params) {
  std::string direction = ascending ? " ASC" : " DESC";
  std::string by = order;
  // A NULLS clause belongs after the direction. NULLS FIRST puts them with
  // the lowest (first going up, last going down), NULLS LAST last both ways.
  const size_t nulls = by.find(" NULLS ");
  std::string after;
  if (nulls != std::string::npos) {
    const bool last = by.compare(nulls, std::string::npos, " NULLS LAST") == 0;
    by = by.substr(0, nulls);
    after = last || !ascending ? " NULLS LAST" : " NULLS FIRST";
  }
  if (order == "started") {
    return "SELECT runs.id FROM runs" + LabWhere(filter, params) + " ORDER BY started" + direction +
           ", runs.id" + direction + LabLimit(filter);
  }
  return "SELECT runs.id FROM runs" + LabWhere(filter, params) + " ORDER BY " + by + direction +
         after + ", started DESC, runs.id DESC" + LabLimit(filter);
}

std::string LabListingSql(const HistoryFilter& filter, bool withRecord,
                          std::vector<LabParam>* params) {
  std::string sql = std::string("SELECT ") + kLabColumns;
  if (withRecord) sql += ", records.data";
  sql += " FROM runs";
  if (withRecord) sql += " JOIN records ON records.id = runs.id";
  return sql + LabWhere(filter, params) + " ORDER BY started DESC, runs.id DESC" + LabLimit(filter);
}

// Ids as one bigint[] parameter: {1,2,3}.
std::string LabIdArray(const std::vector<int64_t>& ids) {
  std::string list = "{";
  for (size_t i = 0; i < ids.size(); ++i) list += (i ? "," : "") + std::to_string(ids[i]);
  return list + "}";
}

std::vector<LabParam> LabInsertParams(const KeptRun& run) {
  auto number = [](const std::optional<int>& n) {
    return n ? LabParam{std::to_string(*n)} : LabParam{"", true};
  };
  return {LabParam{run.runId},
          LabParam{std::to_string(run.started)},
          LabParam{run.startTime},
          LabParam{run.kind},
          LabParam{run.drive},
          LabParam{run.node},
          LabParam{run.discType},
          LabParam{run.manufacturerId},
          run.manufacturerName ? LabParam{*run.manufacturerName} : LabParam{"", true},
          LabParam{run.speed},
          LabParam{run.density},
          LabParam{run.outcome},
          number(run.maxTe),
          number(run.maxFe),
          LabParam{run.host},
          LabParam{run.packed, false, true},
          LabParam{run.derivedId ? "true" : "false"}};
}

}  // namespace

CLabHistory::CLabHistory() = default;
CLabHistory::~CLabHistory() = default;

void CLabHistory::SetLimits(int timeoutMs, const std::atomic<bool>* stop) {
  m_timeoutMs = timeoutMs;
  m_stop = stop;
}

bool CLabHistory::Fail(HistoryFailure failure, const std::string& why, std::string* error) {
  m_failure = failure;
  *error = why;
  return false;
}

// A failed statement's failure: a right the role lacks, a server gone.
namespace {
HistoryFailure LabFailureOf(const std::string& state, bool broken) {
  if (state == "42501") return HistoryFailure::kRefused;
  if (broken || state.rfind("08", 0) == 0 || state == "57P01") return HistoryFailure::kUnreachable;
  return HistoryFailure::kOther;
}
}  // namespace

bool CLabHistory::Connect(const std::string& url, bool make, std::string* error) {
  m_failure = HistoryFailure::kNone;
  m_version = 0;
  m_db = std::make_unique<CLabConnection>();
  bool lost = false;
  if (!m_db->Connect(url, m_timeoutMs, m_stop, error, &lost)) {
    m_db.reset();
    m_failure = lost ? HistoryFailure::kUnreachable : HistoryFailure::kRefused;
    return false;
  }
  std::string state;
  auto failed = [&](const std::string& what) {
    return Fail(LabFailureOf(state, m_db->Broken()), what + *error, error);
  };
  PGresult* found = nullptr;
  if (!m_db->Run(kLabSchemaMade, {}, &found, error, &state)) return failed("");
  const bool made = PQntuples(found) == 1 && PQgetvalue(found, 0, 0)[0] == 1;
  PQclear(found);
  if (!made) {
    if (!make) {
      // Nothing to read yet: an empty history.
      return true;
    }
    // One station makes the tables; another that started at once waits on
    // the lock and finds them made.
    const std::string lock = "SELECT pg_advisory_xact_lock(" + std::to_string(kLabSchemaLock) + ")";
    if (!m_db->Run("BEGIN", {}, nullptr, error, &state) ||
        !m_db->Run(lock, {}, nullptr, error, &state)) {
      return failed("");
    }
    PGresult* again = nullptr;
    if (!m_db->Run(kLabSchemaMade, {}, &again, error, &state)) return failed("");
    const bool meanwhile = PQntuples(again) == 1 && PQgetvalue(again, 0, 0)[0] == 1;
    PQclear(again);
    if (!meanwhile) {
      const std::string stamp =
          "INSERT INTO velmo_schema (version) VALUES (" + std::to_string(kLabSchemaVersion) + ")";
      // One statement at a time: parameterised statements take no lists.
      bool madeAll = true;
      std::string schema = kLabSchema;
      for (size_t at = 0; madeAll && at < schema.size();) {
        const size_t end = schema.find(';', at);
        madeAll = m_db->Run(schema.substr(at, end - at), {}, nullptr, error, &state);
        at = end == std::string::npos ? schema.size() : end + 1;
      }
      // The version is the owner's alone to change: a station that could
      // stamp it would shut every other out. Default privileges may have
      // granted more than reading it to any role.
      constexpr char kLabSchemaKept[] =
          "DO $$ DECLARE r record; BEGIN"
          " FOR r IN SELECT DISTINCT grantee FROM information_schema.role_table_grants"
          " WHERE table_schema = current_schema() AND table_name = 'velmo_schema'"
          " AND privilege_type <> 'SELECT' AND grantee <> current_user LOOP"
          " EXECUTE format('REVOKE INSERT, UPDATE, DELETE, TRUNCATE ON velmo_schema FROM %I',"
          " r.grantee); END LOOP; END $$";
      if (!madeAll || !m_db->Run(stamp, {}, nullptr, error, &state) ||
          !m_db->Run(kLabSchemaKept, {}, nullptr, error, &state)) {
        std::string ignored, ignoredState;
        m_db->Run("ROLLBACK", {}, nullptr, &ignored, &ignoredState);
        if (state == "42501") {
          return Fail(HistoryFailure::kRefused,
                      "the lab history has no tables yet, and this role may not make them (" +
                          *error + "); the lab's owner role makes them on first use",
                      error);
        }
        return failed("cannot make the lab history's tables: ");
      }
    }
    if (!m_db->Run("COMMIT", {}, nullptr, error, &state)) return failed("");
  }
  PGresult* version = nullptr;
  if (!m_db->Run("SELECT max(version) FROM velmo_schema", {}, &version, error, &state))
    return failed("");
  m_version = PQntuples(version) == 1 && !PQgetisnull(version, 0, 0)
                  ? static_cast<int>(LabInt(version, 0, 0))
                  : 0;
  PQclear(version);
  if (m_version > kLabSchemaVersion) {
    return Fail(HistoryFailure::kNewer,
                "the lab history was made by a newer Velmo (schema version " +
                    std::to_string(m_version) + "; this one knows up to " +
                    std::to_string(kLabSchemaVersion) + "); nothing was written",
                error);
  }
  return true;
}

bool CLabHistory::Open(const std::string& url, std::string* error, std::string*) {
  return Connect(url, true, error);
}

bool CLabHistory::OpenForReading(const std::string& url, std::string* error, std::string*) {
  return Connect(url, false, error);
}

int64_t CLabHistory::Add(const KeptRun& run, std::string* error) {
  int64_t added = 0, skipped = 0;
  if (!Import({run}, &added, &skipped, error)) return 0;
  std::string state;
  PGresult* found = nullptr;
  if (!m_db->Run("SELECT id FROM runs WHERE run_id = $1::uuid", {LabParam{run.runId}}, &found,
                 error, &state)) {
    Fail(LabFailureOf(state, m_db->Broken()), *error, error);
    return 0;
  }
  const int64_t id = PQntuples(found) == 1 ? LabInt(found, 0, 0) : 0;
  PQclear(found);
  return id;
}

bool CLabHistory::Rows(
    const std::string& sql, const std::vector<LabParam>& params, bool withRecord,
    const std::function<bool(const HistoryEntry&, const std::string&)>& row, std::string* error,
    const std::function<void(const HistoryEntry&, const std::string&)>& damaged) {
  if (!m_db) return Fail(HistoryFailure::kOther, "the history is not open", error);
  if (m_version == 0) return true;  // no tables yet: no runs
  if (!m_db->Send(sql, params, true, error))
    return Fail(LabFailureOf("", m_db->Broken()), *error, error);
  // Row by row as the server sends them: the first shows at once, and a
  // million cost no more memory than ten. Read to the end even when the
  // caller has had enough, so the connection serves the next statement.
  bool wanted = true;
  error->clear();
  std::string failure, text;
  std::string state;
  while (PGresult* r = m_db->Next(error)) {
    const ExecStatusType status = PQresultStatus(r);
    if (status == PGRES_SINGLE_TUPLE && wanted) {
      const HistoryEntry e = LabEntryOf(r, 0);
      std::string packedError;
      if (!withRecord) {
        wanted = row(e, "");
      } else if (UnpackRecord(std::string_view(PQgetvalue(r, 0, 13),
                                               static_cast<size_t>(PQgetlength(r, 0, 13))),
                              &text, &packedError)) {
        wanted = row(e, text);
      } else if (damaged) {
        damaged(e, "run " + std::to_string(e.id) + ": " + packedError);
      } else {
        failure = "run " + std::to_string(e.id) + ": " + packedError;
        wanted = false;
      }
    } else if (status != PGRES_SINGLE_TUPLE && status != PGRES_TUPLES_OK && failure.empty()) {
      failure = CLabConnection::ResultMessage(r);
      const char* code = PQresultErrorField(r, PG_DIAG_SQLSTATE);
      state = code == nullptr ? "" : code;
    }
    PQclear(r);
  }
  if (!error->empty()) return Fail(LabFailureOf("", true), *error, error);
  if (!failure.empty()) return Fail(LabFailureOf(state, m_db->Broken()), failure, error);
  return true;
}

bool CLabHistory::Each(const HistoryFilter& filter,
                       const std::function<bool(const HistoryEntry&)>& row, std::string* error) {
  std::vector<LabParam> params;
  const std::string sql = LabListingSql(filter, false, &params);
  return Rows(
      sql, params, false, [&row](const HistoryEntry& e, const std::string&) { return row(e); },
      error, nullptr);
}

bool CLabHistory::EachRecord(
    const HistoryFilter& filter,
    const std::function<bool(const HistoryEntry&, const std::string&)>& row, std::string* error,
    const std::function<void(const HistoryEntry&, const std::string&)>& damaged) {
  std::vector<LabParam> params;
  const std::string sql = LabListingSql(filter, true, &params);
  return Rows(sql, params, true, row, error, damaged);
}

bool CLabHistory::Count(const HistoryFilter& filter, int64_t* count, std::string* error) {
  *count = 0;
  if (!m_db) return Fail(HistoryFailure::kOther, "the history is not open", error);
  if (m_version == 0) return true;
  std::vector<LabParam> params;
  const std::string sql = "SELECT count(*) FROM runs" + LabWhere(filter, &params);
  PGresult* r = nullptr;
  std::string state;
  if (!m_db->Run(sql, params, &r, error, &state))
    return Fail(LabFailureOf(state, m_db->Broken()), *error, error);
  *count = LabInt(r, 0, 0);
  PQclear(r);
  return true;
}

bool CLabHistory::Ids(const HistoryFilter& filter, const std::string& column, bool ascending,
                      std::vector<int64_t>* ids, std::string* error) {
  ids->clear();
  if (!m_db) return Fail(HistoryFailure::kOther, "the history is not open", error);
  const auto order = LabOrderOf(column);
  if (!order) return Fail(HistoryFailure::kOther, "no column " + column + " to order by", error);
  if (m_version == 0) return true;
  std::vector<LabParam> params;
  const std::string sql = LabIdsSql(filter, *order, ascending, &params);
  PGresult* r = nullptr;
  std::string state;
  if (!m_db->Run(sql, params, &r, error, &state))
    return Fail(LabFailureOf(state, m_db->Broken()), *error, error);
  const int rows = PQntuples(r);
  ids->reserve(static_cast<size_t>(rows));
  for (int i = 0; i < rows; ++i) ids->push_back(LabInt(r, i, 0));
  PQclear(r);
  return true;
}

namespace {
std::string LabPlanOf(CLabConnection* db, const std::string& sql,
                      const std::vector<LabParam>& params, std::string* error, bool* ok) {
  PGresult* r = nullptr;
  std::string state;
  *ok = db->Run("EXPLAIN " + sql, params, &r, error, &state);
  std::string plan;
  if (!*ok) return plan;
  for (int i = 0; i < PQntuples(r); ++i) plan += LabText(r, i, 0) + "\n";
  PQclear(r);
  return plan;
}
}  // namespace

bool CLabHistory::ListingPlan(const HistoryFilter& filter, std::string* plan, std::string* error) {
  if (!m_db || m_version == 0) return Fail(HistoryFailure::kOther, "no lab history tables", error);
  std::vector<LabParam> params;
  const std::string sql = LabListingSql(filter, false, &params);
  bool ok = false;
  *plan = LabPlanOf(m_db.get(), sql, params, error, &ok);
  return ok || Fail(HistoryFailure::kOther, *error, error);
}

bool CLabHistory::IdsPlan(const HistoryFilter& filter, std::string* plan, std::string* error) {
  if (!m_db || m_version == 0) return Fail(HistoryFailure::kOther, "no lab history tables", error);
  std::vector<LabParam> params;
  const std::string sql = LabIdsSql(filter, "started", false, &params);
  bool ok = false;
  *plan = LabPlanOf(m_db.get(), sql, params, error, &ok);
  return ok || Fail(HistoryFailure::kOther, *error, error);
}

bool CLabHistory::Entries(const std::vector<int64_t>& ids, std::vector<HistoryEntry>* entries,
                          std::string* error) {
  entries->clear();
  if (!m_db) return Fail(HistoryFailure::kOther, "the history is not open", error);
  if (m_version == 0 || ids.empty()) return true;
  const std::string list = LabIdArray(ids);
  PGresult* r = nullptr;
  std::string state;
  if (!m_db->Run(std::string("SELECT ") + kLabColumns + " FROM runs WHERE id = ANY($1::bigint[])",
                 {LabParam{list}}, &r, error, &state))
    return Fail(LabFailureOf(state, m_db->Broken()), *error, error);
  for (int i = 0; i < PQntuples(r); ++i) entries->push_back(LabEntryOf(r, i));
  PQclear(r);
  return true;
}

bool CLabHistory::Load(int64_t id, ScanRecord* record, std::string* error) {
  if (!m_db) return Fail(HistoryFailure::kOther, "the history is not open", error);
  const std::string missing = "no run " + std::to_string(id) + " in the history";
  if (m_version == 0) return Fail(HistoryFailure::kOther, missing, error);
  PGresult* r = nullptr;
  std::string state;
  if (!m_db->Run("SELECT data FROM records WHERE id = $1::bigint", {LabParam{std::to_string(id)}},
                 &r, error, &state))
    return Fail(LabFailureOf(state, m_db->Broken()), *error, error);
  if (PQntuples(r) != 1) {
    PQclear(r);
    return Fail(HistoryFailure::kOther, missing, error);
  }
  std::string text;
  const bool unpacked =
      UnpackRecord(std::string_view(PQgetvalue(r, 0, 0), static_cast<size_t>(PQgetlength(r, 0, 0))),
                   &text, error);
  PQclear(r);
  if (!unpacked || !ReadRecordJson(text, record, error)) {
    return Fail(HistoryFailure::kOther, "run " + std::to_string(id) + ": " + *error, error);
  }
  return true;
}

bool CLabHistory::Delete(const std::vector<int64_t>& ids, std::string* error) {
  if (!m_db || m_version == 0)
    return Fail(HistoryFailure::kOther, "no such runs in the lab history", error);
  std::vector<int64_t> runs = ids;
  std::sort(runs.begin(), runs.end());
  runs.erase(std::unique(runs.begin(), runs.end()), runs.end());
  const std::string list = LabIdArray(runs);
  std::string state, ignored, ignoredState;
  PGresult* r = nullptr;
  // All or none: an id not there undoes the rest.
  if (!m_db->Run("BEGIN", {}, nullptr, error, &state) ||
      !m_db->Run("DELETE FROM runs WHERE id = ANY($1::bigint[]) RETURNING id", {LabParam{list}}, &r,
                 error, &state)) {
    m_db->Run("ROLLBACK", {}, nullptr, &ignored, &ignoredState);
    return Fail(LabFailureOf(state, m_db->Broken()), *error, error);
  }
  std::vector<int64_t> gone;
  for (int i = 0; i < PQntuples(r); ++i) gone.push_back(LabInt(r, i, 0));
  PQclear(r);
  std::sort(gone.begin(), gone.end());
  if (gone != runs) {
    m_db->Run("ROLLBACK", {}, nullptr, &ignored, &ignoredState);
    for (const int64_t id : runs) {
      if (!std::binary_search(gone.begin(), gone.end(), id))
        return Fail(HistoryFailure::kOther, "no run " + std::to_string(id) + " in the history",
                    error);
    }
  }
  if (!m_db->Run("COMMIT", {}, nullptr, error, &state))
    return Fail(LabFailureOf(state, m_db->Broken()), *error, error);
  return true;
}

bool CLabHistory::Prune(int64_t before, int64_t* removed, std::string* error) {
  *removed = 0;
  if (!m_db) return Fail(HistoryFailure::kOther, "the history is not open", error);
  if (m_version == 0) return true;
  PGresult* r = nullptr;
  std::string state;
  if (!m_db->Run("DELETE FROM runs WHERE started < $1::bigint", {LabParam{std::to_string(before)}},
                 &r, error, &state))
    return Fail(LabFailureOf(state, m_db->Broken()), *error, error);
  *removed = std::atoll(PQcmdTuples(r));
  PQclear(r);
  return true;
}

bool CLabHistory::Import(const std::vector<KeptRun>& runs, int64_t* added, int64_t* skipped,
                         std::string* error) {
  *added = *skipped = 0;
  if (!m_db) return Fail(HistoryFailure::kOther, "the history is not open", error);
  if (m_version == 0) {
    return Fail(HistoryFailure::kRefused,
                "the lab history has no tables yet; the lab's owner role makes them on first use",
                error);
  }
  std::string state, ignored, ignoredState;
  if (!m_db->Run("BEGIN", {}, nullptr, error, &state))
    return Fail(LabFailureOf(state, m_db->Broken()), *error, error);
  int64_t in = 0;
  if (!m_db->Prepare("velmo_insert", kLabInsert, error, &state)) {
    if (!m_db->Broken()) m_db->Run("ROLLBACK", {}, nullptr, &ignored, &ignoredState);
    return Fail(LabFailureOf(state, m_db->Broken()), *error, error);
  }
  for (const KeptRun& run : runs) {
    PGresult* r = nullptr;
    if (!m_db->Run("=velmo_insert", LabInsertParams(run), &r, error, &state)) {
      if (!m_db->Broken()) m_db->Run("ROLLBACK", {}, nullptr, &ignored, &ignoredState);
      return Fail(LabFailureOf(state, m_db->Broken()), *error, error);
    }
    in += PQntuples(r);
    PQclear(r);
  }
  if (!m_db->Run("COMMIT", {}, nullptr, error, &state))
    return Fail(LabFailureOf(state, m_db->Broken()), *error, error);
  *added = in;
  *skipped = static_cast<int64_t>(runs.size()) - in;
  return true;
}
