#include "cli/drive_fanout.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>

#include <nlohmann/json.hpp>

#include "cli/cli_commands.h"
#include "cli/cli_options.h"
#include "cli/disc_preparation.h"
#include "cli/drive_board.h"
#include "cli/run_row.h"
#include "cli/terminal_style.h"
#include "commands/drive_commands.h"
#include "records/run_identity.h"
#include "records/scan_record.h"
#include "reports/report_file_name.h"
#include "session/drive_session.h"
#include "session/interrupt_watch.h"
#include "session/output_file.h"
#include "session/terminal_text.h"

namespace {

// Where a run hands its record back: the descriptor's number in this
// variable of its environment.
constexpr char kRecordFdVariable[] = "VELMO_CLI_RECORD_FD";
constexpr int kRecordFd = 3;

using FolderState = std::map<std::string, std::filesystem::file_time_type>;

struct DriveRun {
  int index = 0;
  size_t slot = 0;     // its place among the runs, and its line of the board
  std::string prefix;  // "[N PRODUCT] "
  std::string folder;  // "N-PRODUCT"
  std::string device;  // the node it was opened on
  pid_t pid = -1;
  int outFd = -1;
  int errFd = -1;
  int recordFd = -1;
  std::string outPending;
  std::string errPending;
  std::string recordText;
  std::optional<ScanRecord> record;  // recordText read, once it is whole
  FolderState before;                // the folder's files before the run, to tell those it wrote
  int code = -1;
};

FolderState FilesIn(const std::string& folder) {
  FolderState files;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
    std::error_code ignored;
    if (entry.is_regular_file(ignored))
      files[entry.path().filename().string()] = entry.last_write_time(ignored);
  }
  return files;
}

// Whole lines go out with the drive's prefix (or to its line of the board);
// a last line without its newline goes out when the run ends.
void PassLines(std::string* pending, const DriveRun& run, std::FILE* to, CDriveBoard* board,
               bool isErr, bool flushAll) {
  const auto emit = [&](const std::string& line) {
    if (board == nullptr) {
      std::fprintf(to, "%s%s\n", run.prefix.c_str(), line.c_str());
    } else if (isErr) {
      board->Say(to, run.prefix + line);
    } else {
      board->Update(run.slot, line);
    }
  };
  size_t start = 0;
  for (size_t nl; (nl = pending->find('\n', start)) != std::string::npos; start = nl + 1) {
    emit(pending->substr(start, nl - start));
  }
  pending->erase(0, start);
  if (flushAll && !pending->empty()) {
    emit(*pending);
    pending->clear();
  }
  std::fflush(to);
}

// The arguments of one drive's run: every "--drive all" becomes its index;
// with jsonToStdout, --json's file becomes "-", the run's own standard
// output (whatever name led to this process's); a recording to replay is
// named from here, as the run starts in a folder of its own.
std::vector<std::string> RunArgs(const std::vector<std::string>& args, int index,
                                 bool jsonToStdout) {
  std::vector<std::string> runArgs;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--drive=all" || args[i] == "-dall") {
      runArgs.push_back("--drive=" + std::to_string(index));
    } else if ((args[i] == "--drive" || args[i] == "-d") && i + 1 < args.size() &&
               args[i + 1] == "all") {
      runArgs.push_back("--drive");
      runArgs.push_back(std::to_string(index));
      ++i;
    } else if (args[i].rfind("--simulate=replay:", 0) == 0) {
      runArgs.push_back(ArgumentForAnotherFolder(args[i]));
    } else if (jsonToStdout && args[i].rfind("--json=", 0) == 0) {
      runArgs.push_back("--json=-");
    } else if (jsonToStdout && args[i] == "--json" && i + 1 < args.size()) {
      runArgs.push_back("--json");
      runArgs.push_back("-");
      ++i;
    } else {
      runArgs.push_back(args[i]);
    }
  }
  return runArgs;
}

// A run's record from its standard output, as one line written at once.
void PassRecordLine(const DriveRun& run, const std::string& text, std::FILE* records,
                    std::FILE* err) {
  if (text.empty()) return;  // the run ended before it had a record
  const auto record = nlohmann::ordered_json::parse(text, nullptr, false);
  if (record.is_discarded()) {
    std::fprintf(err, "%sthe run's record was not whole; it is left out\n", run.prefix.c_str());
    return;
  }
  const std::string line =
      record.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
  std::fwrite(line.data(), 1, line.size(), records);
  std::fflush(records);
}

