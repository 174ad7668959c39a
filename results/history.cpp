#include "results/history.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "results/run_end_text.h"

namespace {

constexpr int kBusyTimeoutMs = 5000;

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
    " record TEXT NOT NULL);"
    "CREATE INDEX IF NOT EXISTS runs_started ON runs (started DESC, id DESC);";

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

std::string Text(sqlite3_stmt* stmt, int column) {
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

// The version in the file's own header (user_version, 4 bytes big-endian at
// offset 60), read before SQLite opens it: opening a WAL database already
// makes files beside it. Nothing for what is not a database file.
std::optional<int> HeaderVersion(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return std::nullopt;
  unsigned char header[64];
  struct stat info {};
  const bool read = fstat(fd, &info) == 0 && S_ISREG(info.st_mode) &&
                    pread(fd, header, sizeof header, 0) == static_cast<ssize_t>(sizeof header);
  close(fd);
  if (!read || std::memcmp(header, "SQLite format 3", 16) != 0) return std::nullopt;
  return static_cast<int>(static_cast<uint32_t>(header[60]) << 24 | header[61] << 16 |
                          header[62] << 8 | header[63]);
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

std::string Timestamp() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char text[32];
  std::strftime(text, sizeof text, "%Y%m%d-%H%M%S", &local);
  return text;
}

}  // namespace

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

std::optional<int64_t> ParseIsoTime(const std::string& text) {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, used = 0;
  std::tm tm{};
  if (text.size() == 10) {
    if (std::sscanf(text.c_str(), "%4d-%2d-%2d%n", &year, &month, &day, &used) != 3 || used != 10) {
      return std::nullopt;
    }
    if (month < 1 || month > 12 || day < 1 || day > 31) return std::nullopt;
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
  if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 60) {
    return std::nullopt;
  }
  int64_t offset = 0;
  const std::string zone = text.substr(19);
  if (zone != "Z") {
    int zh = 0, zm = 0;
    if (zone.size() != 6 || (zone[0] != '+' && zone[0] != '-') || zone[3] != ':' ||
        std::sscanf(zone.c_str() + 1, "%2d:%2d", &zh, &zm) != 2 || zh > 23 || zm > 59) {
      return std::nullopt;
    }
    offset = (zh * 3600 + zm * 60) * (zone[0] == '-' ? -1 : 1);
  }
  tm.tm_year = year - 1900;
  tm.tm_mon = month - 1;
  tm.tm_mday = day;
  tm.tm_hour = hour;
  tm.tm_min = minute;
  tm.tm_sec = second;
  return static_cast<int64_t>(timegm(&tm)) - offset;
}

CHistory::~CHistory() { Close(); }

void CHistory::Close() {
  if (m_db != nullptr) sqlite3_close_v2(m_db);
  m_db = nullptr;
}

bool CHistory::RefuseNewer(const std::string& path, int version, std::string* error) {
  if (version <= kHistoryVersion) return false;
  m_newer = true;
  *error = path + " was written by a newer Velmo (history version " + std::to_string(version) +
           "; this one reads up to " + std::to_string(kHistoryVersion) + ")";
  return true;
}

bool CHistory::CheckVersion(const std::string& path, int* version, std::string* error, int* code) {
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

bool CHistory::OpenFile(const std::string& path, std::string* error, int* code) {
  Close();
  m_readOnly = false;
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
    if (*code == SQLITE_OK) *code = sqlite3_exec(m_db, kSchema, nullptr, nullptr, nullptr);
    // 0: from before the version was kept, the same tables as 1.
    if (*code == SQLITE_OK && version < kHistoryVersion) {
      const std::string stamp = "PRAGMA user_version = " + std::to_string(kHistoryVersion) + ";";
      *code = sqlite3_exec(m_db, stamp.c_str(), nullptr, nullptr, nullptr);
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

bool CHistory::OpenReadOnly(const std::string& path, std::string* error) {
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
      if (code == SQLITE_OK) return true;
    }
    *error = path + ": " + (m_db != nullptr ? sqlite3_errmsg(m_db) : sqlite3_errstr(code));
    if (immutable || !NoWalIndex(code)) break;
  }
  Close();
  return false;
}

bool CHistory::Open(const std::string& path, std::string* error, std::string* notice) {
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

bool CHistory::OpenForReading(const std::string& path, std::string* error, std::string* notice) {
  m_newer = false;
  int why = 0;
  if (!path.empty() && Exists(path) && !Writable(path, &why)) {
    if (RefuseNewer(path, HeaderVersion(path).value_or(0), error)) return false;
    return OpenReadOnly(path, error);
  }
  return Open(path, error, notice);
}

int64_t CHistory::Add(const ScanRecord& record, std::string* error) {
  if (m_db == nullptr) {
    *error = "the history is not open";
    return 0;
  }
  if (m_readOnly) {
    *error = "the history is open for reading only";
    return 0;
  }
  CStatement insert(m_db,
                    "INSERT INTO runs (started, start_time, kind, drive, node, disc_type, mid,"
                    " maker, speed, density, outcome, max_te, max_fe, record)"
                    " VALUES (?,?,?,?,?,?,?,?,?,?,?,?,?,?)");
  if (!insert.Ok()) {
    *error = sqlite3_errmsg(m_db);
    return 0;
  }
  sqlite3_stmt* s = insert.get();
  const RecordStatistics stats = StatisticsOf(record);
  sqlite3_bind_int64(s, 1, ParseIsoTime(record.startTime).value_or(0));
  BindText(s, 2, record.startTime);
  BindText(s, 3, RecordKindName(record.kind));
  BindText(s, 4, record.drive.name);
  BindText(s, 5, record.drive.node);
  BindText(s, 6, record.disc.type);
  BindText(s, 7, record.disc.manufacturerId);
  if (record.disc.manufacturerName) {
    BindText(s, 8, *record.disc.manufacturerName);
  } else {
    sqlite3_bind_null(s, 8);
  }
  // A Smart Scan's row carries its answer: the speed that fits, and the
  // reading taken at it (never a figure pooled over speeds).
  const bool smart = record.kind == RecordKind::kSmart;
  std::optional<LayerStatistics> reading;
  if (!smart && stats.whole.samples > 0) reading = stats.whole;
  for (const SpeedStatistics& speed : stats.speeds) {
    if (record.fitSpeed && speed.speedCode == record.fitSpeed->speedCode) reading = speed.reading;
  }
  BindText(s, 9, smart ? (record.fitSpeed ? record.fitSpeed->speed : "") : record.settings.speed);
  BindText(s, 10, record.settings.density);
  BindText(s, 11, RunOutcomeName(record.outcome));
  if (reading) {
    sqlite3_bind_int(s, 12, reading->te.max);
    sqlite3_bind_int(s, 13, reading->fe.max);
  } else {
    sqlite3_bind_null(s, 12);
    sqlite3_bind_null(s, 13);
  }
  BindText(s, 14, WriteRecordJson(record));
  if (sqlite3_step(s) != SQLITE_DONE) {
    *error = sqlite3_errmsg(m_db);
    return 0;
  }
  return sqlite3_last_insert_rowid(m_db);
}

bool CHistory::List(const HistoryFilter& filter, std::vector<HistoryEntry>* entries,
                    std::string* error) {
  entries->clear();
  if (m_db == nullptr) {
    *error = "the history is not open";
    return false;
  }
  std::string sql =
      "SELECT id, start_time, kind, drive, disc_type, mid, maker, speed, density, outcome,"
      " max_te, max_fe FROM runs WHERE 1";
  if (!filter.mid.empty()) sql += " AND mid LIKE ?1 ESCAPE '\\'";
  if (!filter.drive.empty()) sql += " AND (drive LIKE ?2 ESCAPE '\\' OR node LIKE ?2 ESCAPE '\\')";
  if (filter.since) sql += " AND started >= ?3";
  if (!filter.outcomes.empty()) {
    sql += " AND outcome IN (";
    for (size_t i = 0; i < filter.outcomes.size(); ++i) {
      sql += (i ? ",'" : "'") + std::string(RunOutcomeName(filter.outcomes[i])) + "'";
    }
    sql += ")";
  }
  sql += " ORDER BY started DESC, id DESC";
  if (filter.limit > 0) sql += " LIMIT " + std::to_string(filter.limit);
  CStatement select(m_db, sql.c_str());
  if (!select.Ok()) {
    *error = sqlite3_errmsg(m_db);
    return false;
  }
  sqlite3_stmt* s = select.get();
  if (!filter.mid.empty()) BindText(s, 1, ContainsPattern(filter.mid));
  if (!filter.drive.empty()) BindText(s, 2, ContainsPattern(filter.drive));
  if (filter.since) sqlite3_bind_int64(s, 3, *filter.since);
  int rc;
  while ((rc = sqlite3_step(s)) == SQLITE_ROW) {
    HistoryEntry e;
    e.id = sqlite3_column_int64(s, 0);
    e.startTime = Text(s, 1);
    e.kind = Text(s, 2) == "smart" ? RecordKind::kSmart : RecordKind::kScan;
    e.drive = Text(s, 3);
    e.discType = Text(s, 4);
    e.manufacturerId = Text(s, 5);
    if (sqlite3_column_type(s, 6) != SQLITE_NULL) e.manufacturerName = Text(s, 6);
    e.speed = Text(s, 7);
    e.density = Text(s, 8);
    e.outcome = RunOutcomeFromName(Text(s, 9)).value_or(RunOutcome::kAborted);
    e.maxTe = IntOrNull(s, 10);
    e.maxFe = IntOrNull(s, 11);
    entries->push_back(std::move(e));
  }
  if (rc != SQLITE_DONE) {
    *error = sqlite3_errmsg(m_db);
    return false;
  }
  return true;
}

bool CHistory::Load(int64_t id, ScanRecord* record, std::string* error) {
  if (m_db == nullptr) {
    *error = "the history is not open";
    return false;
  }
  CStatement select(m_db, "SELECT record FROM runs WHERE id = ?");
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
  if (!ReadRecordJson(Text(select.get(), 0), record, error)) {
    *error = "run " + std::to_string(id) + ": " + *error;
    return false;
  }
  return true;
}
