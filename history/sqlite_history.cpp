#include "history/sqlite_history.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <utility>

#include "records/record_packing.h"
#include "records/run_id.h"

namespace {

// How long a writer waits for another: above what bringing forward a large
// history takes (15 s for 100,000 runs, 60 s for 250,000), so that a run
// that ends meanwhile is kept, and still bounded.
constexpr int kBusyTimeoutMs = 120000;

// Summary rows, one a run, for listing and filtering; each run's record,
// deflated, in a table of its own so that a listing never reads past it.
constexpr char kSchema[] =
    "CREATE TABLE IF NOT EXISTS runs ("
    " id INTEGER PRIMARY KEY AUTOINCREMENT,"
    " started INTEGER NOT NULL,"
    " start_time TEXT NOT NULL,"
    " kind TEXT NOT NULL,"
    " drive TEXT NOT NULL,"
    " node TEXT NOT NULL,"
    " disc_type TEXT NOT NULL,"
    " mid TEXT NOT NULL,"
    " maker TEXT,"
    " speed TEXT NOT NULL,"
    " density TEXT NOT NULL,"
    " outcome TEXT NOT NULL,"
    " max_te INTEGER,"
    " max_fe INTEGER,"
    " host TEXT NOT NULL DEFAULT '',"
    " run_id TEXT,"
    " pushed INTEGER NOT NULL DEFAULT 0);"
    "CREATE TABLE IF NOT EXISTS records (id INTEGER PRIMARY KEY, data BLOB NOT NULL);";

// The listing's order with the texts the filters look into: a filter on
// manufacturer ID or drive (any part of them, so no index can seek it) is
// tested on the index entry, and only the rows it lets through are read;
// the same entries find a run by its start time on import. An outcome is
// sought directly. The order alone, the narrowest, is what the History
// window reads whole when it opens: a seventh of the listing's index, so a
// million runs come off a cold disk in a fraction of a second. Chosen by
// their query plans (history_scale_test).
constexpr char kIndexes[] =
    "CREATE INDEX IF NOT EXISTS runs_started ON runs (started DESC, id DESC);"
    "CREATE INDEX IF NOT EXISTS runs_order ON runs (started DESC, id DESC, mid, drive, node);"
    "CREATE INDEX IF NOT EXISTS runs_outcome ON runs (outcome, started DESC, id DESC);"
    "CREATE UNIQUE INDEX IF NOT EXISTS runs_run_id ON runs (run_id);"
    "CREATE INDEX IF NOT EXISTS runs_waiting ON runs (id) WHERE pushed = 0;";

// A run goes in as its summary row, then its record under the row's id.
constexpr char kInsertRun[] =
    "INSERT INTO runs (started, start_time, kind, drive, node, disc_type, mid,"
    " maker, speed, density, outcome, max_te, max_fe, host, run_id)"
    " VALUES (?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)";
constexpr char kInsertRecord[] = "INSERT INTO records (id, data) VALUES (?,?)";

constexpr char kColumns[] =
    "runs.id, start_time, kind, drive, disc_type, mid, maker, speed, density, outcome, max_te,"
    " max_fe, host";
// A version 1 history read where it cannot be brought forward: no host, the
// record's text in its summary row.
constexpr char kLegacyColumns[] =
    "runs.id, start_time, kind, drive, disc_type, mid, maker, speed, density, outcome, max_te,"
    " max_fe, '' AS host";

// Statements finalised on every path.
class CStatement {
 public:
  CStatement(sqlite3* db, const char* sql) {
    m_rc = sqlite3_prepare_v2(db, sql, -1, &m_stmt, nullptr);
  }
  ~CStatement() { sqlite3_finalize(m_stmt); }
  CStatement(const CStatement&) = delete;
  CStatement& operator=(const CStatement&) = delete;
  bool Ok() const { return m_rc == SQLITE_OK; }
  sqlite3_stmt* get() const { return m_stmt; }