// To standard error in a forked child: write() and a description that
// needs no locale.
void SayFailure(const std::string& what, int error) {
  const char* why = strerrordesc_np(error);
  if (why == nullptr) why = "unknown error";
  const ssize_t a = write(STDERR_FILENO, what.data(), what.size());
  const ssize_t b = write(STDERR_FILENO, why, std::strlen(why));
  const ssize_t c = write(STDERR_FILENO, "\n", 1);
  (void)a;
  (void)b;
  (void)c;  // nobody left to tell
}

bool Start(DriveRun& run, const std::string& folder, const std::vector<std::string>& args,
           std::string* error) {
  int outPipe[2];
  int errPipe[2];
  if (pipe2(outPipe, O_CLOEXEC) != 0) {
    *error = std::strerror(errno);
    return false;
  }
  int recordPipe[2];
  if (pipe2(errPipe, O_CLOEXEC) != 0) {
    *error = std::strerror(errno);
    close(outPipe[0]);
    close(outPipe[1]);
    return false;
  }
  if (pipe2(recordPipe, O_CLOEXEC) != 0) {
    *error = std::strerror(errno);
    for (int fd : {outPipe[0], outPipe[1], errPipe[0], errPipe[1]}) close(fd);
    return false;
  }
  std::vector<std::string> argvText = {"velmo-cli"};
  argvText.insert(argvText.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& arg : argvText) argv.push_back(arg.data());
  argv.push_back(nullptr);

  // The environment names the descriptor the run hands its record to.
  std::vector<std::string> envText;
  for (char** e = environ; *e != nullptr; ++e) {
    if (std::strncmp(*e, kRecordFdVariable, std::strlen(kRecordFdVariable)) != 0)
      envText.push_back(*e);
  }
  envText.push_back(std::string(kRecordFdVariable) + "=" + std::to_string(kRecordFd));
  std::vector<char*> envp;
  for (std::string& entry : envText) envp.push_back(entry.data());
  envp.push_back(nullptr);

  // Composed before the fork: the child may only make async-signal-safe calls.
  const std::string cannotEnter = "velmo-cli: cannot enter the folder " + folder + ": ";
  const std::string cannotStart = "velmo-cli: cannot start the run: ";
  const pid_t parent = getpid();
  const pid_t pid = fork();
  if (pid < 0) {
    *error = std::strerror(errno);
    for (int fd : {outPipe[0], outPipe[1], errPipe[0], errPipe[1], recordPipe[0], recordPipe[1]})
      close(fd);
    return false;
  }
  if (pid == 0) {
    // Only async-signal-safe calls from here to exec. A run outliving its
    // parent would hold its drive with nobody to stop it: the parent's end
    // stops it as a SIGTERM does, leaving the diagnostic mode. A parent
    // already gone before that was set sends nothing, hence the check.
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() != parent) _exit(128 + SIGTERM);
    dup2(outPipe[1], STDOUT_FILENO);
    dup2(errPipe[1], STDERR_FILENO);
    dup2(recordPipe[1], kRecordFd);
    // What goes wrong before the run says so, with the drive's prefix the
    // parent puts on every line.
    if (chdir(folder.c_str()) != 0) {
      SayFailure(cannotEnter, errno);
      _exit(kExitCannotWrite);
    }
    execve("/proc/self/exe", argv.data(), envp.data());
    SayFailure(cannotStart, errno);
    _exit(127);
  }
  close(outPipe[1]);
  close(errPipe[1]);
  close(recordPipe[1]);
  run.pid = pid;
  run.outFd = outPipe[0];
  run.errFd = errPipe[0];
  run.recordFd = recordPipe[0];
  return true;
}

// The runs to be: one for each drive that accepts the diagnostic mode; the
// others are named on err.
std::vector<DriveRun> SupportedDrives(CDeviceManager& manager, std::FILE* err) {
  std::vector<DriveRun> runs;
  for (uint8_t i = 0; i < manager.GetDriveCount(); ++i) {
    manager.SelectDrive(i);
    const RecordDrive drive = RecordDriveOf(manager, i);
    const std::string path = manager.GetDrivePath(i);
    ScsiExchange enter;
    if (!SetDiagnosticMode(kDiagnosticEnter, &enter)) {
      const std::string why = DescribeVendorCommandFailure(enter.hostError, path);
      std::fprintf(err, "velmo-cli: drive %u (%s, %s) %s; not used\n", i,
                   TerminalText(drive.name).c_str(), TerminalText(path).c_str(),
                   why.empty() ? "refuses the diagnostic mode"
                               : ("cannot be used: " + TerminalText(why)).c_str());
      continue;
    }
    SetDiagnosticMode(kDiagnosticLeave);
    DriveRun run;
    run.index = i;
    // The runs' own lines come from this program and are safe already; the
    // product is the drive's INQUIRY text.
    run.prefix = "[" + std::to_string(i) + " " + TerminalText(drive.product) + "] ";
    run.folder = DriveFolderName(i, drive.product);
    run.device = path;
    run.slot = runs.size();
    runs.push_back(run);
  }
  return runs;
}

