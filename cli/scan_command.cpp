#include "cli/scan_command.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "cli/claimed_outputs.h"
#include "cli/cli_options.h"
#include "cli/drive_fanout.h"
#include "cli/record_commands.h"
#include "cli/run_chart.h"
#include "cli/scan_console.h"
#include "cli/terminal_style.h"
#include "commands/disc_globals.h"
#include "commands/drive_commands.h"
#include "console/disc_range.h"
#include "console/smart_scan.h"
#include "records/run_end_text.h"
#include "records/run_identity.h"
#include "records/run_record.h"
#include "session/drive_session.h"
#include "session/interrupt_watch.h"
#include "session/terminal_text.h"

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

// The speed asked for, or the disc's first; none (said on err) when the
// disc does not offer the one asked for.
std::optional<SpeedCode> PickSpeed(const CliOptions& options, std::FILE* err) {
  const std::vector<SpeedCode> speeds = CurrentSpeedRows();
  if (!options.speed) return speeds.front();
  if (std::find(speeds.begin(), speeds.end(), *options.speed) == speeds.end()) {
    std::fprintf(err, "velmo-cli: this disc cannot be scanned at %s; its write speeds are %s\n",
                 SpeedLabel(*options.speed), SpeedList(speeds).c_str());
    return std::nullopt;
  }
  return *options.speed;
}

// What is about to be scanned, and how.
void PrintRunHeader(std::FILE* out, const CPreparedDisc& disc, SpeedCode speed,
                    const char* density) {
  disc.PrintDrive(out);
  PrintDiscFields(out, disc.Fields(), false);
  std::fprintf(out, "%-22s%s\n", "Disc Speed:", SpeedLabel(speed));
  std::fprintf(out, "%-22s%s\n", "Graph Density:", density);
  std::fflush(out);
}

// Without its log the run has no result: nothing else is written.
int TellLogNotWritten(const RunEnd& end, const std::string& logFile, const CClaimedOutputs& outputs,
                      const CInterruptWatch& interrupt, std::FILE* err) {
  const int why = end.cause.logError.value_or(EIO);
  // A signal that ended a write nobody read is a stop, not a failed log.
  const bool stopped = interrupt.StoppedOutput(why);
  if (stopped) {
    std::fprintf(err, "velmo-cli: %s while %s was waiting for its reader\n",
                 interrupt.StopText().c_str(), TerminalText(logFile).c_str());
  } else {
    std::fprintf(err, "velmo-cli: Can't support to save log file. (%s: %s)\n",
                 TerminalText(logFile).c_str(), std::strerror(why));
  }
  const std::string missing = outputs.OpenPaths();
  if (!missing.empty()) {
    std::fprintf(err, "velmo-cli: not written: %s (files of these names are left as they were)\n",
                 TerminalText(missing).c_str());
  }
  return stopped ? interrupt.ExitCode() : kExitCannotWrite;
}

// What the log holds of a run that ended early: "the log keeps the 9
// samples taken", or its header alone when none was. A stop before the run
// began never opened it: a file of its name is as it was.
std::string LogKeepsText(size_t samples, bool logBegun) {
  if (!logBegun) return "no log was written: the run stopped before it began";
  if (samples == 0) return "the log holds its header only: no sample was taken";
  return "the log keeps the " + std::to_string(samples) +
         (samples == 1 ? " sample taken" : " samples taken");
}

// A run without a verdict says why on err; the exit code of how it ended.
int TellRunEnd(const RunEnd& end, size_t samples, bool logBegun, const CInterruptWatch& interrupt,
               std::FILE* err) {
  if (end.outcome == RunOutcome::kAborted) {
    std::string keeps = LogKeepsText(samples, logBegun);
    keeps[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(keeps[0])));
    std::fprintf(err, "velmo-cli: %s %s.\n", interrupt.StopText().c_str(), keeps.c_str());
  } else if (!HasVerdict(end.outcome)) {
    // Only the drive's refusal of the command is a matter for its firmware.
    if (end.outcome == RunOutcome::kFirmwareFailure)
      std::fprintf(err, "velmo-cli: Firmware not supported.Please flash to latest version.\n");
    std::fprintf(err, "velmo-cli: %s; %s\n", DescribeRunEnd(end.outcome, end.cause).c_str(),
                 LogKeepsText(samples, logBegun).c_str());
  }
  if (end.outcome == RunOutcome::kAborted && interrupt.Interrupted()) return interrupt.ExitCode();
  return ExitCodeOf(end.outcome);
}