 private:
  sqlite3_stmt* m_stmt = nullptr;
  int m_rc = SQLITE_OK;
};

std::string ColumnText(sqlite3_stmt* stmt, int column) {
  const unsigned char* text = sqlite3_column_text(stmt, column);
  return text == nullptr ? ""
                         : std::string(reinterpret_cast<const char*>(text),
                                       static_cast<size_t>(sqlite3_column_bytes(stmt, column)));
}

std::optional<int> IntOrNull(sqlite3_stmt* stmt, int column) {
  if (sqlite3_column_type(stmt, column) == SQLITE_NULL) return std::nullopt;
  return sqlite3_column_int(stmt, column);
}

void BindText(sqlite3_stmt* stmt, int index, const std::string& text) {
  sqlite3_bind_text(stmt, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
}

// A LIKE pattern matching text anywhere, the pattern's own wildcards escaped.
std::string ContainsPattern(const std::string& part) {
  std::string pattern = "%";
  for (const char c : part) {
    if (c == '%' || c == '_' || c == '\\') pattern += '\\';
    pattern += c;
  }
  return pattern + "%";
}

bool MakeFolders(const std::string& folder) {
  for (size_t at = 1; at <= folder.size(); ++at) {
    if (at == folder.size() || folder[at] == '/') {
      const std::string part = folder.substr(0, at);
      if (mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return false;
    }
  }
  return true;
}

bool Exists(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0;
}

// Whether this process may write the file and make files beside it (WAL's
// -wal and -shm); *why is the errno when not.
bool Writable(const std::string& path, int* why) {
  const size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? "."
                             : slash == 0               ? "/"
                                                        : path.substr(0, slash);
  for (const std::string& target : {path, folder}) {
    if (access(target.c_str(), W_OK) != 0) {
      *why = errno;
      return false;
    }
  }
  return true;
}

// The URI that opens path read-only; its own '?', '#' and '%' escaped.
std::string FileUri(const std::string& path, bool immutable) {
  std::string uri = path.size() > 0 && path[0] == '/' ? "file://" : "file:";
  for (const char c : path) {
    if (c == '?' || c == '#' || c == '%') {
      char hex[4];
      std::snprintf(hex, sizeof hex, "%%%02X", static_cast<unsigned char>(c));
      uri += hex;
    } else {
      uri += c;
    }
  }
  return uri + (immutable ? "?mode=ro&immutable=1" : "?mode=ro");
}

// The version in the file's own header, read before SQLite opens it for
// use: opening a WAL database already makes files beside it. Read through
// SQLite as an immutable file, never with a descriptor of our own: closing
// one would drop every lock this process holds on the file (POSIX locks are
// the process's), and another program would take a connection still open
// here (the History window's) for gone and remove its WAL. Nothing for what
// is not a database file.
std::optional<int> HeaderVersion(const std::string& path) {
  struct stat info {};
  if (stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_size < 100)
    return std::nullopt;
  sqlite3* db = nullptr;
  std::optional<int> version;
  if (sqlite3_open_v2(FileUri(path, true).c_str(), &db, SQLITE_OPEN_READONLY | SQLITE_OPEN_URI,
                      nullptr) == SQLITE_OK) {
    sqlite3_stmt* pragma = nullptr;
    if (sqlite3_prepare_v2(db, "PRAGMA user_version;", -1, &pragma, nullptr) == SQLITE_OK &&
        sqlite3_step(pragma) == SQLITE_ROW) {
      version = sqlite3_column_int(pragma, 0);
    }
    sqlite3_finalize(pragma);
  }
  sqlite3_close_v2(db);
  return version;
}

// What reading a WAL history without its -shm file where none can be made
// fails with: CANTOPEN, or READONLY (CANTINIT) when the file exists but may
// not be written.
bool NoWalIndex(int code) {
  const int primary = code & 0xFF;
  return primary == SQLITE_CANTOPEN || primary == SQLITE_READONLY;
}

bool Damaged(int code) {
  const int primary = code & 0xFF;
  return primary == SQLITE_CORRUPT || primary == SQLITE_NOTADB;
}

// The WHERE clause of a filter, its values bound by BindFilter.
std::string WhereOf(const HistoryFilter& filter) {
  std::string sql = " WHERE 1";
  if (!filter.mid.empty()) sql += " AND mid LIKE ?1 ESCAPE '\\'";
  if (!filter.drive.empty()) sql += " AND (drive LIKE ?2 ESCAPE '\\' OR node LIKE ?2 ESCAPE '\\')";
  if (filter.since) sql += " AND started >= ?3";
  if (filter.before) sql += " AND started < ?4";
  if (!filter.station.empty()) sql += " AND host = ?5";
  if (!filter.outcomes.empty()) {
    sql += " AND outcome IN (";
    for (size_t i = 0; i < filter.outcomes.size(); ++i) {
      sql += (i ? ",'" : "'") + std::string(RunOutcomeName(filter.outcomes[i])) + "'";
    }
    sql += ")";
  }
  return sql;
}

std::string LimitOf(const HistoryFilter& filter) {
  if (filter.limit <= 0 && filter.offset <= 0) return "";
  return " LIMIT " + std::to_string(filter.limit > 0 ? filter.limit : -1) + " OFFSET " +
         std::to_string(std::max<int64_t>(filter.offset, 0));
}

void BindFilter(sqlite3_stmt* s, const HistoryFilter& filter) {
  if (!filter.mid.empty()) BindText(s, 1, ContainsPattern(filter.mid));
  if (!filter.drive.empty()) BindText(s, 2, ContainsPattern(filter.drive));
  if (filter.since) sqlite3_bind_int64(s, 3, *filter.since);
  if (filter.before) sqlite3_bind_int64(s, 4, *filter.before);
  if (!filter.station.empty()) BindText(s, 5, filter.station);
}

// The listing, newest first; with each run's stored record after its row.
// The runs in time order with a filter on manufacturer ID or drive are read
// through the listing's index, which holds those texts: left to itself,
// SQLite takes the narrower order index and reads every row to test them.
// A history of version 1, read as it is, has only that one.
std::string TimeOrderIndex(const HistoryFilter& filter, bool legacy) {
  const bool texts = !filter.mid.empty() || !filter.drive.empty();
  return texts && filter.outcomes.empty() && !legacy ? " INDEXED BY runs_order" : "";
}

std::string ListingSql(const HistoryFilter& filter, bool legacy, bool withRecord) {
  std::string sql = std::string("SELECT ") + (legacy ? kLegacyColumns : kColumns);
  if (withRecord)
    sql += legacy ? ", record" : ", (SELECT data FROM records WHERE records.id = runs.id)";
  return sql + " FROM runs" + TimeOrderIndex(filter, legacy) + WhereOf(filter) +
         " ORDER BY started DESC, runs.id DESC" + LimitOf(filter);
}

// A row of kColumns.
HistoryEntry EntryOf(sqlite3_stmt* s) {
  HistoryEntry e;
  e.id = sqlite3_column_int64(s, 0);
  e.startTime = ColumnText(s, 1);
  e.kind = ColumnText(s, 2) == "smart" ? RecordKind::kSmart : RecordKind::kScan;
  e.drive = ColumnText(s, 3);
  e.discType = ColumnText(s, 4);
  e.manufacturerId = ColumnText(s, 5);
  if (sqlite3_column_type(s, 6) != SQLITE_NULL) e.manufacturerName = ColumnText(s, 6);
  e.speed = ColumnText(s, 7);
  e.density = ColumnText(s, 8);
  e.outcome = RunOutcomeFromName(ColumnText(s, 9)).value_or(RunOutcome::kAborted);
  e.maxTe = IntOrNull(s, 10);
  e.maxFe = IntOrNull(s, 11);
  e.host = ColumnText(s, 12);
  return e;
}

// The record's text in a column: packed from version 2 on, as it is in a
// version 1 history read as it stands.
bool StoredText(sqlite3_stmt* s, int column, bool legacy, int64_t id, std::string* text,
                std::string* error) {
  const auto* data = static_cast<const char*>(sqlite3_column_blob(s, column));
  const std::string_view stored(data == nullptr ? "" : data,
                                static_cast<size_t>(sqlite3_column_bytes(s, column)));
  if (legacy) {
    text->assign(stored);
    return true;
  }
  if (UnpackRecord(stored, text, error)) return true;
  *error = "run " + std::to_string(id) + ": " + *error;
  return false;
}

// velmo_pack(text): a version 1 record packed as version 2 keeps it.
void PackFunction(sqlite3_context* context, int, sqlite3_value** values) {
  const auto* text = static_cast<const char*>(sqlite3_value_blob(values[0]));
  const std::string packed = PackRecord(std::string_view(
      text == nullptr ? "" : text, static_cast<size_t>(sqlite3_value_bytes(values[0]))));
  sqlite3_result_blob(context, packed.data(), static_cast<int>(packed.size()), SQLITE_TRANSIENT);
}

// velmo_run_id(start_time, drive, node, disc_type, mid, n): the id a run
// kept before ids were gets (DerivedRunId); the n-th run of the same start,
// drive and disc (two runs within one second) gets one of its own.
void RunIdFunction(sqlite3_context* context, int, sqlite3_value** values) {
  std::string parts[5];
  for (int i = 0; i < 5; ++i) {
    const auto* text = reinterpret_cast<const char*>(sqlite3_value_text(values[i]));
    parts[i] = text == nullptr ? "" : text;
  }
  const int64_t n = sqlite3_value_int64(values[5]);
  if (n > 0) parts[4] += "#" + std::to_string(n);
  const std::string id = DerivedRunId(parts[0], parts[1], parts[2], parts[3], parts[4]);
  sqlite3_result_text(context, id.c_str(), static_cast<int>(id.size()), SQLITE_TRANSIENT);
}

bool HasColumn(sqlite3* db, const char* table, const char* column) {
  CStatement info(db, (std::string("SELECT 1 FROM pragma_table_info('") + table +
                       "') WHERE name = '" + column + "'")
                          .c_str());
  return info.Ok() && sqlite3_step(info.get()) == SQLITE_ROW;
}

// The ORDER BY of a column as the window orders it: numbers as numbers,
// texts without regard to case, a cell without a number first.
std::optional<std::string> OrderOf(const std::string& column) {
  if (column == "id") return "runs.id";
  if (column == "started") return "started";
  if (column == "speed") {
    return "(CASE WHEN kind = 'smart' OR CAST(speed AS REAL) = 0 THEN NULL"
           " ELSE CAST(speed AS REAL) END)";
  }
  if (column == "maker") return "COALESCE(maker, 'unknown') COLLATE NOCASE";
  // A run without a reading comes last, whichever way the readings go.
  if (column == "max_te" || column == "max_fe") return "(" + column + " IS NULL), " + column;
  for (const char* text : {"drive", "disc_type", "mid", "density", "outcome", "host"}) {
    if (column == text) return column + " COLLATE NOCASE";
  }
  return std::nullopt;
}

// The ids of the runs a filter lets through, in an ORDER BY's order (ties
// newest first).
std::string IdsSql(const HistoryFilter& filter, const std::string& order, bool ascending,
                   bool legacy) {
  const std::string direction = ascending ? " ASC" : " DESC";
  if (order == "started") {
    return "SELECT runs.id FROM runs" + TimeOrderIndex(filter, legacy) + WhereOf(filter) +
           " ORDER BY started" + direction + ", runs.id" + direction + LimitOf(filter);
  }
  return "SELECT runs.id FROM runs" + WhereOf(filter) + " ORDER BY " + order + direction +
         ", started DESC, runs.id DESC" + LimitOf(filter);
}

std::string Timestamp() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char text[32];
  std::strftime(text, sizeof text, "%Y%m%d-%H%M%S", &local);
  return text;
}

}  // namespace

CSqliteHistory::~CSqliteHistory() { Close(); }

void CSqliteHistory::Close() {
  if (m_db != nullptr) sqlite3_close_v2(m_db);
  m_db = nullptr;
}

bool CSqliteHistory::RefuseNewer(const std::string& path, int version, std::string* error) {
  if (version <= kHistoryVersion) return false;
  m_newer = true;
  *error = path + " was written by a newer Velmo (history version " + std::to_string(version) +
           "; this one reads up to " + std::to_string(kHistoryVersion) + ")";
  return true;
}

bool CSqliteHistory::CheckVersion(const std::string& path, int* version, std::string* error,
                                  int* code) {
  CStatement pragma(m_db, "PRAGMA user_version;");
  *code = pragma.Ok() ? sqlite3_step(pragma.get()) : sqlite3_errcode(m_db);
  if (*code != SQLITE_ROW) {
    *error = path + ": " + sqlite3_errmsg(m_db);
    return false;
  }
  *code = SQLITE_OK;
  // Besides the header: a newer writer's change may still be in its WAL.
  *version = sqlite3_column_int(pragma.get(), 0);
  if (!RefuseNewer(path, *version, error)) return true;
  *code = SQLITE_ERROR;
  return false;
}

bool CSqliteHistory::OpenFile(const std::string& path, std::string* error, int* code) {
  Close();
  m_path = path;
  m_readOnly = false;
  m_legacy = false;
  *code = sqlite3_open_v2(path.c_str(), &m_db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
  if (*code == SQLITE_OK) {
    sqlite3_busy_timeout(m_db, kBusyTimeoutMs);
    // Closing the last connection folds the WAL into the file: not before we
    // know the file is ours to write.
    sqlite3_db_config(m_db, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
    // The version is the first read of the file, so damage shows here.
    int version = 0;
    if (!CheckVersion(path, &version, error, code)) {
      Close();
      return false;
    }
    sqlite3_db_config(m_db, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 0, nullptr);
    // WAL lets the window and velmo-cli write the same history.
    *code = sqlite3_exec(m_db, "PRAGMA journal_mode=WAL;", nullptr, nullptr, nullptr);
    // Immediate: of two programs opening an older history at once, one
    // brings it forward and the other finds it done.
    if (*code == SQLITE_OK && version < kHistoryVersion) {
      *code = sqlite3_exec(m_db, "BEGIN IMMEDIATE;", nullptr, nullptr, nullptr);
      if (*code == SQLITE_OK) {
        *code = Migrate();
        if (*code == SQLITE_OK) {
          *code = sqlite3_exec(m_db, "COMMIT;", nullptr, nullptr, nullptr);
          if (*code == SQLITE_OK) Compact();
        } else {
          std::string message = sqlite3_errmsg(m_db);
          sqlite3_exec(m_db, "ROLLBACK;", nullptr, nullptr, nullptr);
          *error = path + ": " + message;
          Close();
          return false;
        }
      }
    }
    if (*code == SQLITE_OK) {
      *code =
          sqlite3_exec(m_db, "SELECT count(*) FROM runs WHERE id = 0;", nullptr, nullptr, nullptr);
    }
  }
  if (*code == SQLITE_OK) return true;
  *error = path + ": " + (m_db != nullptr ? sqlite3_errmsg(m_db) : sqlite3_errstr(*code));
  Close();
  return false;
}

bool CSqliteHistory::OpenReadOnly(const std::string& path, std::string* error) {
  // A WAL history needs its -shm file beside it; in a read-only folder none
  // can be made once the last writer has removed it. Then the file alone is
  // read as it is (immutable): nobody can be writing it there.
  for (const bool immutable : {false, true}) {
    Close();
    m_readOnly = true;
    int code = sqlite3_open_v2(FileUri(path, immutable).c_str(), &m_db,
                               SQLITE_OPEN_READONLY | SQLITE_OPEN_URI, nullptr);
    if (code == SQLITE_OK) {
      sqlite3_busy_timeout(m_db, kBusyTimeoutMs);
      int version = 0;
      if (!CheckVersion(path, &version, error, &code)) {
        if (m_newer || immutable || !NoWalIndex(code)) break;
        continue;
      }
      code =
          sqlite3_exec(m_db, "SELECT count(*) FROM runs WHERE id = 0;", nullptr, nullptr, nullptr);
      m_legacy = HasColumn(m_db, "runs", "record");
      if (code == SQLITE_OK) return true;
    }
    *error = path + ": " + (m_db != nullptr ? sqlite3_errmsg(m_db) : sqlite3_errstr(code));
    if (immutable || !NoWalIndex(code)) break;
  }
  Close();
  return false;
}

bool CSqliteHistory::Open(const std::string& path, std::string* error, std::string* notice) {
  m_newer = false;
  if (path.empty()) {
    *error = "no place for it (neither XDG_DATA_HOME nor HOME is set)";
    return false;
  }
  const size_t slash = path.rfind('/');
  if (slash != std::string::npos && slash > 0 && !MakeFolders(path.substr(0, slash))) {
    *error = path.substr(0, slash) + ": " + std::strerror(errno);
    return false;
  }
  if (RefuseNewer(path, HeaderVersion(path).value_or(0), error)) return false;
  // SQLite would open it read-only without a word and fail at the first
  // write with words of its own.
  if (int why = 0; Exists(path) && !Writable(path, &why)) {
    *error = path + ": cannot be written (" + std::strerror(why) + ")";
    return false;
  }
  int code = SQLITE_OK;
  if (OpenFile(path, error, &code)) return true;
  if (!Damaged(code)) return false;
  // Set aside, never deleted: what it still holds may be recovered by hand.
  const std::string aside = path + ".damaged-" + Timestamp();
  if (std::rename(path.c_str(), aside.c_str()) != 0) {
    *error += std::string("; cannot set it aside: ") + std::strerror(errno);
    return false;
  }
  for (const char* suffix : {"-wal", "-shm"}) {
    std::rename((path + suffix).c_str(), (aside + suffix).c_str());
  }
  *notice = "the history " + path + " was damaged; it was set aside as " + aside +
            " and a new one started";
  return OpenFile(path, error, &code);
}

bool CSqliteHistory::OpenForReading(const std::string& path, std::string* error,
                                    std::string* notice) {
  m_newer = false;
  int why = 0;
  if (!path.empty() && Exists(path) && !Writable(path, &why)) {
    if (RefuseNewer(path, HeaderVersion(path).value_or(0), error)) return false;
    return OpenReadOnly(path, error);
  }
  return Open(path, error, notice);
}

void CSqliteHistory::Compact() {
  int64_t unused = 0;
  {
    CStatement pragma(m_db, "PRAGMA freelist_count;");
    if (pragma.Ok() && sqlite3_step(pragma.get()) == SQLITE_ROW)
      unused = sqlite3_column_int64(pragma.get(), 0);
  }
  // The records moved out of the rows leave their old pages free: written
  // anew, a history of version 1 is a quarter of its size. Not done (a
  // reader holds the file, the disk is short of room), it is whole, only
  // larger until new runs fill those pages.
  if (unused > 0 && sqlite3_exec(m_db, "VACUUM;", nullptr, nullptr, nullptr) == SQLITE_OK) {
    // The file itself shrinks when the log is folded back in.
    sqlite3_wal_checkpoint_v2(m_db, nullptr, SQLITE_CHECKPOINT_TRUNCATE, nullptr, nullptr);
  }
}

int CSqliteHistory::Migrate() {
  // Another program may have brought it forward while this one waited.
  {
    CStatement pragma(m_db, "PRAGMA user_version;");
    if (!pragma.Ok() || sqlite3_step(pragma.get()) != SQLITE_ROW) return sqlite3_errcode(m_db);
    if (sqlite3_column_int(pragma.get(), 0) >= kHistoryVersion) return SQLITE_OK;
    // A new file has no runs table yet: it is made, not brought forward.
    CStatement count(m_db, "SELECT count(*) FROM runs;");
    if (HistoryMigrationWatcher() && count.Ok() && sqlite3_step(count.get()) == SQLITE_ROW) {
      HistoryMigration migration;
      migration.path = m_path;
      migration.fromVersion = sqlite3_column_int(pragma.get(), 0);
      migration.toVersion = kHistoryVersion;
      migration.runs = sqlite3_column_int64(count.get(), 0);
      HistoryMigrationWatcher()(migration);
    }
  }
  int code = sqlite3_exec(m_db, kSchema, nullptr, nullptr, nullptr);
  // 1 (and 0) kept the record's text in the summary row: moved, packed, and
  // the column dropped; the file is compacted after.
  if (code == SQLITE_OK && HasColumn(m_db, "runs", "record")) {
    code = sqlite3_create_function(m_db, "velmo_pack", 1, SQLITE_UTF8 | SQLITE_DETERMINISTIC,
                                   nullptr, PackFunction, nullptr, nullptr);
    if (code == SQLITE_OK) {
      code = sqlite3_exec(m_db,
                          "INSERT INTO records (id, data) SELECT id, velmo_pack(record) FROM runs;"
                          "ALTER TABLE runs DROP COLUMN record;",
                          nullptr, nullptr, nullptr);
    }
  }
  if (code == SQLITE_OK && !HasColumn(m_db, "runs", "host")) {
    code = sqlite3_exec(m_db, "ALTER TABLE runs ADD COLUMN host TEXT NOT NULL DEFAULT '';", nullptr,
                        nullptr, nullptr);
    // Runs kept before hosts were are this history's own: made here.
    CStatement update(m_db, "UPDATE runs SET host = ?");
    if (code == SQLITE_OK) {
      BindText(update.get(), 1, LocalHostName());
      code = update.Ok() && sqlite3_step(update.get()) == SQLITE_DONE ? SQLITE_OK
                                                                      : sqlite3_errcode(m_db);
    }
  }
  // 3: every run an id, the same one any other history gives it; none has
  // gone to a lab's history yet.
  if (code == SQLITE_OK && !HasColumn(m_db, "runs", "run_id")) {
    code = sqlite3_create_function(m_db, "velmo_run_id", 6, SQLITE_UTF8 | SQLITE_DETERMINISTIC,
                                   nullptr, RunIdFunction, nullptr, nullptr);
    if (code == SQLITE_OK) {
      code = sqlite3_exec(
          m_db,
          "ALTER TABLE runs ADD COLUMN run_id TEXT;"
          "ALTER TABLE runs ADD COLUMN pushed INTEGER NOT NULL DEFAULT 0;"
          "UPDATE runs SET run_id = velmo_run_id(start_time, drive, node, disc_type, mid,"
          " (SELECT count(*) FROM runs AS earlier WHERE earlier.started = runs.started"
          " AND earlier.start_time = runs.start_time AND earlier.drive = runs.drive"
          " AND earlier.node = runs.node AND earlier.disc_type = runs.disc_type"
          " AND earlier.mid = runs.mid AND earlier.id < runs.id));",
          nullptr, nullptr, nullptr);
    }
  }
  if (code == SQLITE_OK) code = sqlite3_exec(m_db, kIndexes, nullptr, nullptr, nullptr);
  if (code == SQLITE_OK) {
    const std::string stamp = "PRAGMA user_version = " + std::to_string(kHistoryVersion) + ";";
    code = sqlite3_exec(m_db, stamp.c_str(), nullptr, nullptr, nullptr);
  }
  return code;
}

bool CSqliteHistory::Writing(std::string* error) const {
  if (m_db == nullptr) {
    *error = "the history is not open";
    return false;
  }
  if (m_readOnly) {
    *error = "the history is open for reading only";
    return false;
  }
  return true;
}

int64_t CSqliteHistory::Insert(const KeptRun& run, sqlite3_stmt* row, sqlite3_stmt* keep,
                               std::string* error) {
  sqlite3_stmt* s = row;
  sqlite3_reset(s);
  sqlite3_reset(keep);
  sqlite3_bind_int64(s, 1, run.started);
  BindText(s, 2, run.startTime);
  BindText(s, 3, run.kind);
  BindText(s, 4, run.drive);
  BindText(s, 5, run.node);
  BindText(s, 6, run.discType);
  BindText(s, 7, run.manufacturerId);
  if (run.manufacturerName) {
    BindText(s, 8, *run.manufacturerName);
  } else {
    sqlite3_bind_null(s, 8);
  }
  BindText(s, 9, run.speed);
  BindText(s, 10, run.density);
  BindText(s, 11, run.outcome);
  if (run.maxTe) {
    sqlite3_bind_int(s, 12, *run.maxTe);
  } else {
    sqlite3_bind_null(s, 12);
  }
  if (run.maxFe) {
    sqlite3_bind_int(s, 13, *run.maxFe);
  } else {
    sqlite3_bind_null(s, 13);
  }
  BindText(s, 14, run.host);
  BindText(s, 15, run.runId);
  if (sqlite3_step(s) != SQLITE_DONE) {
    *error = sqlite3_errmsg(m_db);
    return 0;
  }
  const int64_t id = sqlite3_last_insert_rowid(m_db);
  sqlite3_bind_int64(keep, 1, id);
  sqlite3_bind_blob(keep, 2, run.packed.data(), static_cast<int>(run.packed.size()), SQLITE_STATIC);
  if (sqlite3_step(keep) != SQLITE_DONE) {
    *error = sqlite3_errmsg(m_db);
    return 0;
  }
  return id;
}

// The summary row and its record go in together or not at all.
int64_t CSqliteHistory::Add(const KeptRun& run, std::string* error) {
  if (!Writing(error)) return 0;
  if (sqlite3_exec(m_db, "BEGIN IMMEDIATE;", nullptr, nullptr, nullptr) != SQLITE_OK) {
    *error = sqlite3_errmsg(m_db);
    return 0;
  }
  int64_t id = 0;
  {
    CStatement row(m_db, kInsertRun);
    CStatement keep(m_db, kInsertRecord);
    if (row.Ok() && keep.Ok()) {
      id = Insert(run, row.get(), keep.get(), error);
    } else {
      *error = sqlite3_errmsg(m_db);
    }
  }
  if (id != 0 && sqlite3_exec(m_db, "COMMIT;", nullptr, nullptr, nullptr) == SQLITE_OK) return id;
  if (id != 0) *error = sqlite3_errmsg(m_db);
  sqlite3_exec(m_db, "ROLLBACK;", nullptr, nullptr, nullptr);
  return 0;
}

bool CSqliteHistory::Each(const HistoryFilter& filter,
                          const std::function<bool(const HistoryEntry&)>& row, std::string* error) {
  return EachRecord(filter, nullptr, error, &row, nullptr);
}

bool CSqliteHistory::EachRecord(
    const HistoryFilter& filter,
    const std::function<bool(const HistoryEntry&, const std::string&)>& row, std::string* error,
    const std::function<void(const HistoryEntry&, const std::string&)>& damaged) {
  return EachRecord(filter, row, error, nullptr, damaged);
}

bool CSqliteHistory::EachRecord(
    const HistoryFilter& filter,
    const std::function<bool(const HistoryEntry&, const std::string&)>& full, std::string* error,
    const std::function<bool(const HistoryEntry&)>* summary,
    const std::function<void(const HistoryEntry&, const std::string&)>& damaged) {
  if (m_db == nullptr) {
    *error = "the history is not open";
    return false;
  }
  const std::string sql = ListingSql(filter, m_legacy, summary == nullptr);
  CStatement select(m_db, sql.c_str());
  if (!select.Ok()) {
    *error = sqlite3_errmsg(m_db);
    return false;
  }
  sqlite3_stmt* s = select.get();
  BindFilter(s, filter);
  int rc;
  std::string text;
  while ((rc = sqlite3_step(s)) == SQLITE_ROW) {
    const HistoryEntry e = EntryOf(s);
    if (summary) {
      if (!(*summary)(e)) return true;
      continue;
    }
    if (!StoredText(s, 13, m_legacy, e.id, &text, error)) {
      if (!damaged) return false;
      damaged(e, *error);
      error->clear();
      continue;
    }
    if (!full(e, text)) return true;
  }
  if (rc != SQLITE_DONE) {
    *error = sqlite3_errmsg(m_db);
    return false;
  }
  return true;
}

bool CSqliteHistory::ListingPlan(const HistoryFilter& filter, std::string* plan,
                                 std::string* error) {
  return Plan(ListingSql(filter, m_legacy, false), filter, plan, error);
}

bool CSqliteHistory::IdsPlan(const HistoryFilter& filter, std::string* plan, std::string* error) {
  return Plan(IdsSql(filter, *OrderOf("started"), false, m_legacy), filter, plan, error);
}

bool CSqliteHistory::Plan(const std::string& sql, const HistoryFilter& filter, std::string* plan,
                          std::string* error) {
  plan->clear();
  if (m_db == nullptr) {
    *error = "the history is not open";
    return false;
  }
  CStatement explain(m_db, ("EXPLAIN QUERY PLAN " + sql).c_str());
  if (!explain.Ok()) {
    *error = sqlite3_errmsg(m_db);
    return false;
  }
  BindFilter(explain.get(), filter);
  while (sqlite3_step(explain.get()) == SQLITE_ROW) *plan += ColumnText(explain.get(), 3) + "\n";
  return true;
}

bool CSqliteHistory::Count(const HistoryFilter& filter, int64_t* count, std::string* error) {
  *count = 0;
  if (m_db == nullptr) {
    *error = "the history is not open";
    return false;
  }
  CStatement select(m_db, ("SELECT count(*) FROM runs" + WhereOf(filter)).c_str());
  if (!select.Ok()) {
    *error = sqlite3_errmsg(m_db);
    return false;
  }
  BindFilter(select.get(), filter);
  if (sqlite3_step(select.get()) != SQLITE_ROW) {
    *error = sqlite3_errmsg(m_db);
    return false;
  }
  *count = sqlite3_column_int64(select.get(), 0);
  return true;
}

bool CSqliteHistory::Ids(const HistoryFilter& filter, const std::string& column, bool ascending,
                         std::vector<int64_t>* ids, std::string* error) {
  ids->clear();
  if (m_db == nullptr) {
    *error = "the history is not open";
    return false;
  }
  const auto order = OrderOf(column);
  if (!order) {
    *error = "no column " + column + " to order by";
    return false;
  }
  CStatement select(m_db, IdsSql(filter, *order, ascending, m_legacy).c_str());
  if (!select.Ok()) {
    *error = sqlite3_errmsg(m_db);
    return false;
  }
  BindFilter(select.get(), filter);
  int rc;
  while ((rc = sqlite3_step(select.get())) == SQLITE_ROW)
    ids->push_back(sqlite3_column_int64(select.get(), 0));
  if (rc != SQLITE_DONE) {
    *error = sqlite3_errmsg(m_db);
    return false;
  }
  return true;
}

bool CSqliteHistory::Entries(const std::vector<int64_t>& ids, std::vector<HistoryEntry>* entries,
                             std::string* error) {
  entries->clear();
  if (m_db == nullptr) {
    *error = "the history is not open";
    return false;
  }
  CStatement select(m_db, (std::string("SELECT ") + (m_legacy ? kLegacyColumns : kColumns) +
                           " FROM runs WHERE id = ?")
                              .c_str());
  if (!select.Ok()) {
    *error = sqlite3_errmsg(m_db);
    return false;
  }
  for (const int64_t id : ids) {
    sqlite3_reset(select.get());
    sqlite3_bind_int64(select.get(), 1, id);
    const int rc = sqlite3_step(select.get());
    if (rc == SQLITE_ROW) {
      entries->push_back(EntryOf(select.get()));
    } else if (rc != SQLITE_DONE) {
      *error = sqlite3_errmsg(m_db);
      return false;
    }
  }
  return true;
}

bool CSqliteHistory::Load(int64_t id, ScanRecord* record, std::string* error) {
  if (m_db == nullptr) {
    *error = "the history is not open";
    return false;
  }
  CStatement select(m_db, m_legacy ? "SELECT record FROM runs WHERE id = ?"
                                   : "SELECT data FROM records WHERE id = ?");
  if (!select.Ok()) {
    *error = sqlite3_errmsg(m_db);
    return false;
  }
  sqlite3_bind_int64(select.get(), 1, id);
  const int rc = sqlite3_step(select.get());
  if (rc != SQLITE_ROW) {
    *error = rc == SQLITE_DONE ? "no run " + std::to_string(id) + " in the history"
                               : std::string(sqlite3_errmsg(m_db));
    return false;
  }
  std::string text;
  if (!StoredText(select.get(), 0, m_legacy, id, &text, error)) return false;
  if (!ReadRecordJson(text, record, error)) {
    *error = "run " + std::to_string(id) + ": " + *error;
    return false;
  }
  return true;
}

bool CSqliteHistory::Delete(const std::vector<int64_t>& ids, std::string* error) {
  if (!Writing(error)) return false;
  // Immediate: another writer waits (busy time-out) rather than failing
  // halfway through.
  if (sqlite3_exec(m_db, "BEGIN IMMEDIATE;", nullptr, nullptr, nullptr) != SQLITE_OK) {
    *error = sqlite3_errmsg(m_db);
    return false;
  }
  // The same run named twice is one run.
  std::vector<int64_t> runs = ids;
  std::sort(runs.begin(), runs.end());
  runs.erase(std::unique(runs.begin(), runs.end()), runs.end());
  bool done = true;
  {
    CStatement remove(m_db, "DELETE FROM runs WHERE id = ?");
    CStatement forget(m_db, "DELETE FROM records WHERE id = ?");
    done = remove.Ok() && forget.Ok();
    if (!done) *error = sqlite3_errmsg(m_db);
    for (size_t i = 0; done && i < runs.size(); ++i) {
      sqlite3_reset(remove.get());
      sqlite3_reset(forget.get());
      sqlite3_bind_int64(remove.get(), 1, runs[i]);
      sqlite3_bind_int64(forget.get(), 1, runs[i]);
      if (sqlite3_step(remove.get()) != SQLITE_DONE) {
        *error = sqlite3_errmsg(m_db);
        done = false;
      } else if (sqlite3_changes(m_db) == 0) {
        *error = "no run " + std::to_string(runs[i]) + " in the history";
        done = false;
      } else if (sqlite3_step(forget.get()) != SQLITE_DONE) {
        *error = sqlite3_errmsg(m_db);
        done = false;
      }
    }
  }
  if (done && sqlite3_exec(m_db, "COMMIT;", nullptr, nullptr, nullptr) == SQLITE_OK) return true;
  if (done) *error = sqlite3_errmsg(m_db);
  sqlite3_exec(m_db, "ROLLBACK;", nullptr, nullptr, nullptr);
  return false;
}

bool CSqliteHistory::Prune(int64_t before, int64_t* removed, std::string* error) {
  *removed = 0;
  if (!Writing(error)) return false;
  if (sqlite3_exec(m_db, "BEGIN IMMEDIATE;", nullptr, nullptr, nullptr) != SQLITE_OK) {
    *error = sqlite3_errmsg(m_db);
    return false;
  }
  CStatement forget(m_db,
                    "DELETE FROM records WHERE id IN (SELECT id FROM runs WHERE started < ?1)");
  CStatement remove(m_db, "DELETE FROM runs WHERE started < ?1");
  bool done = forget.Ok() && remove.Ok();
  if (done) {
    sqlite3_bind_int64(forget.get(), 1, before);
    sqlite3_bind_int64(remove.get(), 1, before);
    done = sqlite3_step(forget.get()) == SQLITE_DONE && sqlite3_step(remove.get()) == SQLITE_DONE;
    if (done) *removed = sqlite3_changes(m_db);
  }
  if (done && sqlite3_exec(m_db, "COMMIT;", nullptr, nullptr, nullptr) == SQLITE_OK) return true;
  *error = sqlite3_errmsg(m_db);
  *removed = 0;
  sqlite3_exec(m_db, "ROLLBACK;", nullptr, nullptr, nullptr);
  return false;
}

bool CSqliteHistory::Import(const std::vector<KeptRun>& runs, int64_t* added, int64_t* skipped,
                            std::string* error) {
  *added = *skipped = 0;
  if (!Writing(error)) return false;
  if (sqlite3_exec(m_db, "BEGIN IMMEDIATE;", nullptr, nullptr, nullptr) != SQLITE_OK) {
    *error = sqlite3_errmsg(m_db);
    return false;
  }
  bool done = true;
  {
    // By its id; a record without one also by its start, drive and disc,
    // found through its start time's index entries.
    CStatement known(m_db, "SELECT 1 FROM runs WHERE run_id = ?");
    CStatement present(m_db,
                       "SELECT 1 FROM runs WHERE started = ? AND start_time = ? AND drive = ?"
                       " AND node = ? AND disc_type = ? AND mid = ?");
    CStatement row(m_db, kInsertRun);
    CStatement keep(m_db, kInsertRecord);
    done = known.Ok() && present.Ok() && row.Ok() && keep.Ok();
    if (!done) *error = sqlite3_errmsg(m_db);
    for (size_t i = 0; done && i < runs.size(); ++i) {
      const KeptRun& r = runs[i];
      sqlite3_reset(known.get());
      BindText(known.get(), 1, r.runId);
      int rc = sqlite3_step(known.get());
      if (rc == SQLITE_DONE && r.derivedId) {
        sqlite3_stmt* s = present.get();
        sqlite3_reset(s);
        sqlite3_bind_int64(s, 1, r.started);
        BindText(s, 2, r.startTime);
        BindText(s, 3, r.drive);
        BindText(s, 4, r.node);
        BindText(s, 5, r.discType);
        BindText(s, 6, r.manufacturerId);
        rc = sqlite3_step(s);
      }
      if (rc == SQLITE_ROW) {
        ++*skipped;
      } else if (rc != SQLITE_DONE) {
        *error = sqlite3_errmsg(m_db);
        done = false;
      } else if (Insert(r, row.get(), keep.get(), error) == 0) {
        done = false;
      } else {
        ++*added;
      }
    }
  }
  if (done && sqlite3_exec(m_db, "COMMIT;", nullptr, nullptr, nullptr) == SQLITE_OK) return true;
  if (done) *error = sqlite3_errmsg(m_db);
  *added = *skipped = 0;
  sqlite3_exec(m_db, "ROLLBACK;", nullptr, nullptr, nullptr);
  return false;
}

bool CSqliteHistory::Waiting(bool all, int64_t after, int limit, std::vector<KeptRun>* runs,
                             std::string* error) {
  runs->clear();
  if (!Writing(error)) return false;
  const std::string sql =
      std::string(
          "SELECT runs.id, run_id, started, start_time, kind, drive, node, disc_type, mid, maker,"
          " speed, density, outcome, max_te, max_fe, host, records.data"
          " FROM runs JOIN records ON records.id = runs.id WHERE runs.id > ?") +
      (all ? "" : " AND pushed = 0") + " ORDER BY runs.id LIMIT ?";
  CStatement select(m_db, sql.c_str());
  if (!select.Ok()) {
    *error = sqlite3_errmsg(m_db);
    return false;
  }
  sqlite3_stmt* s = select.get();
  sqlite3_bind_int64(s, 1, after);
  sqlite3_bind_int(s, 2, limit);
  int rc;
  while ((rc = sqlite3_step(s)) == SQLITE_ROW) {
    KeptRun run;
    run.localId = sqlite3_column_int64(s, 0);
    run.runId = ColumnText(s, 1);
    run.started = sqlite3_column_int64(s, 2);
    run.startTime = ColumnText(s, 3);
    run.kind = ColumnText(s, 4);
    run.drive = ColumnText(s, 5);
    run.node = ColumnText(s, 6);
    run.discType = ColumnText(s, 7);
    run.manufacturerId = ColumnText(s, 8);
    if (sqlite3_column_type(s, 9) != SQLITE_NULL) run.manufacturerName = ColumnText(s, 9);
    run.speed = ColumnText(s, 10);
    run.density = ColumnText(s, 11);
    run.outcome = ColumnText(s, 12);
    run.maxTe = IntOrNull(s, 13);
    run.maxFe = IntOrNull(s, 14);
    run.host = ColumnText(s, 15);
    const auto* data = static_cast<const char*>(sqlite3_column_blob(s, 16));
    run.packed.assign(data == nullptr ? "" : data,
                      static_cast<size_t>(sqlite3_column_bytes(s, 16)));
    runs->push_back(std::move(run));
  }
  if (rc != SQLITE_DONE) {
    *error = sqlite3_errmsg(m_db);
    return false;
  }
  return true;
}

bool CSqliteHistory::WaitingCount(int64_t* count, std::string* error) {
  *count = 0;
  if (m_db == nullptr) {
    *error = "the history is not open";
    return false;
  }
  CStatement select(m_db, "SELECT count(*) FROM runs WHERE pushed = 0");
  if (!select.Ok() || sqlite3_step(select.get()) != SQLITE_ROW) {
    *error = sqlite3_errmsg(m_db);
    return false;
  }
  *count = sqlite3_column_int64(select.get(), 0);
  return true;
}

bool CSqliteHistory::MarkPushed(const std::vector<int64_t>& ids, std::string* error) {
  if (!Writing(error)) return false;
  if (sqlite3_exec(m_db, "BEGIN IMMEDIATE;", nullptr, nullptr, nullptr) != SQLITE_OK) {
    *error = sqlite3_errmsg(m_db);
    return false;
  }
  bool done = true;
  {
    CStatement mark(m_db, "UPDATE runs SET pushed = 1 WHERE id = ?");
    done = mark.Ok();
    for (size_t i = 0; done && i < ids.size(); ++i) {
      sqlite3_reset(mark.get());
      sqlite3_bind_int64(mark.get(), 1, ids[i]);
      done = sqlite3_step(mark.get()) == SQLITE_DONE;
    }
  }
  if (done && sqlite3_exec(m_db, "COMMIT;", nullptr, nullptr, nullptr) == SQLITE_OK) return true;
  *error = sqlite3_errmsg(m_db);
  sqlite3_exec(m_db, "ROLLBACK;", nullptr, nullptr, nullptr);
  return false;
}
