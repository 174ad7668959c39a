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

#include "cli/cli_options.h"
#include "cli/interrupt_watch.h"
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

}  // namespace

int RunWatchCommand(CDriveSession& session, const CliOptions& options, std::FILE* out,
                    std::FILE* err, const DiscWait& wait) {
  // Every disc's files are named when it comes, so their folder is what is
  // claimed: one that cannot take a file ends the watch before any disc.
  const std::string dir = options.reportDir.empty() ? "." : options.reportDir;
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
  if (!session.Initialized()) {
    std::fprintf(err, "velmo-cli: the drive layer could not be initialised\n");
    return kExitNoDrive;
  }
  CDeviceManager& manager = session.Manager();
  if (!manager.SelectDrive(static_cast<uint8_t>(options.drive))) {
    std::fprintf(err, "velmo-cli: there is no drive %d ('velmo-cli drives' lists them)\n",
                 options.drive);
    return kExitNoDrive;
  }
  // The runs' own screens (fields, progress, verdict) would bury the one
  // line a disc gets.
  std::FILE* quiet = std::fopen("/dev/null", "w");
  if (quiet == nullptr) quiet = err;

  // Between runs this watch takes the signals; during a run, the run's own.
  CInterruptWatch interrupt;
  std::mutex stopLock;
  std::condition_variable stopSignal;
  bool stopping = false;
  interrupt.OnInterrupt([&] {
    std::lock_guard<std::mutex> hold(stopLock);
    stopping = true;
    stopSignal.notify_all();
  });
  // One poll period; false once a stop was asked for.
  const auto nap = [&] {
    std::unique_lock<std::mutex> hold(stopLock);
    return !stopSignal.wait_for(hold, wait.period, [&] { return stopping; });
  };

  std::fprintf(out, "Watching drive %d; insert a blank DVD-R, DVD+R or DVD+R DL (Ctrl-C ends)\n",
               options.drive);
  std::fflush(out);
  Tally tally;
  int code = kExitOk;
  bool driveGone = false;
  int signal = 0;
  for (;;) {
    // Wait for a disc.
    Tray tray = PollTray();
    while (tray == Tray::kEmpty && nap()) tray = PollTray();
    if (interrupt.Interrupted()) break;
    if (tray == Tray::kGone) {
      std::fprintf(out, "%s  drive %d  the drive is gone\n", ClockNow().c_str(), options.drive);
      driveGone = true;
      break;
    }

    ++tally.seen;
    const std::string base = RunBaseName(options.reportDir, options.drive, tally.seen);
    CliOptions run = options;
    run.logFile = base + "-TEFE.txt";
    run.jsonFile = base + ".json";
    run.csvFile.clear();
    run.chartFile.clear();
    DiscFields fields;
    bool identified = false;
    DiscWait runWait = wait;
    runWait.identified = [&](const DiscFields& f) {
      fields = f;
      identified = true;
    };
    const int runCode = options.smart ? RunSmartCommand(session, run, quiet, err, runWait)
                                      : RunScanCommand(session, run, quiet, err, runWait);
    const std::string when = ClockNow();
    if (runCode > 128) {
      signal = runCode - 128;
      break;
    }
    if (runCode == kExitCannotWrite || runCode == kExitBusy) {
      code = runCode;
      break;
    }
    if (!identified) {
      // Not even the disc could be looked at: the drive refuses or is gone.
      driveGone = PollTray() == Tray::kGone;
      code = driveGone ? kExitDriveFailure : runCode;
      std::fprintf(out, "%s  drive %d  %s\n", when.c_str(), options.drive,
                   driveGone ? "the drive is gone" : "the drive cannot be used");
      break;
    }

    if (!fields.runControls || runCode == kExitUsage || runCode == kExitNoDrive) {
      ++tally.skipped;
      std::fprintf(out, "%s  drive %d  %s  skipped: %s\n", when.c_str(), options.drive,
                   DiscName(fields.discType, fields.manufacturerId).c_str(),
                   runCode == kExitUsage ? "the speed asked for is not offered"
                                         : "not a blank, supported disc");
    } else {
      ScanRecord record;
      std::string error;
      const bool haveRecord = LoadRecordFile(run.jsonFile, &record, &error);
      if (runCode == kExitOk)
        ++tally.ok;
      else if (runCode == kExitNotRecommended)
        ++tally.notRecommended;
      else
        ++tally.failed;
      tally.worst = std::max(tally.worst, std::min(runCode, kExitDriveFailure));
      if (!haveRecord) {
        std::fprintf(err, "velmo-cli: %s\n", TerminalText(error).c_str());
        std::fprintf(out, "%s  drive %d  %s  failed (no record)\n", when.c_str(), options.drive,
                     DiscName(fields.discType, fields.manufacturerId).c_str());
      } else {
        const RecordStatistics stats = StatisticsOf(record);
        const std::string disc = DiscName(record.disc.type, record.disc.manufacturerId);
        if (options.smart) {
          // Its answer; readings at different speeds have no common maximum.
          std::string answer =
              SmartAnswerWords(record.outcome, record.fitSpeed ? record.fitSpeed->speed : "");
          if (answer.empty()) answer = RunOutcomeName(record.outcome);
          std::fprintf(out, "%s  drive %d  %s  smart  %s\n", when.c_str(), options.drive,
                       disc.c_str(), TerminalText(answer).c_str());
        } else {
          std::fprintf(out, "%s  drive %d  %s  %s  %s  max TE %d  max FE %d\n", when.c_str(),
                       options.drive, disc.c_str(), TerminalText(record.settings.speed).c_str(),
                       RunOutcomeName(record.outcome), stats.whole.te.max, stats.whole.fe.max);
        }
        std::string reportPath;
        if (!options.reportDir.empty() && !WriteReport(dir, record, &reportPath, &error)) {
          std::fprintf(err, "velmo-cli: the report was not written: %s\n",
                       TerminalText(error).c_str());
          code = kExitCannotWrite;
        }
      }
      std::fflush(out);
      if (runCode == kExitDriveFailure && PollTray() == Tray::kGone) {
        std::fprintf(out, "%s  drive %d  the drive is gone\n", ClockNow().c_str(), options.drive);
        driveGone = true;
        break;
      }
    }
    std::fflush(out);

    if (options.eject && !EjectMedium()) {
      std::fprintf(err, "velmo-cli: the drive did not eject the disc; take it out by hand\n");
    }
    if (options.count > 0 && tally.seen >= options.count) break;
    // The same disc is not scanned twice: wait until it leaves.
    tray = PollTray();
    while (tray == Tray::kReady && nap()) tray = PollTray();
    if (interrupt.Interrupted()) break;
    if (tray == Tray::kGone) {
      std::fprintf(out, "%s  drive %d  the drive is gone\n", ClockNow().c_str(), options.drive);
      driveGone = true;
      break;
    }
  }
  if (quiet != err) std::fclose(quiet);
  if (signal == 0 && interrupt.Interrupted()) signal = interrupt.Signal();

  std::fprintf(out, "Summary: %d discs seen, %d ok, %d not recommended, %d failed, %d skipped\n",
               tally.seen, tally.ok, tally.notRecommended, tally.failed, tally.skipped);
  std::fflush(out);
  if (signal != 0) return 128 + signal;
  if (driveGone) return kExitDriveFailure;
  if (code != kExitOk) return code;
  return tally.worst;
}
