#include "device/trace_reader.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>

#include "device/command_trace.h"
#include "files/input_file.h"

namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// Walks one line field by field; every Take* fails without moving on a
// mismatch.
class Cursor {
 public:
  explicit Cursor(std::string_view text) : m_text(text) {}

  bool AtEnd() const { return m_at == m_text.size(); }

  bool Take(std::string_view literal) {
    if (m_text.substr(m_at, literal.size()) != literal) return false;
    m_at += literal.size();
    return true;
  }

  std::string_view Word() {
    const size_t end = m_text.find(' ', m_at);
    const size_t stop = end == std::string_view::npos ? m_text.size() : end;
    std::string_view word = m_text.substr(m_at, stop - m_at);
    m_at = stop;
    return word;
  }

  template <typename T>
  bool Number(T* value) {
    const char* begin = m_text.data() + m_at;
    const char* end = m_text.data() + m_text.size();
    if (begin == end || *begin == '-' || *begin == '+') return false;
    auto result = std::from_chars(begin, end, *value);
    if (result.ec != std::errc()) return false;
    m_at += static_cast<size_t>(result.ptr - begin);
    return true;
  }

  // "[XX XX ...]" of at most limit bytes; with allowCut a final " ..." sets *cut.
  bool HexList(std::vector<uint8_t>* bytes, size_t limit, bool allowCut, bool* cut,
               std::string* why) {
    if (!Take("[")) return Fail(why, "no '[' opening the bytes");
    bytes->clear();
    if (Take("]")) return true;
    for (;;) {
      if (allowCut && Take("...")) {
        *cut = true;
        if (!Take("]")) return Fail(why, "bytes after the '...' that marks a cut transfer");
        return true;
      }
      if (m_at + 2 > m_text.size()) return Fail(why, "the bytes end before their ']'");
      const int high = HexDigit(m_text[m_at]);
      const int low = HexDigit(m_text[m_at + 1]);
      if (high < 0 || low < 0) return Fail(why, "a byte that is not two hex digits");
      if (bytes->size() >= limit) return Fail(why, "more bytes than a line may hold");
      bytes->push_back(static_cast<uint8_t>(high << 4 | low));
      m_at += 2;
      if (Take("]")) return true;
      if (!Take(" ")) return Fail(why, "bytes not separated by one space");
    }
  }

  static bool Fail(std::string* why, const char* text) {
    *why = text;
    return false;
  }

 private:
  std::string_view m_text;
  size_t m_at = 0;
};

bool Timestamp(std::string_view word) {
  // 2026-01-31T12:00:00.000Z
  static constexpr std::string_view kShape = "dddd-dd-ddTdd:dd:dd.dddZ";
  if (word.size() != kShape.size()) return false;
  for (size_t i = 0; i < kShape.size(); ++i) {
    if (kShape[i] == 'd' ? (word[i] < '0' || word[i] > '9') : word[i] != kShape[i]) return false;
  }
  return true;
}

bool Sense(std::string_view word, SenseInfo* sense) {
  *sense = SenseInfo{};
  if (word == "-") return true;
  if (word.size() != 7 || word[1] != '/' || word[4] != '/') return false;
  const int key = HexDigit(word[0]);
  const int a1 = HexDigit(word[2]), a2 = HexDigit(word[3]);
  const int q1 = HexDigit(word[5]), q2 = HexDigit(word[6]);
  if (key < 0 || a1 < 0 || a2 < 0 || q1 < 0 || q2 < 0) return false;
  sense->valid = true;
  sense->key = static_cast<uint8_t>(key);
  sense->asc = static_cast<uint8_t>(a1 << 4 | a2);
  sense->ascq = static_cast<uint8_t>(q1 << 4 | q2);
  return true;
}

bool Outcome(std::string_view word, ExchangeOutcome* outcome) {
  for (ExchangeOutcome candidate :
       {ExchangeOutcome::kDone, ExchangeOutcome::kCheckCondition, ExchangeOutcome::kTimedOut,
        ExchangeOutcome::kDriveGone, ExchangeOutcome::kTransportError}) {
    if (word == TraceOutcomeName(candidate)) {
      *outcome = candidate;
      return true;
    }
  }
  return false;
}

// What a line of an older trace, without outcome, meant.
ExchangeOutcome InferredOutcome(uint32_t status, uint8_t scsiStatus, uint32_t error) {
  if (status == kStatusTimedOut) return ExchangeOutcome::kTimedOut;
  if (status == kStatusDone) return ExchangeOutcome::kDone;
  if (scsiStatus == kScsiStatusCheckCondition) return ExchangeOutcome::kCheckCondition;
  if (error == 55) return ExchangeOutcome::kDriveGone;  // ERROR_DEV_NOT_EXIST
  return ExchangeOutcome::kTransportError;
}

}  // namespace

