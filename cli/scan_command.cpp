#include "cli/scan_command.h"

#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>

#include "cli/atomic_file.h"
#include "cli/cli_options.h"
#include "cli/drive_session.h"
#include "cli/interrupt_watch.h"
#include "cli/record_commands.h"
#include "cli/report_output.h"
#include "cli/run_chart.h"
#include "cli/scan_console.h"
#include "commands/disc_globals.h"
#include "commands/drive_commands.h"
#include "console/smart_scan.h"
#include "results/run_identity.h"

namespace {

std::string SpeedList(const std::vector<SpeedCode>& speeds) {
  std::string list;
  for (SpeedCode code : speeds) list += (list.empty() ? "" : ", ") + std::string(SpeedLabel(code));
  return list;
}

// From what the run told the console: a Ctrl-C after the verdict does not
// undo it, and after a stop the run tells nothing more.
ScanOutcome OutcomeOf(const CScanConsole& console) {
  if (console.FirmwareFailed()) return FailureOutcome(CDeviceManager::GetLastTransportError());
  if (console.VerdictText().empty()) return ScanOutcome::kAborted;
  return console.VerdictOk() ? ScanOutcome::kOk : ScanOutcome::kNotRecommended;
}

int ExitCodeOf(ScanOutcome outcome) {
  switch (outcome) {
    case ScanOutcome::kOk: return kExitOk;
    case ScanOutcome::kNotRecommended: return kExitNotRecommended;
    case ScanOutcome::kFirmwareFailure:
    case ScanOutcome::kTimedOut:
    case ScanOutcome::kDriveGone:
    case ScanOutcome::kDiscEjected: return kExitDriveFailure;
    case ScanOutcome::kLogNotWritten: return kExitCannotWrite;
    case ScanOutcome::kAborted: return kExitInterrupted;
  }
  return kExitDriveFailure;
}

}  // namespace

