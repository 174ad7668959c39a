#include "cli/scan_command.h"

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "cli/cli_options.h"
#include "cli/record_commands.h"
#include "cli/run_chart.h"
#include "cli/scan_console.h"
#include "commands/disc_globals.h"
#include "commands/drive_commands.h"
#include "console/smart_scan.h"
#include "results/report_output.h"
#include "results/run_end_text.h"
#include "results/run_identity.h"
#include "results/run_record.h"
#include "results/terminal_text.h"
#include "session/drive_session.h"
#include "session/interrupt_watch.h"
#include "session/output_file.h"
#include "session/run_lock.h"

namespace {

std::string SpeedList(const std::vector<SpeedCode>& speeds) {
  std::string list;
  for (SpeedCode code : speeds) list += (list.empty() ? "" : ", ") + std::string(SpeedLabel(code));
  return list;
}

int ExitCodeOf(RunOutcome outcome) {
  switch (outcome) {
    case RunOutcome::kOk: return kExitOk;
    case RunOutcome::kNotRecommended: return kExitNotRecommended;
    case RunOutcome::kLogNotWritten: return kExitCannotWrite;
    case RunOutcome::kAborted: return kExitInterrupted;
    default: return kExitDriveFailure;
  }
}

// One of the files a run leaves besides its log, with what goes into it.
struct PendingOutput {
  COutputFile* file;
  std::function<bool(COutputFile&, std::string*)> write;
};

// Everything is written aside before anything is put in place: when one
// output fails, none changes, and the user learns which were not written.
// False with *lastError set to the errno of the failure.
bool WriteOutputs(std::vector<PendingOutput> outputs, std::FILE* err, int* lastError) {
  // Files first: what goes straight into a device or FIFO cannot be taken back.
  std::stable_partition(outputs.begin(), outputs.end(),
                        [](const PendingOutput& o) { return !o.file->InPlace(); });
  std::string error;
  const COutputFile* failed = nullptr;
  int failure = 0;
  for (PendingOutput& output : outputs) {
    if (!output.write(*output.file, &error) || !output.file->Flush(&error)) {
      failure = errno;
      failed = output.file;
      break;
    }
  }
  for (size_t i = 0; failed == nullptr && i < outputs.size(); ++i) {
    if (!outputs[i].file->Commit(&error)) failed = outputs[i].file;
  }
  if (failed == nullptr) return true;
  *lastError = failed->FailedError() != 0 ? failed->FailedError() : failure;
  std::fprintf(err, "velmo-cli: cannot write %s\n", TerminalText(error).c_str());
  std::string missing;
  for (PendingOutput& output : outputs) {
    if (output.file->IsOpen() || output.file->FailedStep() != COutputFile::Step::kNone) {
      missing += (missing.empty() ? "" : ", ") + output.file->Path();
    }
    output.file->Discard();
  }
  std::fprintf(err, "velmo-cli: not written: %s (files of these names are left as they were)\n",
               TerminalText(missing).c_str());
  return false;
}

}  // namespace