bool ParseTraceLine(std::string_view line, TraceEntry* entry, std::string* why) {
  *entry = TraceEntry{};
  Cursor at(line);
  if (!Timestamp(at.Word())) return Cursor::Fail(why, "no time stamp at the start");
  uint32_t drive = 0;
  if (!at.Take(" drive=") || !at.Number(&drive)) return Cursor::Fail(why, "no drive=N");
  if (drive >= 8) return Cursor::Fail(why, "a drive number above 7");
  entry->drive = static_cast<uint8_t>(drive);
  if (!at.Take(" ")) return Cursor::Fail(why, "no transport");
  const std::string_view transport = at.Word();
  if (transport != "spti" && transport != "aspi")
    return Cursor::Fail(why, "a transport other than spti or aspi");
  entry->aspi = transport == "aspi";

  std::vector<uint8_t> bytes;
  bool cut = false;
  if (!at.Take(" cdb=")) return Cursor::Fail(why, "no cdb=[..]");
  if (!at.HexList(&bytes, entry->cdb.size(), false, &cut, why)) {
    if (bytes.size() >= entry->cdb.size()) *why = "a CDB of more than 16 bytes";
    return false;
  }
  if (bytes.empty()) return Cursor::Fail(why, "an empty CDB");
  entry->cdbLength = static_cast<uint8_t>(bytes.size());
  std::copy(bytes.begin(), bytes.end(), entry->cdb.begin());

  if (!at.Take(" dir=")) return Cursor::Fail(why, "no dir=");
  const std::string_view direction = at.Word();
  if (direction == "in") {
    entry->direction = kDirectionIn;
  } else if (direction == "out") {
    entry->direction = kDirectionOut;
  } else if (direction != "none") {
    return Cursor::Fail(why, "a direction other than in, out or none");
  }
  uint32_t status = 0;
  uint32_t scsi = 0;
  if (!at.Take(" len=") || !at.Number(&entry->length)) return Cursor::Fail(why, "no len=N");
  if (!at.Take(" moved=") || !at.Number(&entry->moved)) return Cursor::Fail(why, "no moved=N");
  if (entry->length > kTraceMaxTransfer || entry->moved > kTraceMaxTransfer)
    return Cursor::Fail(why, "a transfer longer than 16 MiB");
  if (entry->moved > entry->length) return Cursor::Fail(why, "more bytes moved than asked for");
  if (!at.Take(" status=") || !at.Number(&status)) return Cursor::Fail(why, "no status=N");
  if (status != kStatusDone && status != kStatusFailed && status != kStatusTimedOut)
    return Cursor::Fail(why, "a status other than 0, 1 or 255");
  if (!at.Take(" scsi=0x")) return Cursor::Fail(why, "no scsi=0xNN");
  const std::string_view scsiText = at.Word();
  if (scsiText.size() != 2 || HexDigit(scsiText[0]) < 0 || HexDigit(scsiText[1]) < 0)
    return Cursor::Fail(why, "a SCSI status that is not two hex digits");
  scsi = static_cast<uint32_t>(HexDigit(scsiText[0]) << 4 | HexDigit(scsiText[1]));
  entry->scsiStatus = static_cast<uint8_t>(scsi);
  if (!at.Take(" sense=") || !Sense(at.Word(), &entry->sense))
    return Cursor::Fail(why, "no sense=- or sense=K/AA/QQ");
  if (!at.Take(" err=") || !at.Number(&entry->error)) return Cursor::Fail(why, "no err=N");
  if (!at.Take(" time=") || !at.Number(&entry->durationUs) || !at.Take("us"))
    return Cursor::Fail(why, "no time=Nus");

  // Older traces end here.
  if (at.AtEnd()) {
    entry->outcome = InferredOutcome(status, entry->scsiStatus, entry->error);
    return true;
  }
  if (!at.Take(" outcome=") || !Outcome(at.Word(), &entry->outcome))
    return Cursor::Fail(why, "no outcome=done|check|timeout|gone|transport");
  if (!at.Take(" data=")) return Cursor::Fail(why, "no data=[..]");
  if (!at.HexList(&entry->data, kTraceDataCap, true, &cut, why)) return false;
  if (!at.AtEnd()) return Cursor::Fail(why, "more after the data");

  const uint32_t expected = entry->direction == kDirectionIn    ? entry->moved
                            : entry->direction == kDirectionOut ? entry->length
                                                                : 0;
  if (cut ? entry->data.size() >= expected : entry->data.size() != expected)
    return Cursor::Fail(why, "data of another length than the bytes moved");
  return true;
}

