#include "cli/watch_command.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <ctime>
#include <mutex>
#include <string>
#include <utility>

#include "cli/cli_options.h"
#include "cli/drive_fanout.h"
#include "cli/record_commands.h"
#include "cli/run_row.h"
#include "cli/scan_command.h"
#include "cli/smart_command.h"
#include "commands/drive_commands.h"
#include "console/spindle_tally.h"
#include "device/host.h"
#include "records/media_codes.h"
#include "records/run_end_text.h"
#include "records/run_identity.h"
#include "records/run_record.h"
#include "records/scan_record.h"
#include "reports/paper_size.h"
#include "reports/report_content.h"
#include "reports/report_page.h"
#include "session/drive_session.h"
#include "session/interrupt_watch.h"
#include "session/output_file.h"
#include "session/terminal_text.h"

namespace {

enum class Tray { kReady, kEmpty, kGone };

Tray PollTray() {
  ScsiExchange unitReady;
  if (!DriveNotReady(&unitReady)) return Tray::kReady;
  return unitReady.hostError == kErrorDevNotExist ? Tray::kGone : Tray::kEmpty;
}

std::string ClockNow() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char text[16];
  std::strftime(text, sizeof text, "%H:%M:%S", &local);
  return text;
}

std::string JoinPath(const std::string& dir, const std::string& name) {
  if (dir.empty() || dir == ".") return name;
  return dir.back() == '/' ? dir + name : dir + "/" + name;
}

