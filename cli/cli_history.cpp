#include "cli/cli_history.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <cstdlib>
#include <vector>

#include "cli/cli_options.h"
#include "cli/record_commands.h"
#include "history/history.h"
#include "history/lab_history.h"
#include "session/terminal_text.h"

extern char** environ;

namespace {

// How long `history push` waits for the server at a time.
constexpr int kPushTimeoutMs = 10000;

}  // namespace

std::string CliHistoryLocation(const CliOptions& options) {
  const std::string lab = ChosenLabUrl(options);
  return lab.empty() || options.local ? DefaultHistoryPath() : lab;
}

std::string CliHistoryName(const std::string& location) {
  return IsLabHistoryUrl(location) ? "the lab history (" + ShownUrl(location) + ")" : "the history";
}

namespace {

int ExitForHistoryFailure(HistoryFailure failure, int otherwise) {
  switch (failure) {
    case HistoryFailure::kNewer: return kExitBadRecord;
    case HistoryFailure::kUnreachable: return kExitBusy;
    case HistoryFailure::kRefused: return kExitRefused;
    default: return otherwise;
  }
}

}  // namespace

int CliHistoryFailureExit(const CHistory& history, int otherwise) {
  return ExitForHistoryFailure(history.Failure(), otherwise);
}

int OpenCliHistory(CHistory* history, const std::string& location, bool writing, int otherwise,
                   std::FILE* err) {
  std::string error, notice;
  const bool opened = writing ? history->Open(location, &error, &notice)
                              : history->OpenForReading(location, &error, &notice);
  if (!notice.empty()) std::fprintf(err, "velmo-cli: %s\n", TerminalText(notice).c_str());
  if (opened) return 0;
  const int code = CliHistoryFailureExit(*history, otherwise);
  std::fprintf(err, "velmo-cli: %s cannot be %s: %s\n", CliHistoryName(location).c_str(),
               code == kExitRefused ? "used"
               : writing            ? "changed"
                                    : "opened",
               TerminalText(error).c_str());
  return code;
}

void StartBackgroundPush(const CliOptions& options) {
  const std::string url = ChosenLabUrl(options);
  if (url.empty()) return;
  char self[4096];
  const ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
  if (length <= 0) return;
  self[length] = '\0';
  // Detached (a session of its own, no terminal, standard streams on
  // /dev/null): a Ctrl-C of the next command does not cut it, and nothing
  // it could say lands in this command's output.
  posix_spawn_file_actions_t files;
  posix_spawnattr_t attributes;
  posix_spawn_file_actions_init(&files);
  posix_spawnattr_init(&attributes);
  for (const int fd : {0, 1, 2})
    posix_spawn_file_actions_addopen(&files, fd, "/dev/null", fd == 0 ? O_RDONLY : O_WRONLY, 0);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
  // A shell starts the push in the background and ends at once: it is
  // waited for here in a millisecond or two (velmo-cli itself takes tens
  // to load), no zombie stays in a long watch, and the push belongs to init.
  std::vector<std::string> words{"sh",      "-c",   "\"$0\" \"$@\" &", self, "--history", url,
                                 "history", "push", "--quiet"};
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  pid_t child = 0;
  if (posix_spawn(&child, "/bin/sh", &files, &attributes, argv.data(), environ) == 0) {
    while (waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
    }
  }
  posix_spawn_file_actions_destroy(&files);
  posix_spawnattr_destroy(&attributes);
}

int RunHistoryPush(const CliOptions& options, std::FILE* out, std::FILE* err) {
  bool all = false, quiet = options.quiet;
  for (size_t i = 1; i < options.commandArgs.size(); ++i) {
    const std::string& arg = options.commandArgs[i];
    if (arg == "--all") {
      all = true;
    } else if (arg == "--quiet" || arg == "-q") {
      quiet = true;
    } else {
      return CliUsageError(err, "history", "unknown option '" + arg + "' for history push");
    }
  }
  const std::string url = ChosenLabUrl(options);
  if (url.empty()) {
    return CliUsageError(err, "history",
                         "history push needs a lab history (--history URL or VELMO_HISTORY)");
  }
  const LabPush push = PushPendingRuns(DefaultHistoryPath(), url, all, nullptr, kPushTimeoutMs);
  const std::string lab = "the lab history (" + ShownUrl(url) + ")";
  if (!push.error.empty()) {
    if (!quiet || push.failure != HistoryFailure::kUnreachable)
      std::fprintf(err, "velmo-cli: %s: %s; %" PRId64 " run%s pushed, %" PRId64 " wait%s\n",
                   lab.c_str(), TerminalText(push.error).c_str(), push.pushed,
                   push.pushed == 1 ? "" : "s", push.waiting, push.waiting == 1 ? "s" : "");
    return ExitForHistoryFailure(push.failure, kExitCannotWrite);
  }
  if (!quiet)
    std::fprintf(out, "pushed %" PRId64 " run%s to %s; %" PRId64 " wait%s\n", push.pushed,
                 push.pushed == 1 ? "" : "s", lab.c_str(), push.waiting,
                 push.waiting == 1 ? "s" : "");
  return kExitOk;
}