int RunScanCommand(CDriveSession& session, const CliOptions& options, std::FILE* out,
                   std::FILE* err, const DiscWait& wait) {
  // Stops as STOP does from here on: the drive always leaves its
  // diagnostic mode, and no temporary file outlives the run.
  CInterruptWatch interrupt;
  interrupt.OnAgain([err] {
    std::fprintf(err,
                 "velmo-cli: waiting for the drive to answer its pending command "
                 "(at most %u s), then leaving the diagnostic mode\n",
                 kSampleTimeoutSeconds);
  });

  // The outputs are claimed first: a scan takes minutes, and its results
  // must not be lost to a path that cannot be written. The log is only
  // looked at: an earlier run's log stays until this run starts.
  std::string error;
  OutputTarget logTarget;
  if (!ResolveOutput(options.logFile, &logTarget, &error)) {
    std::fprintf(err, "velmo-cli: Can't support to save log file. (%s)\n",
                 TerminalText(error).c_str());
    return kExitCannotWrite;
  }
  COutputFile csv;
  COutputFile json;
  COutputFile chartFile;
  for (auto [path, file] : {std::pair{&options.csvFile, &csv}, std::pair{&options.jsonFile, &json},
                            std::pair{&options.chartFile, &chartFile}}) {
    if (!path->empty() && !file->Open(*path, &error)) {
      // A FIFO without a reader waits here until a signal ends the wait.
      if (interrupt.StoppedOutput(file->FailedError())) {
        std::fprintf(err, "velmo-cli: %s %s was waiting for a reader; the drive was not used\n",
                     interrupt.StopText().c_str(), TerminalText(*path).c_str());
        return interrupt.ExitCode();
      }
      std::fprintf(err, "velmo-cli: cannot write %s\n", TerminalText(error).c_str());
      return kExitCannotWrite;
    }
  }
  CRunLock logLock;
  if (CRunLock::Refuses(logLock.TakeLog(options.logFile))) {
    std::fprintf(err, "velmo-cli: %s\n",
                 TerminalText(logLock.Refusal(options.logFile)).c_str());
    return kExitBusy;
  }

  std::unique_ptr<CReportOutput> reportOutput;
  if (!options.reportFile.empty()) {
    reportOutput = ReportOutputFor(options.reportFile, &error);
    if (!reportOutput || !reportOutput->Open(&error)) {
      if (interrupt.StoppedOutput(errno)) {
        std::fprintf(err, "velmo-cli: %s %s was waiting for a reader; the drive was not used\n",
                     interrupt.StopText().c_str(), TerminalText(options.reportFile).c_str());
        return interrupt.ExitCode();
      }
      std::fprintf(err, "velmo-cli: cannot write %s\n", TerminalText(error).c_str());
      return kExitCannotWrite;
    }
  }

  ScanSettings settings;
  CRunChart chart(!options.chartFile.empty());
  CScanConsole console(out, isatty(fileno(out)) == 1);
  CScanRun run(settings, chart, console, OutputStreamOpener(options.logFile));
  interrupt.OnInterrupt([&run] { run.RequestStop(); });

  DiscWait discWait = wait;
  discWait.stopped = [&interrupt] { return interrupt.Interrupted(); };
  CPreparedDisc disc;
  int code = disc.Prepare(session, options.drive, err, discWait);
  if (code == kExitOk) code = disc.RequireTestable(err);
  if (code == kExitInterrupted && interrupt.Interrupted()) return interrupt.ExitCode();
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

  RunStart start = disc.RunStartOf(session, options.drive, "velmo-cli");
  const int32_t lastLba = start.disc.lastLba;
  const DiscFields& fields = disc.Fields();
  chart.SetRange(lastLba);
  console.SetExpectedSamples(
      CountScanSamples(options.density->mode, options.density->step, start.discType, lastLba));

  std::fprintf(out, "%-22s%s (%s)\n", "Drive:", TerminalText(disc.DriveName()).c_str(),
               TerminalText(disc.DrivePath()).c_str());
  PrintDiscFields(out, fields, false);
  std::fprintf(out, "%-22s%s\n", "Disc Speed:", SpeedLabel(speed));
  std::fprintf(out, "%-22s%s\n", "Graph Density:", options.density->label);
  std::fflush(out);

  start.startTime = CurrentIsoTime();
  run.Run();
  disc.LeaveDiagnosticMode();
  console.EndProgress();

  const RunEnd end = run.End();
  const std::vector<ScanSample> samples = run.Samples();
  const ScanRecord record = ScanRunRecord(start, speed, options.density, options.logFile, samples,
                                          end, console.ElapsedSeconds());
  KeepInHistory(record, options, err);
  if (end.outcome == RunOutcome::kLogNotWritten) {
    std::fprintf(err, "velmo-cli: Can't support to save log file. (%s: %s)\n",
                 TerminalText(options.logFile).c_str(),
                 std::strerror(end.cause.logError.value_or(EIO)));
    std::string missing;
    for (const COutputFile* file : {&json, &csv, &chartFile}) {
      if (file->IsOpen()) missing += (missing.empty() ? "" : ", ") + file->Path();
    }
    if (!missing.empty()) {
      std::fprintf(err, "velmo-cli: not written: %s (files of these names are left as they were)\n",
                   TerminalText(missing).c_str());
    }
    return kExitCannotWrite;
  }
  if (end.outcome == RunOutcome::kAborted) {
    std::fprintf(err, "velmo-cli: %s The log keeps the %zu samples taken.\n",
                 interrupt.StopText().c_str(), samples.size());
  } else if (!HasVerdict(end.outcome)) {
    // Only the drive's refusal of the command is a matter for its firmware.
    if (end.outcome == RunOutcome::kFirmwareFailure)
      std::fprintf(err, "velmo-cli: Firmware not supported.Please flash to latest version.\n");
    std::fprintf(err, "velmo-cli: %s; the log keeps the %zu samples taken\n",
                 DescribeRunEnd(end.outcome, end.cause).c_str(), samples.size());
  }

  code = ExitCodeOf(end.outcome);
  if (end.outcome == RunOutcome::kAborted && interrupt.Interrupted()) code = interrupt.ExitCode();
  std::vector<PendingOutput> outputs;
  if (json.IsOpen()) {
    outputs.push_back({&json, [&record](COutputFile& f, std::string* e) {
                         return f.Write(WriteRecordJson(record), e);
                       }});
  }
  if (csv.IsOpen()) {
    outputs.push_back({&csv, [&record](COutputFile& f, std::string* e) {
                         return f.Write(RecordSamplesCsv(record), e);
                       }});
  }
  if (chartFile.IsOpen()) {
    outputs.push_back(
        {&chartFile, [&chart](COutputFile& f, std::string* e) { return chart.WriteInto(f, e); }});
  }
  int writeError = 0;
  if (!WriteOutputs(std::move(outputs), err, &writeError)) {
    // A reader that went away ends the run as its SIGPIPE would.
    code = writeError == EPIPE                    ? 128 + SIGPIPE
           : interrupt.StoppedOutput(writeError) ? interrupt.ExitCode()
                                                  : kExitCannotWrite;
  } else if (!options.chartFile.empty()) {
    std::fprintf(out, "%-22s%s\n", "Chart:", TerminalText(options.chartFile).c_str());
  }
  if (reportOutput) {
    std::string written;
    if (reportOutput->Write({record}, PaperSizeFromEnvironment(), &written, &error)) {
      std::fprintf(out, "%-22s%s\n", "Report:", TerminalText(written).c_str());
    } else {
      const int why = errno;
      std::fprintf(err, "velmo-cli: cannot write %s\n", TerminalText(error).c_str());
      code = interrupt.StoppedOutput(why) ? interrupt.ExitCode() : kExitCannotWrite;
    }
  }
  std::fprintf(out, "%-22s%s (%zu samples, %ld s)\n", "Log:", TerminalText(options.logFile).c_str(),
               samples.size(), console.ElapsedSeconds());
  return code;
}
