#include "cli/smart_command.h"

#include <unistd.h>

#include <chrono>
#include <cstring>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "cli/cli_options.h"
#include "cli/interrupt_watch.h"
#include "cli/record_commands.h"
#include "commands/disc_globals.h"
#include "commands/drive_commands.h"
#include "console/smart_scan.h"
#include "results/run_end_text.h"
#include "results/run_identity.h"
#include "results/run_record.h"
#include "results/terminal_text.h"
#include "session/drive_session.h"
#include "session/output_file.h"

namespace {

// One line a row; on a terminal the row shows "Testing..." while its sample
// is with the drive.
class CSmartConsole : public SmartScanSink {
 public:
  CSmartConsole(std::FILE* out, bool terminal, std::vector<SpeedCode> rows)
      : m_out(out), m_terminal(terminal), m_rows(std::move(rows)) {}

  void Started(int) override { std::fprintf(m_out, "%-6s%s\n", "Speed", "Result"); }
  void RowTesting(int row) override {
    if (!m_terminal) return;
    std::fprintf(m_out, "%-6s%s", SpeedLabel(m_rows[static_cast<size_t>(row)]), kSmartTesting);
    std::fflush(m_out);
  }
  void RowVerdict(int row, SmartVerdict verdict) override {
    // The padding covers "Testing..." on a terminal.
    std::fprintf(m_out, m_terminal ? "\r%-6s%-16s\n" : "%-6s%s\n",
                 SpeedLabel(m_rows[static_cast<size_t>(row)]), SmartVerdictText(verdict));
    std::fflush(m_out);
  }
  void Stepped() override {}

 private:
  std::FILE* m_out;
  bool m_terminal;
  std::vector<SpeedCode> m_rows;
};

}  // namespace

int RunSmartCommand(CDriveSession& session, const CliOptions& options, std::FILE* out,
                    std::FILE* err, const DiscWait& wait) {
  // Signals stop the run from here on, a wait for a FIFO's reader too.
  CInterruptWatch interrupt;
  std::string error;
  COutputFile json;
  if (!options.jsonFile.empty() && !json.Open(options.jsonFile, &error)) {
    if (interrupt.StoppedOutput(json.FailedError())) {
      std::fprintf(err, "velmo-cli: %s %s was waiting for a reader; the drive was not used\n",
                   interrupt.StopText().c_str(), TerminalText(options.jsonFile).c_str());
      return interrupt.ExitCode();
    }
    std::fprintf(err, "velmo-cli: cannot write %s\n", TerminalText(error).c_str());
    return kExitCannotWrite;
  }
  std::optional<CSmartConsole> console;
  std::optional<CSmartScanRun> run;

  DiscWait discWait = wait;
  discWait.stopped = [&interrupt] { return interrupt.Interrupted(); };
  CPreparedDisc disc;
  int code = disc.Prepare(session, options.drive, err, discWait);
  if (code == kExitOk) code = disc.RequireTestable(err);
  if (code == kExitInterrupted && interrupt.Interrupted()) return interrupt.ExitCode();
  if (code != kExitOk) return code;

  std::fprintf(out, "%-22s%s (%s)\n", "Drive:", TerminalText(disc.DriveName()).c_str(),
               TerminalText(disc.DrivePath()).c_str());
  PrintDiscFields(out, disc.Fields(), false);
  std::fprintf(out, "\n");
  // The rows are the speed list as it stands now, as the dialog takes them.
  const std::vector<SpeedCode> rows = CurrentSpeedRows();
  RunStart start = disc.RunStartOf(session, options.drive, "velmo-cli");
  start.startTime = CurrentIsoTime();
  const auto started = std::chrono::steady_clock::now();

  console.emplace(out, isatty(fileno(out)) == 1, rows);
  run.emplace(rows, *console);
  interrupt.OnInterrupt([&run] { run->RequestStop(); });
  run->Run();
  disc.LeaveDiagnosticMode();
  interrupt.OnInterrupt(nullptr);

  // A Ctrl-C after the last row does not undo the rows.
  const std::vector<SmartRowEnd> ended = run->Rows();
  const bool complete = ended.size() == rows.size();
  const SmartEnd end = JudgeSmartRows(ended, complete);
  const long seconds = static_cast<long>(
      std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - started)
          .count());
  const ScanRecord record = SmartRunRecord(start, rows, ended, end, seconds);
  if (!complete) {
    if (isatty(fileno(out)) == 1) std::fputc('\n', out);
    std::fprintf(err, "velmo-cli: %s\n", interrupt.StopText().c_str());
    code = interrupt.Interrupted() ? interrupt.ExitCode() : kExitInterrupted;
  } else {
    std::fprintf(out, "\n%s\n", SmartAnswerText(end.fitSpeed).c_str());
    if (!HasVerdict(end.end.outcome)) {
      // The first row without a reading says why; a refusal of the command
      // is the only one that is the firmware's.
      if (end.end.outcome == RunOutcome::kFirmwareFailure)
        std::fprintf(err, "velmo-cli: Firmware not supported.Please flash to latest version.\n");
      std::fprintf(err, "velmo-cli: %s\n", DescribeRunEnd(end.end.outcome, end.end.cause).c_str());
      code = kExitDriveFailure;
    } else {
      code = end.fitSpeed ? kExitOk : kExitNotRecommended;
    }
  }
  KeepInHistory(record, options, err);
  if (json.IsOpen() && !json.Commit(WriteRecordJson(record), &error)) {
    std::fprintf(err, "velmo-cli: cannot write %s\n", TerminalText(error).c_str());
    code = interrupt.StoppedOutput(json.FailedError()) ? interrupt.ExitCode() : kExitCannotWrite;
  }
  return code;
}
