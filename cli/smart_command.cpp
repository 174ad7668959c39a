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
#include "cli/scan_report.h"
#include "commands/disc_globals.h"
#include "commands/drive_commands.h"
#include "console/smart_scan.h"
#include "results/run_identity.h"
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
    ++m_done;
    if (verdict == SmartVerdict::kFail) ++m_failed;
    if (verdict == SmartVerdict::kNotRecommended) ++m_notRecommended;
    std::fflush(m_out);
  }
  void Stepped() override {}
  void RowSample(int row, const OuterTrackSample& sample) override {
    m_samples.resize(m_rows.size());
    m_samples[static_cast<size_t>(row)] = sample;
  }

  // The rows taken so far, as the record keeps them.
  std::vector<SmartRow> RecordRows() const {
    std::vector<SmartRow> rows;
    for (size_t i = 0; i < m_samples.size() && i < m_done; ++i) {
      const OuterTrackSample& sample = m_samples[i];
      SmartRow row;
      row.speed = SpeedLabel(m_rows[i]);
      row.speedCode = m_rows[i];
      if (sample.result != kSampleFailed) {
        row.te = sample.reading.te;
        row.fe = sample.reading.fe;
      }
      row.result = sample.result == kSampleFit              ? kSmartRowOk
                   : sample.result == kSampleNotRecommended ? kSmartRowNotRecommended
                                                            : kSmartRowFailed;
      rows.push_back(std::move(row));
    }
    return rows;
  }

  bool AllDone() const { return m_done == m_rows.size(); }
  int Failed() const { return m_failed; }
  int NotRecommended() const { return m_notRecommended; }

 private:
  std::FILE* m_out;
  bool m_terminal;
  std::vector<SpeedCode> m_rows;
  std::vector<OuterTrackSample> m_samples;
  size_t m_done = 0;
  int m_failed = 0;
  int m_notRecommended = 0;
};

}  // namespace

int RunSmartCommand(CDriveSession& session, const CliOptions& options, std::FILE* out,
                    std::FILE* err, const DiscWait& wait) {
  std::string error;
  COutputFile json;
  if (!options.jsonFile.empty() && !json.Open(options.jsonFile, &error)) {
    std::fprintf(err, "velmo-cli: cannot write %s\n", error.c_str());
    return kExitCannotWrite;
  }
  std::optional<CSmartConsole> console;
  std::optional<CSmartScanRun> run;
  CInterruptWatch interrupt;

  DiscWait discWait = wait;
  discWait.stopped = [&interrupt] { return interrupt.Interrupted(); };
  CPreparedDisc disc;
  int code = disc.Prepare(session, options.drive, err, discWait);
  if (code == kExitOk) code = disc.RequireTestable(err);
  if (code == kExitInterrupted && interrupt.Interrupted()) return interrupt.ExitCode();
  if (code != kExitOk) return code;

  std::fprintf(out, "%-22s%s (%s)\n", "Drive:", disc.DriveName().c_str(), disc.DrivePath().c_str());
  PrintDiscFields(out, disc.Fields(), false);
  std::fprintf(out, "\n");
  // The rows are the speed list as it stands now, as the dialog takes them.
  const std::vector<SpeedCode> rows = CurrentSpeedRows();
  ScanRecord record;
  record.kind = RecordKind::kSmart;
  record.program = "velmo-cli";
  record.programVersion = VelmoVersion();
  record.drive = RecordDriveOf(session.Manager(), static_cast<uint8_t>(options.drive));
  {
    std::lock_guard<std::mutex> hold(g_discLock);
    record.disc.lastLba = g_lastLba;
  }
  const DiscFields& fields = disc.Fields();
  record.disc = RecordDiscOf(fields.discType, fields.manufacturerId, fields.mediaTypeId,
                             fields.capacity, record.disc.lastLba, fields.speedEntries);
  record.startTime = CurrentIsoTime();
  const auto started = std::chrono::steady_clock::now();

  console.emplace(out, isatty(fileno(out)) == 1, rows);
  run.emplace(rows, *console);
  interrupt.OnInterrupt([&run] { run->RequestStop(); });
  run->Run();
  interrupt.OnInterrupt(nullptr);

  // A Ctrl-C after the last row does not undo the rows.
  code = kExitOk;
  if (!console->AllDone()) {
    if (isatty(fileno(out)) == 1) std::fputc('\n', out);
    std::fprintf(err, "velmo-cli: %s\n", interrupt.StopText().c_str());
    code = interrupt.Interrupted() ? interrupt.ExitCode() : kExitInterrupted;
    record.outcome = RunOutcome::kAborted;
  } else if (console->Failed() > 0) {
    code = kExitDriveFailure;
    record.outcome = FailureOutcome(run->LastTransportError());
  } else if (console->NotRecommended() > 0) {
    code = kExitNotRecommended;
    record.outcome = RunOutcome::kNotRecommended;
  } else {
    record.outcome = RunOutcome::kOk;
  }
  record.rows = console->RecordRows();
  record.durationSeconds = static_cast<long>(
      std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - started)
          .count());
  KeepInHistory(record, options, err);
  if (json.IsOpen() && !json.Commit(WriteRecordJson(record), &error)) {
    std::fprintf(err, "velmo-cli: cannot write %s\n", error.c_str());
    code = kExitCannotWrite;
  }
  return code;
}