bool NameTaken(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

// A disc's files share one stem named after its run: the time it started,
// the drive and its place in this watch (NAME-TEFE.txt, NAME.json,
// NAME.pdf). A stem already taken (an earlier watch in the same second)
// gets a counter, so no disc's files replace another's.
std::string RunBaseName(const std::string& dir, int drive, int number) {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
  const std::string stem =
      "velmo-" + std::string(stamp) + "-d" + std::to_string(drive) + "-" + std::to_string(number);
  std::string base = JoinPath(dir, stem);
  for (int extra = 2;
       NameTaken(base + "-TEFE.txt") || NameTaken(base + ".json") || NameTaken(base + ".pdf");
       ++extra) {
    base = JoinPath(dir, stem + "." + std::to_string(extra));
  }
  return base;
}

bool WriteReport(const std::string& path, const ScanRecord& record, std::string* error) {
  std::string pdf;
  if (!RenderReportPdf(BuildReportContent({record}), PaperSizeFromEnvironment(), &pdf, error)) {
    return false;
  }
  COutputFile file;
  return file.Open(path, error) && file.Commit(pdf, error);
}

// One disc's line: every column filled ("-" for what it has not), then a
// note when there is more to say.
struct DiscLine {
  std::string disc = "-";
  std::string mid = "-";
  std::string speed = "-";
  std::string outcome;
  std::string maxTe = "-";
  std::string maxFe = "-";
  std::string note;
};

constexpr char kLineFormat[] = "%-8s  %-5s  %-8s  %-12s  %-5s  %-15s  %6s  %6s%s\n";

void PrintLineHeading(std::FILE* out) {
  std::fprintf(out, kLineFormat, "TIME", "DRIVE", "DISC", "MID", "SPEED", "OUTCOME", "MAX TE",
               "MAX FE", "");
}

void PrintDiscLine(std::FILE* out, const std::string& when, int drive, const DiscLine& line) {
  const std::string note = line.note.empty() ? "" : "  " + line.note;
  if (line.maxTe == "-" && line.maxFe == "-" && !note.empty()) {
    // Nothing measured: the note takes the measures' place.
    std::fprintf(out, "%-8s  %-5s  %-8s  %-12s  %-5s  %-15s%s\n", when.c_str(),
                 std::to_string(drive).c_str(), line.disc.c_str(), line.mid.c_str(),
                 line.speed.c_str(), line.outcome.c_str(), note.c_str());
    return;
  }
  std::fprintf(out, kLineFormat, when.c_str(), std::to_string(drive).c_str(), line.disc.c_str(),
               line.mid.c_str(), line.speed.c_str(), line.outcome.c_str(), line.maxTe.c_str(),
               line.maxFe.c_str(), note.c_str());
}

// The disc's IDs, made safe for the terminal; its maker when known.
void FillDisc(DiscLine* line, const std::string& type, const std::string& mid) {
  line->disc = TerminalText(type);
  line->mid = TerminalText(mid);
  const std::string maker = ManufacturerNameOrUnknown(mid);
  if (maker != "unknown") line->note = "(" + TerminalText(maker) + ")";
}

// Every disc's files are named when it comes, so their folder is what is
// claimed: one that cannot take a file ends the watch before any disc.
int ClaimFolder(const CliOptions& options, const std::string& dir, std::FILE* err) {
  if (!options.reportDir.empty() && mkdir(dir.c_str(), 0777) != 0 && errno != EEXIST) {
    std::fprintf(err, "velmo-cli: cannot make the folder %s: %s\n", TerminalText(dir).c_str(),
                 std::strerror(errno));
    return kExitCannotWrite;
  }
  if (std::string error; !CheckOutputFolder(dir, &error)) {
    std::fprintf(err, "velmo-cli: the watch cannot write its files into %s\n",
                 TerminalText(error).c_str());
    return kExitCannotWrite;
  }
  return kExitOk;
}

// A scan's or Smart Scan's options for one disc: its log and record named
// after the run, nothing else.
CliOptions DiscRunOptions(const CliOptions& options, const std::string& base) {
  CliOptions run = options;
  run.logFile = base + "-TEFE.txt";
  run.jsonFile = base + ".json";
  run.csvFile.clear();
  run.chartFile.clear();
  return run;
}

// One watch over one drive: its discs, one at a time, and their tally.
class CWatch {
 public:
  CWatch(CDriveSession& session, const CliOptions& options, std::FILE* out, std::FILE* err,
         const DiscWait& wait, std::string dir);
  ~CWatch();
  CWatch(const CWatch&) = delete;
  CWatch& operator=(const CWatch&) = delete;

  int Run();

 private:
  // Polls until the tray is no longer in state; false when the watch ends
  // (a stop, or the drive gone).
  bool AwaitTrayLeaving(Tray state);
  // One poll period; false once a stop was asked for.
  bool Nap();
  // Scans the disc in the drive and tells its line; false ends the watch.
  bool WatchDisc();
  // The line of a disc that ran: its record's statistics, or why it has none.
  DiscLine RunLine(const DiscLine& disc, int runCode, const std::string& base);
  void KeepSkippedDisc(const CliOptions& run, const DiscFields& fields, DiscTypeCode type,
                       const std::string& foundAt, const std::string& why);
  void SayGone(const std::string& when);
  int ExitCode() const;

  CDriveSession& m_session;
  const CliOptions& m_options;
  std::FILE* m_out;
  std::FILE* m_err;
  const DiscWait& m_wait;
  const std::string m_dir;
  // The runs' own screens (fields, progress, verdict) would bury the one
  // line a disc gets.
  std::FILE* m_quiet;
  std::mutex m_stopLock;
  std::condition_variable m_stopSignal;
  bool m_stopping = false;
  // Between runs this watch takes the signals; during a run, the run's own.
  // After the stop's lock, so that its watcher ends before the lock goes.
  CInterruptWatch m_interrupt;
  SpindleTally m_tally;
  int m_worst = kExitOk;  // of the discs scanned
  int m_code = kExitOk;
  bool m_driveGone = false;
  bool m_ejected = false;  // the drive took the last disc's eject
  int m_signal = 0;
};

CWatch::CWatch(CDriveSession& session, const CliOptions& options, std::FILE* out, std::FILE* err,
               const DiscWait& wait, std::string dir)
    : m_session(session),
      m_options(options),
      m_out(out),
      m_err(err),
      m_wait(wait),
      m_dir(std::move(dir)),
      m_quiet(std::fopen("/dev/null", "w")) {
  if (m_quiet == nullptr) m_quiet = err;
  m_interrupt.OnInterrupt([this] {
    std::lock_guard<std::mutex> hold(m_stopLock);
    m_stopping = true;
    m_stopSignal.notify_all();
  });
}

CWatch::~CWatch() {
  if (m_quiet != m_err && m_quiet != nullptr) std::fclose(m_quiet);
}

bool CWatch::Nap() {
  std::unique_lock<std::mutex> hold(m_stopLock);
  return !m_stopSignal.wait_for(hold, m_wait.period, [this] { return m_stopping; });
}

void CWatch::SayGone(const std::string& when) {
  std::fprintf(m_out, "%s  drive %d is gone\n", when.c_str(), m_options.drive);
  m_driveGone = true;
}

bool CWatch::AwaitTrayLeaving(Tray state) {
  Tray tray = PollTray();
  while (tray == state && Nap()) tray = PollTray();
  if (m_interrupt.Interrupted()) return false;
  if (tray != Tray::kGone) return true;
  SayGone(ClockNow());
  return false;
}

int CWatch::Run() {
  std::fprintf(m_out, "Watching drive %d; insert a blank DVD-R, DVD+R or DVD+R DL (Ctrl-C ends)\n",
               m_options.drive);
  PrintLineHeading(m_out);
  std::fflush(m_out);
  while (AwaitTrayLeaving(Tray::kEmpty) && WatchDisc()) {
    if (m_options.count > 0 && m_tally.seen >= m_options.count) break;
    // The same disc is not scanned twice: wait until it leaves. A disc the
    // drive ejected has left, though a feeder's next may already be ready
    // by the next poll, with no empty tray to be seen between them.
    if (!m_ejected && !AwaitTrayLeaving(Tray::kReady)) break;
  }
  if (m_quiet != m_err) std::fclose(m_quiet);
  m_quiet = nullptr;
  if (m_signal == 0 && m_interrupt.Interrupted()) m_signal = m_interrupt.Signal();
  std::fprintf(m_out, "Summary: %s\n", SpindleTallyText(m_tally).c_str());
  std::fflush(m_out);
  return ExitCode();
}

int CWatch::ExitCode() const {
  if (m_signal != 0) return 128 + m_signal;
  if (m_driveGone) return kExitDriveFailure;
  if (m_code != kExitOk) return m_code;
  return m_worst;
}

bool CWatch::WatchDisc() {
  const std::string base = RunBaseName(m_options.reportDir, m_options.drive, m_tally.seen + 1);
  const CliOptions run = DiscRunOptions(m_options, base);
  DiscFields fields;
  DiscLine line;
  bool identified = false;
  std::string foundAt;
  IdentifyEnd found = IdentifyEnd::kNoDisc;
  DiscTypeCode foundType = kDiscUnknown;
  DiscWait runWait = m_wait;
  runWait.identified = [&](const DiscFields& f, const DiscIdentity& identity) {
    fields = f;
    identified = true;
    foundAt = CurrentIsoTime();
    found = identity.end;
    foundType = identity.type;
    FillDisc(&line, DiscTypeName(identity.type), f.manufacturerId);
    // A disc without IDs of its own (a pressed one) has none to show.
    if (!f.runControls && identity.manufacturerId.empty()) line.mid = "-";
  };
  const int runCode = m_options.smart ? RunSmartCommand(m_session, run, m_quiet, m_err, runWait)
                                      : RunScanCommand(m_session, run, m_quiet, m_err, runWait);
  const std::string when = ClockNow();
  bool goOn = true;
  if (runCode > 128) {
    // Every disc seen gets its line, the one a signal stopped too.
    m_signal = runCode - 128;
    line = RunLine(line, runCode, base);
    line.outcome = "aborted";
    m_tally.Count(SpindleDisc::kAborted);
    goOn = false;
  } else if (runCode == kExitCannotWrite || runCode == kExitBusy) {
    m_code = runCode;
    line.outcome = "failed";
    line.note = runCode == kExitBusy ? "the log or drive is in use by another run"
                                     : "its files could not be written";
    m_tally.Count(SpindleDisc::kFailed);
    goOn = false;
  } else if (!identified) {
    // Not even the disc could be looked at: the drive refuses or is gone.
    m_driveGone = PollTray() == Tray::kGone;
    m_code = m_driveGone ? kExitDriveFailure : runCode;
    line.outcome = "failed";
    line.note = m_driveGone ? "the drive is gone" : "the drive cannot be used";
    m_tally.Count(SpindleDisc::kFailed);
    goOn = false;
  } else if (!fields.runControls || runCode == kExitUsage || runCode == kExitNoDrive) {
    line.outcome = "skipped";
    line.note = runCode == kExitUsage ? "speed not offered" : "not testable";
    m_tally.Count(SpindleDisc::kSkipped);
    KeepSkippedDisc(run, fields, foundType, foundAt,
                    runCode == kExitUsage && found == IdentifyEnd::kReady
                        ? "the disc does not offer the speed asked for"
                        : UntestableDiscCause(found));
  } else {
    line = RunLine(line, runCode, base);
    m_tally.Count(runCode == kExitOk               ? SpindleDisc::kOk
                  : runCode == kExitNotRecommended ? SpindleDisc::kNotRecommended
                                                   : SpindleDisc::kFailed);
    m_worst = std::max(m_worst, std::min(runCode, kExitDriveFailure));
    if (runCode == kExitDriveFailure && PollTray() == Tray::kGone) {
      m_driveGone = true;
      if (line.outcome != "drive gone") line.note = "the drive is gone";
      goOn = false;
    }
  }
  PrintDiscLine(m_out, when, m_options.drive, line);
  std::fflush(m_out);
  m_ejected = goOn && m_options.eject && EjectMedium();
  if (goOn && m_options.eject && !m_ejected) {
    std::fprintf(m_err, "velmo-cli: the drive did not eject the disc; take it out by hand\n");
  }
  return goOn;
}

// A skipped disc has an entry of its own in the history: the disc as it was
// identified and why nothing ran on it.
void CWatch::KeepSkippedDisc(const CliOptions& run, const DiscFields& fields, DiscTypeCode type,
                             const std::string& foundAt, const std::string& why) {
  RunStart start;
  start.program = "velmo-cli";
  start.startTime = foundAt.empty() ? CurrentIsoTime() : foundAt;
  start.drive = RecordDriveOf(m_session.Manager(), static_cast<uint8_t>(m_options.drive));
  start.discType = type;
  start.disc = RecordDiscOf(fields.discType, fields.manufacturerId, fields.mediaTypeId,
                            fields.capacity, 0, fields.speedEntries);
  KeepInHistory(SkippedDiscRecord(start, why.empty() ? "the drive cannot test it" : why), run,
                m_err);
}

DiscLine CWatch::RunLine(const DiscLine& disc, int runCode, const std::string& base) {
  DiscLine line = disc;
  ScanRecord record;
  std::string error;
  if (!LoadRecordFile(base + ".json", &record, &error)) {
    if (runCode <= 128) std::fprintf(m_err, "velmo-cli: %s\n", TerminalText(error).c_str());
    line.outcome = "failed";
    line.note = "no record";
    return line;
  }
  const RunRowFigures figures = RunRowFiguresOf(record);
  line.outcome = figures.outcome;
  line.maxTe = figures.maxTe;
  line.maxFe = figures.maxFe;
  if (record.kind == RecordKind::kSmart) {
    // Its answer in words.
    std::string answer =
        SmartAnswerWords(record.outcome, record.fitSpeed ? record.fitSpeed->speed : "");
    if (record.fitSpeed) line.speed = figures.speed;
    line.note = "smart: " + TerminalText(answer.empty() ? line.outcome : answer) +
                (line.note.empty() ? "" : "  " + line.note);
  } else {
    line.speed = figures.speed;
    if (record.outcome == RunOutcome::kAborted) {
      const size_t taken = record.samples.size();
      line.note = (taken == 0   ? std::string("before its first sample")
                   : taken == 1 ? std::string("after 1 sample")
                                : "after " + std::to_string(taken) + " samples") +
                  (line.note.empty() ? "" : "  " + line.note);
    }
  }
  if (!m_options.reportDir.empty() && record.outcome != RunOutcome::kAborted &&
      !WriteReport(base + ".pdf", record, &error)) {
    std::fprintf(m_err, "velmo-cli: the report was not written: %s\n", TerminalText(error).c_str());
    m_code = kExitCannotWrite;
  }
  return line;
}

}  // namespace

int RunWatchCommand(CDriveSession& session, const CliOptions& options, std::FILE* out,
                    std::FILE* err, const DiscWait& wait) {
  ForgoRecordHandBack();
  const std::string dir = options.reportDir.empty() ? "." : options.reportDir;
  if (const int code = ClaimFolder(options, dir, err); code != kExitOk) return code;
  if (!session.Initialized()) {
    std::fprintf(err, "velmo-cli: the drive layer could not be initialised\n");
    return kExitNoDrive;
  }
  if (!SelectDriveOrSay(session.Manager(), options.drive, err)) return kExitNoDrive;
  CWatch watch(session, options, out, err, wait, dir);
  return watch.Run();
}