int RunScanCommand(CDriveSession& session, const CliOptions& options, std::FILE* out,
                   std::FILE* err, const DiscWait& wait) {
  // The output files are claimed first: a scan takes minutes, and its
  // results must not be lost to a path that cannot be written.
  std::string error;
  CAtomicFile csv;
  CAtomicFile json;
  if ((!options.csvFile.empty() && !csv.Open(options.csvFile, &error)) ||
      (!options.jsonFile.empty() && !json.Open(options.jsonFile, &error))) {
    std::fprintf(err, "velmo-cli: cannot write %s\n", error.c_str());
    return kExitCannotWrite;
  }

  std::unique_ptr<CReportOutput> reportOutput;
  if (!options.reportFile.empty()) {
    reportOutput = ReportOutputFor(options.reportFile, &error);
    if (!reportOutput || !reportOutput->Open(&error)) {
      std::fprintf(err, "velmo-cli: cannot write %s\n", error.c_str());
      return kExitCannotWrite;
    }
  }

  ScanSettings settings;
  CRunChart chart(!options.chartFile.empty());
  CScanConsole console(out, isatty(fileno(out)) == 1);
  CScanRun run(settings, chart, console, options.logFile);
  CInterruptWatch interrupt;
  interrupt.OnInterrupt([&run] { run.RequestStop(); });

  DiscWait discWait = wait;
  discWait.stopped = [&interrupt] { return interrupt.Interrupted(); };
  CPreparedDisc disc;
  int code = disc.Prepare(session, options.drive, err, discWait);
  if (code == kExitOk) code = disc.RequireTestable(err);
  if (code != kExitOk) return code;

  const std::vector<SpeedCode> speeds = CurrentSpeedRows();
  SpeedCode speed = speeds.front();
  if (options.speed) {
    if (std::find(speeds.begin(), speeds.end(), *options.speed) == speeds.end()) {
      std::fprintf(err, "velmo-cli: this disc cannot be scanned at %s; its write speeds are %s\n",
                   SpeedLabel(*options.speed), SpeedList(speeds).c_str());
      return kExitUsage;
    }
    speed = *options.speed;
  }
  settings.speedCode = speed;
  settings.densityStep = options.density->step;
  settings.densityMode = options.density->mode;

  ScanReport report;
  report.driveName = disc.DriveName();
  report.drivePath = disc.DrivePath();
  report.drive = RecordDriveOf(session.Manager(), static_cast<uint8_t>(options.drive));
  report.discTypeCode = g_discType.load();
  report.disc = disc.Fields();
  {
    std::lock_guard<std::mutex> hold(g_discLock);
    report.lastLba = g_lastLba;
  }
  chart.SetRange(report.lastLba);
  report.speed = speed;
  report.density = options.density;
  report.logFile = options.logFile;
  console.SetExpectedSamples(
      CountScanSamples(options.density->mode, options.density->step, g_discType, report.lastLba));

  std::fprintf(out, "%-22s%s (%s)\n", "Drive:", report.driveName.c_str(),
               report.drivePath.c_str());
  PrintDiscFields(out, report.disc, false);
  std::fprintf(out, "%-22s%s\n", "Disc Speed:", SpeedLabel(speed));
  std::fprintf(out, "%-22s%s\n", "Graph Density:", options.density->label);
  std::fflush(out);

  report.startTime = CurrentIsoTime();
  run.Run();
  console.EndProgress();

  report.samples = console.Samples();
  report.verdict = console.VerdictText();
  report.elapsedSeconds = console.ElapsedSeconds();
  if (console.LogFailed()) {
    std::fprintf(err, "velmo-cli: Can't support to save log file. (%s: %s)\n",
                 options.logFile.c_str(), std::strerror(console.LogError()));
    report.outcome = ScanOutcome::kLogNotWritten;
    KeepInHistory(ScanRecordOf(report), options, err);
    return kExitCannotWrite;
  }
  report.outcome = OutcomeOf(console);
  // A failed sample with the drive now empty: the disc left during the run.
  if (report.outcome == ScanOutcome::kFirmwareFailure && DriveNotReady()) {
    report.outcome = ScanOutcome::kDiscEjected;
  }
  if (report.outcome == ScanOutcome::kAborted) {
    std::fprintf(err, "velmo-cli: User abort! The log keeps the %zu samples taken.\n",
                 report.samples.size());
  } else if (report.outcome != ScanOutcome::kOk &&
             report.outcome != ScanOutcome::kNotRecommended) {
    const std::string why =
        DescribeVendorCommandFailure(CDeviceManager::GetLastTransportError(), report.drivePath);
    std::fprintf(err, "velmo-cli: Firmware not supported.Please flash to latest version.%s%s\n",
                 why.empty() ? "" : " Transport: ", why.c_str());
  }

  code = ExitCodeOf(report.outcome);
  const ScanRecord record = ScanRecordOf(report);
  KeepInHistory(record, options, err);
  if ((json.IsOpen() && !json.Commit(WriteRecordJson(record), &error)) ||
      (csv.IsOpen() && !csv.Commit(ScanReportCsv(report), &error))) {
    std::fprintf(err, "velmo-cli: cannot write %s\n", error.c_str());
    code = kExitCannotWrite;
  }
  if (!options.chartFile.empty()) {
    if (chart.Save(options.chartFile, &error)) {
      std::fprintf(out, "%-22s%s\n", "Chart:", options.chartFile.c_str());
    } else {
      std::fprintf(err, "velmo-cli: cannot write %s\n", error.c_str());
      code = kExitCannotWrite;
    }
  }
  if (reportOutput) {
    std::string written;
    if (reportOutput->Write({record}, PaperSizeFromEnvironment(), out, &written,
                            &error)) {
      std::fprintf(out, "%-22s%s\n", "Report:", written.c_str());
    } else {
      std::fprintf(err, "velmo-cli: cannot write %s\n", error.c_str());
      code = kExitCannotWrite;
    }
  }
  std::fprintf(out, "%-22s%s (%zu samples, %ld s)\n", "Log:", options.logFile.c_str(),
               report.samples.size(), report.elapsedSeconds);
  return code;
}