// Starts every run in its folder; a run that cannot start gets its code
// here. The worst of those codes.
int StartRuns(std::vector<DriveRun>& runs, const std::vector<std::string>& args, bool jsonLines,
              std::FILE* out, std::FILE* err) {
  int worst = kExitOk;
  for (DriveRun& run : runs) {
    std::string error;
    if (mkdir(run.folder.c_str(), 0777) != 0 && errno != EEXIST) {
      std::fprintf(err, "velmo-cli: cannot make the folder %s: %s\n", run.folder.c_str(),
                   std::strerror(errno));
      run.code = kExitCannotWrite;
    } else if ((run.before = FilesIn(run.folder)),
               !Start(run, run.folder, RunArgs(args, run.index, jsonLines), &error)) {
      std::fprintf(err, "velmo-cli: cannot start the run of drive %d: %s\n", run.index,
                   error.c_str());
      run.code = kExitCannotWrite;
    } else {
      std::fprintf(out, "%sin %s/\n", run.prefix.c_str(), run.folder.c_str());
    }
    if (run.code >= 0) worst = std::max(worst, run.code);
  }
  return worst;
}

// Where a run's lines go: standard output (its record when jsonLines),
// standard error.
struct PassTargets {
  bool jsonLines;
  std::FILE* out;
  std::FILE* err;
  std::FILE* records;
  CDriveBoard* board;  // on a terminal, else none
};

// Reads what one of a run's pipes has; closes it at its end.
void PassFrom(DriveRun& run, bool isErr, const PassTargets& to) {
  int& fd = isErr ? run.errFd : run.outFd;
  char chunk[4096];
  const ssize_t n = read(fd, chunk, sizeof chunk);
  if (n < 0 && errno == EINTR) return;
  std::string& pending = isErr ? run.errPending : run.outPending;
  // A run's standard output is its record: kept whole until it ends.
  const bool record = to.jsonLines && !isErr;
  if (n > 0) {
    pending.append(chunk, static_cast<size_t>(n));
    if (!record) PassLines(&pending, run, isErr ? to.err : to.out, to.board, isErr, false);
    return;
  }
  if (record) {
    PassRecordLine(run, pending, to.records, to.err);
    pending.clear();
  } else {
    PassLines(&pending, run, isErr ? to.err : to.out, to.board, isErr, true);
  }
  close(fd);
  fd = -1;
}

// Reads what a run's record descriptor has; closes it at its end. A run
// that ended without a verdict says so on its line of the board, which
// would otherwise keep its last sample as if it went on.
void KeepRecordText(DriveRun& run, CDriveBoard* board) {
  char chunk[4096];
  const ssize_t n = read(run.recordFd, chunk, sizeof chunk);
  if (n < 0 && errno == EINTR) return;
  if (n > 0) {
    run.recordText.append(chunk, static_cast<size_t>(n));
    return;
  }
  close(run.recordFd);
  run.recordFd = -1;
  ScanRecord record;
  std::string error;
  if (run.recordText.empty() || !ReadRecordJson(run.recordText, &record, &error)) return;
  run.record = std::move(record);
  if (board != nullptr && !HasVerdict(run.record->outcome))
    board->End(run.slot, std::string("ended: ") + RunOutcomeName(run.record->outcome));
}

