#include "cli/claimed_outputs.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <functional>
#include <utility>
#include <vector>

#include "cli/cli_options.h"
#include "cli/run_chart.h"
#include "records/run_record.h"
#include "session/interrupt_watch.h"
#include "session/terminal_text.h"

namespace {

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

int CClaimedOutputs::Claim(const CliOptions& options, bool withLog) {
  std::string error;
  OutputTarget logTarget;
  if (withLog && !ResolveOutput(options.logFile, &logTarget, &error)) {
    std::fprintf(m_err, "velmo-cli: Can't support to save log file. (%s)\n",
                 TerminalText(error).c_str());
    return kExitCannotWrite;
  }
  for (auto [path, file] :
       {std::pair{&options.csvFile, &m_csv}, std::pair{&options.jsonFile, &m_json},
        std::pair{&options.chartFile, &m_chart}}) {
    if (const int code = ClaimFile(*path, *file); code != kExitOk) return code;
  }
  if (withLog && logTarget.kind == OutputKind::kInPlace) {
    m_logFd = OpenOutputStream(options.logFile, &error);
    if (m_logFd < 0 && m_interrupt.StoppedOutput(errno)) {
      std::fprintf(m_err, "velmo-cli: %s: %s was waiting for a reader; the drive was not used\n",
                   m_interrupt.StopText().c_str(), TerminalText(options.logFile).c_str());
      return m_interrupt.ExitCode();
    }
    if (m_logFd < 0) {
      std::fprintf(m_err, "velmo-cli: Can't support to save log file. (%s)\n",
                   TerminalText(error).c_str());
      return kExitCannotWrite;
    }
  } else if (withLog) {
    const CRunLock::Result locked = m_logLock.TakeLog(options.logFile);
    if (locked == CRunLock::Result::kCannotCreate) {
      std::fprintf(m_err, "velmo-cli: Can't support to save log file. (%s)\n",
                   TerminalText(m_logLock.Reason()).c_str());
      return kExitCannotWrite;
    }
    if (CRunLock::Refuses(locked)) {
      std::fprintf(m_err, "velmo-cli: %s\n",
                   TerminalText(m_logLock.Refusal(options.logFile)).c_str());
      return kExitBusy;
    }
  }
  return ClaimReport(options.reportFile);
}

CClaimedOutputs::~CClaimedOutputs() {
  if (m_logFd >= 0) ::close(m_logFd);
}

std::function<int()> CClaimedOutputs::LogOpener(const std::string& path) const {
  if (m_logFd < 0) return OutputStreamOpener(path);
  const int fd = m_logFd;
  return [fd] { return fcntl(fd, F_DUPFD_CLOEXEC, 3); };
}

int CClaimedOutputs::ClaimFile(const std::string& path, COutputFile& file) {
  std::string error;
  if (path.empty() || file.Open(path, &error)) return kExitOk;
  // A FIFO without a reader waits here until a signal ends the wait.
  if (m_interrupt.StoppedOutput(file.FailedError())) {
    std::fprintf(m_err, "velmo-cli: %s: %s was waiting for a reader; the drive was not used\n",
                 m_interrupt.StopText().c_str(), TerminalText(path).c_str());
    return m_interrupt.ExitCode();
  }
  std::fprintf(m_err, "velmo-cli: cannot write %s\n", TerminalText(error).c_str());
  return kExitCannotWrite;
}

int CClaimedOutputs::ClaimReport(const std::string& value) {
  if (value.empty()) return kExitOk;
  std::string error;
  m_report = ReportOutputFor(value, &error);
  if (m_report && m_report->Open(&error)) return kExitOk;
  if (m_interrupt.StoppedOutput(errno)) {
    std::fprintf(m_err, "velmo-cli: %s: %s was waiting for a reader; the drive was not used\n",
                 m_interrupt.StopText().c_str(), TerminalText(value).c_str());
    return m_interrupt.ExitCode();
  }
  std::fprintf(m_err, "velmo-cli: cannot write %s\n", TerminalText(error).c_str());
  return kExitCannotWrite;
}

std::string CClaimedOutputs::OpenPaths() const {
  std::string paths;
  for (const COutputFile* file : {&m_json, &m_csv, &m_chart}) {
    if (file->IsOpen()) paths += (paths.empty() ? "" : ", ") + file->Path();
  }
  return paths;
}

int CClaimedOutputs::FailureCode(int error) const {
  return m_interrupt.StoppedOutput(error) ? m_interrupt.ExitCode() : kExitCannotWrite;
}

int CClaimedOutputs::Commit(const ScanRecord& record, const CRunChart& chart, std::FILE* out,
                            int code) {
  std::vector<PendingOutput> outputs;
  if (m_json.IsOpen()) {
    outputs.push_back({&m_json, [&record](COutputFile& f, std::string* e) {
                         return f.Write(WriteRecordJson(record), e);
                       }});
  }
  if (m_csv.IsOpen()) {
    outputs.push_back({&m_csv, [&record](COutputFile& f, std::string* e) {
                         return f.Write(RecordSamplesCsv(record), e);
                       }});
  }
  const bool withChart = m_chart.IsOpen();
  if (withChart) {
    outputs.push_back(
        {&m_chart, [&chart](COutputFile& f, std::string* e) { return chart.WriteInto(f, e); }});
  }
  const std::string chartPath = m_chart.Path();
  int writeError = 0;
  if (!WriteOutputs(std::move(outputs), m_err, &writeError)) {
    // A reader that went away ends the run as its SIGPIPE would.
    code = writeError == EPIPE ? 128 + SIGPIPE : FailureCode(writeError);
  } else if (withChart) {
    std::fprintf(out, "%-22s%s\n", "Chart:", TerminalText(chartPath).c_str());
  }
  if (m_report) {
    std::string written;
    std::string error;
    if (m_report->Write({record}, PaperSizeFromEnvironment(), &written, &error)) {
      std::fprintf(out, "%-22s%s\n", "Report:", TerminalText(written).c_str());
    } else {
      const int why = errno;
      std::fprintf(m_err, "velmo-cli: cannot write %s\n", TerminalText(error).c_str());
      code = FailureCode(why);
    }
  }
  return code;
}

int CClaimedOutputs::CommitRecordOnly(const ScanRecord& record, int code) {
  std::string error;
  if (!m_json.IsOpen() || m_json.Commit(WriteRecordJson(record), &error)) return code;
  std::fprintf(m_err, "velmo-cli: cannot write %s\n", TerminalText(error).c_str());
  return FailureCode(m_json.FailedError());
}