// A run to go on from must be a scan that ended by a fault or a stop, kept
// with this program's limits; 0, or the exit code with the reason on err.
int CheckRunToResume(const ScanRecord& earlier, const std::string& name, std::FILE* err) {
  const std::string run = TerminalText(name);
  if (earlier.kind != RecordKind::kScan) {
    std::fprintf(err, "velmo-cli: run %s is a Smart Scan; only a scan goes on\n", run.c_str());
    return kExitUsage;
  }
  if (!CanResumeRun(earlier.outcome)) {
    std::fprintf(err,
                 "velmo-cli: run %s ended %s; only a run that a fault or a stop ended goes on\n",
                 run.c_str(), RunOutcomeName(earlier.outcome));
    return kExitUsage;
  }
  if (earlier.settings.teLimit != kTeLimit || earlier.settings.feLimit != kFeLimit) {
    std::fprintf(err, "velmo-cli: run %s was judged against other limits (TE %d, FE %d)\n",
                 run.c_str(), earlier.settings.teLimit, earlier.settings.feLimit);
    return kExitBadRecord;
  }
  return kExitOk;
}

// The run's settings as the earlier run had them; false (said on err) when
// the record names a density this program does not know.
bool TakeEarlierSettings(const ScanRecord& earlier, CliOptions* options, std::FILE* err) {
  options->speed = static_cast<SpeedCode>(earlier.settings.speedCode);
  for (const DensityChoice& choice : kDensityChoices) {
    if (earlier.settings.density == choice.name && earlier.settings.densityStep == choice.step) {
      options->density = &choice;
      return true;
    }
  }
  std::fprintf(err, "velmo-cli: the run's density '%s' (step %d) is not one this program takes\n",
               TerminalText(earlier.settings.density).c_str(), earlier.settings.densityStep);
  return false;
}

// The part of the disc --from and --to name, checked on this disc; false
// (said on err) when it lies outside it or holds no sample position.
bool PartOfDisc(const CliOptions& options, const std::vector<int32_t>& positions, int32_t lastLba,
                ScanPart* part, std::FILE* err) {
  if (options.from.empty() && options.to.empty()) return true;
  const int64_t discEnd = static_cast<int64_t>(lastLba) + 1;
  const int64_t from =
      options.from.empty() ? 0 : PlaceDiscPosition(*ParseDiscPosition(options.from), lastLba);
  const int64_t to =
      options.to.empty() ? discEnd : PlaceDiscPosition(*ParseDiscPosition(options.to), lastLba);
  const std::string why = CheckDiscPart(from, to, lastLba, positions);
  if (!why.empty()) {
    std::fprintf(err, "velmo-cli: %s\n", why.c_str());
    return false;
  }
  part->from = static_cast<int32_t>(from);
  part->to = static_cast<int32_t>(to);
  return true;
}

}  // namespace