// Passes on what the runs say until every one has closed its output.
void PassOutput(std::vector<DriveRun>& runs, const PassTargets& to) {
  for (;;) {
    std::vector<pollfd> fds;
    std::vector<std::pair<DriveRun*, bool>> owners;  // run, is its stderr
    for (DriveRun& run : runs) {
      if (run.outFd >= 0) {
        fds.push_back({run.outFd, POLLIN, 0});
        owners.push_back({&run, false});
      }
      if (run.errFd >= 0) {
        fds.push_back({run.errFd, POLLIN, 0});
        owners.push_back({&run, true});
      }
      if (run.recordFd >= 0) {
        fds.push_back({run.recordFd, POLLIN, 0});
        owners.push_back({&run, false});
      }
    }
    if (fds.empty()) return;
    if (poll(fds.data(), fds.size(), -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    for (size_t k = 0; k < fds.size(); ++k) {
      if (fds[k].revents == 0) continue;
      DriveRun& run = *owners[k].first;
      if (fds[k].fd == run.recordFd) {
        KeepRecordText(run, to.board);
      } else {
        PassFrom(run, owners[k].second, to);
      }
    }
  }
}

// Waits for every started run and tells its exit code; the worst of them
// and worst.
int AwaitRuns(std::vector<DriveRun>& runs, std::mutex& runLock, int worst, std::FILE* out) {
  for (DriveRun& run : runs) {
    if (run.pid <= 0) continue;
    int status = 0;
    while (waitpid(run.pid, &status, 0) < 0 && errno == EINTR) {
    }
    const int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    {
      std::lock_guard<std::mutex> hold(runLock);
      run.code = code;
    }
    worst = std::max(worst, code);
  }
  std::fflush(out);
  return worst;
}

// The files a run wrote into its folder (N-PRODUCT): new ones and changed
// ones.
std::vector<std::string> FilesWritten(const DriveRun& run) {
  std::vector<std::string> names;
  for (const auto& [name, time] : FilesIn(run.folder)) {
    const auto was = run.before.find(name);
    if (was != run.before.end() && was->second == time) continue;
    names.push_back(TerminalText(run.folder + "/" + name));
  }
  return names;
}

std::string Joined(const std::vector<std::string>& names) {
  std::string joined;
  for (const std::string& name : names) joined += (joined.empty() ? "" : " ") + name;
  return joined;
}

// One drive's row of the closing table.
std::vector<std::string> TableRow(const DriveRun& run, const std::vector<std::string>& files) {
  std::string disc = "-", mid = "-";
  RunRowFigures figures;
  if (run.record) {
    disc = TerminalText(run.record->disc.type);
    mid = TerminalText(run.record->disc.manufacturerId);
    figures = RunRowFiguresOf(*run.record);
  } else {
    // No record (watch hands none back, a run may end before its own):
    // the exit code says how it ended.
    figures.outcome = run.code == kExitOk               ? "ok"
                      : run.code == kExitNotRecommended ? "not recommended"
                      : run.code == kExitNoDrive        ? "no testable disc"
                      : run.code > 128                  ? "aborted"
                                                        : "failed";
  }
  return {std::to_string(run.index),
          TerminalText(run.device),
          disc,
          mid,
          figures.speed,
          figures.outcome,
          figures.maxTe,
          figures.maxFe,
          std::to_string(run.code),
          files.empty() ? "-" : Joined(files)};
}

// One row a drive, each column as wide as its widest entry (numbers to the
// right); then the worst code. On a terminal too narrow for the files
// written, they go under their row, one a line.
void PrintRunTable(const std::vector<DriveRun>& runs, int worst, std::FILE* out) {
  std::vector<std::vector<std::string>> rows = {{"DRIVE", "DEVICE", "DISC", "MID", "SPEED",
                                                 "OUTCOME", "MAX TE", "MAX FE", "EXIT",
                                                 "FILES WRITTEN"}};
  std::vector<std::vector<std::string>> files = {{}};
  for (const DriveRun& run : runs) {
    files.push_back(FilesWritten(run));
    rows.push_back(TableRow(run, files.back()));
  }
  std::vector<size_t> widths(rows.front().size(), 0);
  for (const auto& row : rows) {
    for (size_t c = 0; c < row.size(); ++c) widths[c] = std::max(widths[c], row[c].size());
  }
  size_t whole = 0;
  for (const size_t width : widths) whole += width + 2;
  const TerminalStyle style = TerminalStyleOf(out);
  const bool filesUnder = style.terminal && whole - 2 >= static_cast<size_t>(style.columns);
  for (size_t r = 0; r < rows.size(); ++r) {
    const auto& row = rows[r];
    std::string line;
    const size_t shown = filesUnder ? row.size() - 1 : row.size();
    for (size_t c = 0; c < shown; ++c) {
      const bool number = c == 6 || c == 7 || c == 8;
      const std::string pad(widths[c] - row[c].size(), ' ');
      if (c + 1 == shown) {
        line += number ? pad + row[c] : row[c];
      } else {
        line += (number ? pad + row[c] : row[c] + pad) + "  ";
      }
    }
    std::fprintf(out, "%s\n", line.c_str());
    if (!filesUnder) continue;
    for (const std::string& file : files[r]) std::fprintf(out, "  %s\n", file.c_str());
  }
  std::fprintf(out, "exit %d (the worst of the drives')\n", worst);
  std::fflush(out);
}

}  // namespace

void ForgoRecordHandBack() {
  const char* variable = std::getenv(kRecordFdVariable);
  if (variable == nullptr) return;
  // Once: the descriptor's number may be taken by a file opened later.
  const bool handed = std::to_string(kRecordFd) == variable;
  unsetenv(kRecordFdVariable);
  if (handed) close(kRecordFd);
}

void HandRecordToParent(const ScanRecord& record) {
  const char* variable = std::getenv(kRecordFdVariable);
  if (variable == nullptr || std::to_string(kRecordFd) != variable) return;
  unsetenv(kRecordFdVariable);
  const std::string text = WriteRecordJson(record);
  for (size_t done = 0; done < text.size();) {
    const ssize_t n = write(kRecordFd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;  // the parent is gone: nobody to show the table to
    done += static_cast<size_t>(n);
  }
  close(kRecordFd);
}

std::string DriveAllOutputError(const CliOptions& options) {
  const CliCommand* row = FindCliCommand(options.command);
  // recover goes through the drives in this one process.
  if (!options.driveAll || row == nullptr || (row->flags & kDriveAllItself) != 0) return "";
  const bool log = row != nullptr && (row->flags & kTakesLog) != 0;
  const std::pair<const char*, const std::string*> outputs[] = {
      {"--log", log ? &options.logFile : nullptr},
      {"--csv", &options.csvFile},
      {"--chart", &options.chartFile},
      {"--report", &options.reportFile},
      {"--trace", &options.traceFile}};
  for (const auto& [name, path] : outputs) {
    if (path != nullptr && !path->empty() && IsStandardOutput(*path)) {
      return std::string(name) + " " + *path +
             ": with --drive all only --json goes to standard output (one JSON line per drive)";
    }
  }
  return "";
}

std::string DriveFolderName(int index, const std::string& product) {
  return std::to_string(index) + "-" + SafeFileNamePart(product);
}

int RunOnEveryDrive(CDriveSession& session, const CliOptions& options,
                    const std::vector<std::string>& args, std::FILE* out, std::FILE* err,
                    std::FILE* records) {
  const bool jsonLines = !options.jsonFile.empty() && IsStandardOutput(options.jsonFile);
  if (!DriveLayerReady(session, err)) return kExitNoDrive;
  CDeviceManager& manager = session.Manager();
  std::vector<DriveRun> runs = SupportedDrives(manager, err);
  if (runs.empty()) {
    std::fprintf(err, "velmo-cli: no supported drive%s\n",
                 manager.GetDriveCount() == 0 ? " (No Device found!)" : "");
    return kExitNoDrive;
  }

  // SIGTERM, SIGHUP or a SIGINT sent to this process alone reaches every
  // run; each stops as a scan is stopped and leaves the diagnostic mode.
  std::mutex runLock;
  bool started = false;
  CInterruptWatch interrupt;
  const auto passOn = [&] {
    std::lock_guard<std::mutex> hold(runLock);
    if (!started) return;
    for (const DriveRun& run : runs) {
      if (run.pid > 0 && run.code < 0) kill(run.pid, interrupt.Signal());
    }
  };
  interrupt.OnInterrupt(passOn);
  interrupt.OnAgain(passOn);

  int worst = kExitOk;
  {
    std::lock_guard<std::mutex> hold(runLock);
    worst = StartRuns(runs, args, jsonLines, out, err);
    started = true;
    if (interrupt.Interrupted()) {
      for (const DriveRun& run : runs) {
        if (run.pid > 0) kill(run.pid, interrupt.Signal());
      }
    }
  }
  std::fflush(out);
  // On a terminal each drive has its line, rewritten in place; elsewhere
  // every line goes on with its prefix.
  std::optional<CDriveBoard> board;
  if (!jsonLines && BoardFits(out)) {
    std::vector<std::string> labels;
    for (const DriveRun& run : runs) labels.push_back(run.prefix);
    const bool errShares = isatty(fileno(err)) == 1;
    board.emplace(out, TerminalStyleOf(out).columns, labels, errShares);
  }
  PassOutput(runs, {jsonLines, out, err, records, board ? &*board : nullptr});
  worst = AwaitRuns(runs, runLock, worst, out);
  PrintRunTable(runs, worst, out);
  return worst;
}
