#include "cli/smart_command.h"

#include <unistd.h>

#include <chrono>
#include <cstring>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "cli/claimed_outputs.h"
#include "cli/cli_options.h"
#include "cli/drive_fanout.h"
#include "cli/record_commands.h"
#include "cli/terminal_style.h"
#include "commands/disc_globals.h"
#include "commands/drive_commands.h"
#include "console/smart_scan.h"
#include "records/run_end_text.h"
#include "records/run_identity.h"
#include "records/run_record.h"
#include "session/drive_session.h"
#include "session/interrupt_watch.h"
#include "session/terminal_text.h"

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

// The run's verdict on out, or why it has none on err; its exit code.
int TellSmartEnd(const SmartEnd& end, bool complete, const CInterruptWatch& interrupt,
                 std::FILE* out, std::FILE* err, bool quiet) {
  if (!complete) {
    if (isatty(fileno(out)) == 1 && !quiet) std::fputc('\n', out);
    std::fprintf(err, "velmo-cli: %s\n", interrupt.StopText().c_str());
    return interrupt.Interrupted() ? interrupt.ExitCode() : kExitInterrupted;
  }
  std::fprintf(out, quiet ? "%s\n" : "\n%s\n", SmartAnswerText(end.fitSpeed).c_str());
  if (HasVerdict(end.end.outcome)) return end.fitSpeed ? kExitOk : kExitNotRecommended;
  // The first row without a reading says why; a refusal of the command is
  // the only one that is the firmware's.
  if (end.end.outcome == RunOutcome::kFirmwareFailure)
    std::fprintf(err, "velmo-cli: Firmware not supported.Please flash to latest version.\n");
  std::fprintf(err, "velmo-cli: %s\n", DescribeRunEnd(end.end.outcome, end.end.cause).c_str());
  return kExitDriveFailure;
}

}  // namespace

int RunSmartCommand(CDriveSession& session, const CliOptions& options, std::FILE* out,
                    std::FILE* err, const DiscWait& wait) {
  // Signals stop the run from here on, a wait for a FIFO's reader too.
  CInterruptWatch interrupt;
  CClaimedOutputs outputs(interrupt, err);
  if (const int code = outputs.Claim(options, false); code != kExitOk) return code;
  std::optional<CSmartConsole> console;
  std::optional<CSmartScanRun> run;

  CPreparedDisc disc;
  const int prepared = disc.Prepare(session, options.drive, err, wait, interrupt, DiscUse::kRun);
  if (prepared != kExitOk) return prepared;
  std::FILE* talk = TalkStream(out, options.quiet);
  disc.PrintDrive(talk);
  PrintDiscFields(talk, disc.Fields(), false);
  std::fprintf(talk, "\n");
  // The rows are the speed list as it stands now, as the dialog takes them.
  const std::vector<SpeedCode> rows = CurrentSpeedRows();
  RunStart start = disc.RunStartOf(session, options.drive, "velmo-cli");
  start.startTime = CurrentIsoTime();
  const auto started = std::chrono::steady_clock::now();

  console.emplace(talk, isatty(fileno(talk)) == 1, rows);
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
  const int code = TellSmartEnd(end, complete, interrupt, out, err, options.quiet);
  KeepInHistory(record, options, err);
  HandRecordToParent(record);
  return outputs.CommitRecordOnly(record, code);
}
