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
#include "cli/scan_command.h"
#include "cli/smart_command.h"
#include "commands/drive_commands.h"
#include "device/host.h"
#include "results/media_codes.h"
#include "results/paper_size.h"
#include "results/report_content.h"
#include "results/report_file_name.h"
#include "results/report_page.h"
#include "results/run_end_text.h"
#include "results/scan_record.h"
#include "results/terminal_text.h"
#include "session/drive_session.h"
#include "session/interrupt_watch.h"
#include "session/output_file.h"

namespace {

struct Tally {
  int seen = 0;
  int ok = 0;
  int notRecommended = 0;
  int failed = 0;
  int skipped = 0;
  int worst = kExitOk;  // of the discs scanned
};

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

bool Exists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

// A run's files are named after it: the time it started, the drive and its
// place in this watch. A name already taken (an earlier watch in the same
// second) gets a counter, so no disc's files replace another's.
std::string RunBaseName(const std::string& dir, int drive, int number) {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
  const std::string stem =
      "velmo-" + std::string(stamp) + "-d" + std::to_string(drive) + "-" + std::to_string(number);
  std::string base = JoinPath(dir, stem);
  for (int extra = 2; Exists(base + "-TEFE.txt") || Exists(base + ".json"); ++extra) {
    base = JoinPath(dir, stem + "." + std::to_string(extra));
  }
  return base;
}

// The report's default name, with a counter before the extension when two
// discs of one manufacturer start in the same second.
std::string FreeReportPath(const std::string& dir, const ScanRecord& record) {
  const std::string name = DefaultReportFileName(record, "pdf");
  std::string path = JoinPath(dir, name);
  const std::string stem = name.substr(0, name.size() - 4);
  for (int extra = 2; Exists(path); ++extra) {
    path = JoinPath(dir, stem + "-" + std::to_string(extra) + ".pdf");
  }
  return path;
}

bool WriteReport(const std::string& dir, const ScanRecord& record, std::string* path,
                 std::string* error) {
  std::string pdf;
  if (!RenderReportPdf(BuildReportContent({record}), PaperSizeFromEnvironment(), &pdf, error)) {
    return false;
  }
  *path = FreeReportPath(dir, record);
  COutputFile file;
  return file.Open(*path, error) && file.Commit(pdf, error);
}

// The disc's own IDs, made safe for the terminal.
std::string DiscName(const std::string& type, const std::string& mid) {
  return TerminalText(type) + "  " + TerminalText(mid) + " (" +
         TerminalText(ManufacturerNameOrUnknown(mid)) + ")";
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
  void TellSkipped(const std::string& when, const DiscFields& fields, int runCode);
  // False when the run failed because the drive is gone.
  bool TellScanned(const std::string& when, const DiscFields& fields, int runCode,
                   const std::string& jsonFile);
  void TellRecord(const std::string& when, const ScanRecord& record);
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
  Tally m_tally;
  int m_code = kExitOk;
  bool m_driveGone = false;
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
  std::fprintf(m_out, "%s  drive %d  the drive is gone\n", when.c_str(), m_options.drive);
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
  std::fflush(m_out);
  while (AwaitTrayLeaving(Tray::kEmpty) && WatchDisc()) {
    if (m_options.count > 0 && m_tally.seen >= m_options.count) break;
    // The same disc is not scanned twice: wait until it leaves.
    if (!AwaitTrayLeaving(Tray::kReady)) break;
  }
  if (m_quiet != m_err) std::fclose(m_quiet);
  m_quiet = nullptr;
  if (m_signal == 0 && m_interrupt.Interrupted()) m_signal = m_interrupt.Signal();
  std::fprintf(m_out, "Summary: %d discs seen, %d ok, %d not recommended, %d failed, %d skipped\n",
               m_tally.seen, m_tally.ok, m_tally.notRecommended, m_tally.failed, m_tally.skipped);
  std::fflush(m_out);
  return ExitCode();
}

int CWatch::ExitCode() const {
  if (m_signal != 0) return 128 + m_signal;
  if (m_driveGone) return kExitDriveFailure;
  if (m_code != kExitOk) return m_code;
  return m_tally.worst;
}

bool CWatch::WatchDisc() {
  ++m_tally.seen;
  const CliOptions run =
      DiscRunOptions(m_options, RunBaseName(m_options.reportDir, m_options.drive, m_tally.seen));
  DiscFields fields;
  bool identified = false;
  DiscWait runWait = m_wait;
  runWait.identified = [&](const DiscFields& f) {
    fields = f;
    identified = true;
  };
  const int runCode = m_options.smart ? RunSmartCommand(m_session, run, m_quiet, m_err, runWait)
                                      : RunScanCommand(m_session, run, m_quiet, m_err, runWait);
  const std::string when = ClockNow();
  if (runCode > 128) {
    m_signal = runCode - 128;
    return false;
  }
  if (runCode == kExitCannotWrite || runCode == kExitBusy) {
    m_code = runCode;
    return false;
  }
  if (!identified) {
    // Not even the disc could be looked at: the drive refuses or is gone.
    m_driveGone = PollTray() == Tray::kGone;
    m_code = m_driveGone ? kExitDriveFailure : runCode;
    std::fprintf(m_out, "%s  drive %d  %s\n", when.c_str(), m_options.drive,
                 m_driveGone ? "the drive is gone" : "the drive cannot be used");
    return false;
  }
  if (!fields.runControls || runCode == kExitUsage || runCode == kExitNoDrive) {
    TellSkipped(when, fields, runCode);
  } else if (!TellScanned(when, fields, runCode, run.jsonFile)) {
    return false;
  }
  std::fflush(m_out);
  if (m_options.eject && !EjectMedium()) {
    std::fprintf(m_err, "velmo-cli: the drive did not eject the disc; take it out by hand\n");
  }
  return true;
}

void CWatch::TellSkipped(const std::string& when, const DiscFields& fields, int runCode) {
  ++m_tally.skipped;
  std::fprintf(
      m_out, "%s  drive %d  %s  skipped: %s\n", when.c_str(), m_options.drive,
      DiscName(fields.discType, fields.manufacturerId).c_str(),
      runCode == kExitUsage ? "the speed asked for is not offered" : "not a blank, supported disc");
}

bool CWatch::TellScanned(const std::string& when, const DiscFields& fields, int runCode,
                         const std::string& jsonFile) {
  ScanRecord record;
  std::string error;
  const bool haveRecord = LoadRecordFile(jsonFile, &record, &error);
  if (runCode == kExitOk)
    ++m_tally.ok;
  else if (runCode == kExitNotRecommended)
    ++m_tally.notRecommended;
  else
    ++m_tally.failed;
  m_tally.worst = std::max(m_tally.worst, std::min(runCode, kExitDriveFailure));
  if (!haveRecord) {
    std::fprintf(m_err, "velmo-cli: %s\n", TerminalText(error).c_str());
    std::fprintf(m_out, "%s  drive %d  %s  failed (no record)\n", when.c_str(), m_options.drive,
                 DiscName(fields.discType, fields.manufacturerId).c_str());
  } else {
    TellRecord(when, record);
    std::string reportPath;
    if (!m_options.reportDir.empty() && !WriteReport(m_dir, record, &reportPath, &error)) {
      std::fprintf(m_err, "velmo-cli: the report was not written: %s\n",
                   TerminalText(error).c_str());
      m_code = kExitCannotWrite;
    }
  }
  std::fflush(m_out);
  if (runCode != kExitDriveFailure || PollTray() != Tray::kGone) return true;
  SayGone(ClockNow());
  return false;
}

void CWatch::TellRecord(const std::string& when, const ScanRecord& record) {
  const std::string disc = DiscName(record.disc.type, record.disc.manufacturerId);
  if (m_options.smart) {
    // Its answer; readings at different speeds have no common maximum.
    std::string answer =
        SmartAnswerWords(record.outcome, record.fitSpeed ? record.fitSpeed->speed : "");
    if (answer.empty()) answer = RunOutcomeName(record.outcome);
    std::fprintf(m_out, "%s  drive %d  %s  smart  %s\n", when.c_str(), m_options.drive,
                 disc.c_str(), TerminalText(answer).c_str());
    return;
  }
  const RecordStatistics stats = StatisticsOf(record);
  std::fprintf(m_out, "%s  drive %d  %s  %s  %s  max TE %d  max FE %d\n", when.c_str(),
               m_options.drive, disc.c_str(), TerminalText(record.settings.speed).c_str(),
               RunOutcomeName(record.outcome), stats.whole.te.max, stats.whole.fe.max);
}

}  // namespace

int RunWatchCommand(CDriveSession& session, const CliOptions& options, std::FILE* out,
                    std::FILE* err, const DiscWait& wait) {
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