namespace {

// A trace's text taken piece by piece as it is read: it holds one line at
// most, so memory stays bounded whatever the file, and it refuses at once
// what cannot be a trace (a NUL byte, a line past the cap, a first line
// that is not a trace line) without reading the rest.
class CTraceText {
 public:
  // False once the trace is refused.
  bool Feed(std::string_view text) {
    if (m_refused) return false;
    for (size_t at = 0; at < text.size();) {
      const size_t end = text.find('\n', at);
      const std::string_view piece =
          text.substr(at, end == std::string_view::npos ? std::string_view::npos : end - at);
      if (piece.find('\0') != std::string_view::npos)
        return Refuse(m_lines + 1, "a NUL byte: binary data, not a trace");
      // One byte more for a CR before the line end.
      if (m_pending.size() + piece.size() > kTraceMaxLineBytes + 1)
        return Refuse(m_lines + 1, "a line longer than 256 KiB");
      if (end == std::string_view::npos) {
        m_pending.append(piece);
        return true;
      }
      at = end + 1;
      ++m_lines;
      bool taken = false;
      if (m_pending.empty()) {
        taken = TakeLine(piece);
      } else {
        m_pending.append(piece);
        taken = TakeLine(m_pending);
        m_pending.clear();
      }
      if (!taken) return false;
    }
    return true;
  }

  TraceReading Finish() {
    if (m_refused) return std::move(m_reading);
    // A last line without its line end was cut while it was written.
    if (!m_pending.empty()) m_reading.cutLine = m_lines + 1;
    m_reading.ok = true;
    return std::move(m_reading);
  }

 private:
  bool TakeLine(std::string_view line) {
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty()) return true;
    if (line.size() > kTraceMaxLineBytes) return Refuse(m_lines, "a line longer than 256 KiB");
    std::string why;
    TraceEntry entry;
    if (!ParseTraceLine(line, &entry, &why)) return Refuse(m_lines, why);
    m_reading.entries.push_back(std::move(entry));
    return true;
  }

  // Refuses the trace at that line (1-based); nothing of it is kept.
  bool Refuse(size_t line, const std::string& why) {
    m_refused = true;
    m_reading.badLine = line;
    m_reading.why = why;
    m_reading.entries.clear();
    m_reading.entries.shrink_to_fit();
    m_pending.clear();
    return false;
  }

  TraceReading m_reading;
  std::string m_pending;  // a line begun and not yet ended
  size_t m_lines = 0;     // lines ended so far
  bool m_refused = false;
};

}  // namespace

TraceReading ReadTrace(std::string_view text) {
  CTraceText trace;
  trace.Feed(text);
  return trace.Finish();
}

TraceReading ReadTraceFile(const std::string& path) {
  TraceReading refused;
  refused.unreadable = true;
  InputFileError kind = InputFileError::kNone;
  std::string message;
  const int fd = OpenInputFile(path, &kind, &message);
  if (fd < 0) {
    // Its own words without the path, which the caller names.
    refused.why = kind == InputFileError::kMissing
                      ? "cannot be read (no such file)"
                      : message.substr(std::min(message.size(), path.size() + 2));
    return refused;
  }
  struct Closer {
    int fd;
    ~Closer() { ::close(fd); }
  } closer{fd};
  struct stat info {};
  if (::fstat(fd, &info) != 0) {
    refused.why = "cannot be read";
    return refused;
  }
  if (static_cast<uint64_t>(info.st_size) > kTraceMaxFileBytes) {
    refused.unreadable = false;
    refused.why = "is larger than 1 GiB";
    return refused;
  }
  CTraceText trace;
  std::vector<char> buffer(64 * 1024);
  uint64_t total = 0;
  for (;;) {
    const ssize_t got = ::read(fd, buffer.data(), buffer.size());
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      refused.why = std::string("cannot be read (") + std::strerror(errno) + ")";
      return refused;
    }
    if (got == 0) break;
    total += static_cast<uint64_t>(got);
    // A file that grows while it is read is held to the same cap.
    if (total > kTraceMaxFileBytes) {
      refused.unreadable = false;
      refused.why = "is larger than 1 GiB";
      return refused;
    }
    if (!trace.Feed(std::string_view(buffer.data(), static_cast<size_t>(got)))) break;
  }
  return trace.Finish();
}