int RunScanCommand(CDriveSession& session, const CliOptions& given, std::FILE* out, std::FILE* err,
                   const DiscWait& wait) {
  // A run that goes on: its record first, before any output is claimed.
  CliOptions options = given;
  std::optional<ScanRecord> earlier;
  if (!given.resume.empty()) {
    ScanRecord record;
    if (const int code = LoadNamedRun(given.resume, given, &record, err)) return code;
    if (const int code = CheckRunToResume(record, given.resume, err)) return code;
    if (!TakeEarlierSettings(record, &options, err)) return kExitBadRecord;
    earlier = std::move(record);
  }
  // Stops as STOP does from here on: the drive always leaves its
  // diagnostic mode, and no temporary file outlives the run.
  CInterruptWatch interrupt;
  interrupt.OnAgain([err] {
    std::fprintf(err,
                 "velmo-cli: waiting for the drive to answer its pending command "
                 "(at most %u s), then leaving the diagnostic mode\n",
                 kSampleTimeoutSeconds);
  });
  CClaimedOutputs outputs(interrupt, err);
  if (const int code = outputs.Claim(options, true); code != kExitOk) return code;

  ScanSettings settings;
  CRunChart chart(!options.chartFile.empty());
  CScanConsole console(out, TerminalStyleOf(out), options.quiet);
  std::FILE* talk = TalkStream(out, options.quiet);
  // Run() opens the log on this thread, unless a stop came first.
  bool logBegun = false;
  CScanRun run(settings, chart, console, [&logBegun, open = outputs.LogOpener(options.logFile)] {
    logBegun = true;
    return open();
  });
  interrupt.OnInterrupt([&run] { run.RequestStop(); });

  CPreparedDisc disc;
  const int prepared = disc.Prepare(session, options.drive, err, wait, interrupt, DiscUse::kRun);
  if (prepared != kExitOk) return prepared;
  const std::optional<SpeedCode> speed = PickSpeed(options, err);
  if (!speed) return kExitUsage;
  settings.speedCode = *speed;
  settings.densityStep = options.density->step;
  settings.densityMode = options.density->mode;

  RunStart start = disc.RunStartOf(session, options.drive, "velmo-cli");
  const std::vector<int32_t> positions = ScanPositions(options.density->mode, options.density->step,
                                                       start.discType, start.disc.lastLba);
  ScanPart part;
  if (earlier) {
    if (const std::string other = OtherDiscThan(earlier->disc, start.disc); !other.empty()) {
      std::fprintf(err, "velmo-cli: not the disc of run %s: %s\n",
                   TerminalText(given.resume).c_str(), TerminalText(other).c_str());
      return kExitBadRecord;
    }
    part = ResumePartOf(*earlier);
  } else if (!PartOfDisc(options, positions, start.disc.lastLba, &part, err)) {
    return kExitUsage;
  }
  run.SetPart(part);
  chart.SetRange(start.disc.lastLba, options.chartFitted);
  console.SetExpectedSamples(CountScanSamples(options.density->mode, options.density->step,
                                              start.discType, start.disc.lastLba, part));
  PrintRunHeader(talk, disc, *speed, options.density->label);
  if (part.from != 0 || part.to != INT32_MAX) {
    std::fprintf(talk, "%-22sLBA %ld up to %ld\n",
                 "Part of the Disc:", static_cast<long>(part.from),
                 static_cast<long>(std::min<int64_t>(part.to, start.disc.lastLba + 1LL)));
  }
  if (earlier) {
    std::fprintf(talk, "%-22safter the %zu samples of run %s\n", "Resumed:", part.taken.size(),
                 TerminalText(given.resume).c_str());
  }
  std::fflush(talk);

  start.startTime = CurrentIsoTime();
  run.Run();
  disc.LeaveDiagnosticMode();
  console.EndProgress();

  const RunEnd end = run.End();
  const std::vector<ScanSample> samples = run.Samples();
  ScanRecord record = ScanRunRecord(start, *speed, options.density, options.logFile, samples, end,
                                    console.ElapsedSeconds());
  SetRecordPart(&record, part, earlier ? earlier->runId : "");
  KeepInHistory(record, options, err);
  HandRecordToParent(record);
  if (end.outcome == RunOutcome::kLogNotWritten)
    return TellLogNotWritten(end, options.logFile, outputs, interrupt, err);
  const int code = outputs.Commit(record, chart, talk,
                                  TellRunEnd(end, samples.size(), logBegun, interrupt, err));
  if (logBegun) {
    std::fprintf(talk, "%-22s%s (%zu samples, %ld s)\n",
                 "Log:", TerminalText(options.logFile).c_str(), samples.size(),
                 console.ElapsedSeconds());
  } else {
    std::fprintf(talk, "%-22snone written\n", "Log:");
  }
  return code;
}
