#include "cli/smart_command.h"

#include <unistd.h>

#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "cli/cli_options.h"
#include "cli/drive_session.h"
#include "cli/interrupt_watch.h"
#include "console/smart_scan.h"

namespace {

// One line a row; on a terminal the row shows "Testing..." while its sample
// is with the drive.
class CSmartConsole : public SmartScanSink {
 public:
  CSmartConsole(std::FILE* out, bool terminal, std::vector<SpeedCode> rows)
      : m_out(out), m_terminal(terminal), m_rows(std::move(rows)) {}

  void Started(int) override { std::fprintf(m_out, "%-6s%s\n", "Speed", "Result"); }
  void RowText(int row, const char* text) override {
    const char* label = SpeedLabel(m_rows[static_cast<size_t>(row)]);
    if (std::strcmp(text, kSmartTesting) == 0) {
      if (m_terminal) std::fprintf(m_out, "%-6s%s", label, text);
    } else {
      // The padding covers "Testing..." on a terminal.
      std::fprintf(m_out, m_terminal ? "\r%-6s%-16s\n" : "%-6s%s\n", label, text);
      ++m_done;
      if (std::strcmp(text, kSmartFail) == 0) ++m_failed;
      if (std::strcmp(text, kSmartNotRecommended) == 0) ++m_notRecommended;
    }
    std::fflush(m_out);
  }
  void Stepped() override {}

  bool AllDone() const { return m_done == m_rows.size(); }
  int Failed() const { return m_failed; }
  int NotRecommended() const { return m_notRecommended; }

 private:
  std::FILE* m_out;
  bool m_terminal;
  std::vector<SpeedCode> m_rows;
  size_t m_done = 0;
  int m_failed = 0;
  int m_notRecommended = 0;
};

}  // namespace

int RunSmartCommand(CDriveSession& session, const CliOptions& options, std::FILE* out,
                    std::FILE* err, const DiscWait& wait) {
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

  std::fprintf(out, "%-22s%s (%s)\n", "Drive:", disc.DriveName().c_str(),
               disc.DrivePath().c_str());
  PrintDiscFields(out, disc.Fields(), false);
  std::fprintf(out, "\n");
  // The rows are the speed list as it stands now, as the dialog takes them.
  const std::vector<SpeedCode> rows = CurrentSpeedRows();
  console.emplace(out, isatty(fileno(out)) == 1, rows);
  run.emplace(rows, *console);
  interrupt.OnInterrupt([&run] { run->RequestStop(); });
  run->Run();
  interrupt.OnInterrupt(nullptr);

  // A Ctrl-C after the last row does not undo the rows.
  if (!console->AllDone()) {
    if (isatty(fileno(out)) == 1) std::fputc('\n', out);
    std::fprintf(err, "velmo-cli: %s\n", interrupt.StopText().c_str());
    return interrupt.Interrupted() ? interrupt.ExitCode() : kExitInterrupted;
  }
  if (console->Failed() > 0) return kExitDriveFailure;
  if (console->NotRecommended() > 0) return kExitNotRecommended;
  return kExitOk;
}
