#include "links/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <system_error>
#include <thread>

#include "links/link_platform.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

int DecodeStatus(int status) {
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return -1;
}

// Waits at most until deadline; leaves a running child alone.
std::optional<int> WaitUntil(pid_t child, Clock::time_point deadline) {
  for (;;) {
    int status = 0;
    const pid_t done = ::waitpid(child, &status, WNOHANG);
    if (done == child) return DecodeStatus(status);
    // ECHILD: SIGCHLD is ignored and the kernel reaped it; its status is
    // gone, so take it that the child did its job.
    if (done < 0 && errno == ECHILD) return 0;
    if (Clock::now() >= deadline) return std::nullopt;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

void WaitBlocking(pid_t child) {
  int status = 0;
  while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
}

}  // namespace

int StartErrorFromErrno(int error) {
  switch (error) {
    case ENOENT: return kOpenFileNotFound;
    case ENOTDIR:
    case ELOOP:
    case ENAMETOOLONG: return kOpenPathNotFound;
    case EACCES:
    case EPERM: return kOpenAccessDenied;
    case ENOMEM:
    case EAGAIN:
    case EMFILE:
    case ENFILE: return kOpenOutOfResources;
    case E2BIG: return kOpenOutOfMemory;
    case ETXTBSY: return kOpenSharingViolation;
    default: return kOpenBadFormat;  // ENOEXEC, EISDIR, EIO, ...: the file cannot be run
  }
}

std::string FindProgram(const std::string& name, const std::string& searchPath, int* error) {
  if (name.empty()) {
    *error = kOpenFileNotFound;
    return {};
  }
  if (name.find('/') != std::string::npos) return name;
  bool deniedOnly = false;
  std::size_t start = 0;
  for (;;) {
    const std::size_t colon = searchPath.find(':', start);
    const std::size_t length = (colon == std::string::npos ? searchPath.size() : colon) - start;
    const std::string candidate =
        (length == 0 ? std::string(".") : searchPath.substr(start, length)) + "/" + name;
    struct stat st {};
    if (::stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
      if (::access(candidate.c_str(), X_OK) == 0) return candidate;
      deniedOnly = true;
    }
    if (colon == std::string::npos) break;
    start = colon + 1;
  }
  *error = deniedOnly ? kOpenAccessDenied : kOpenFileNotFound;
  return {};
}

pid_t StartChild(const std::string& program, const std::vector<std::string>& args, int outFd,
                 bool quiet, int* error) {
  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attributes;
  posix_spawn_file_actions_init(&actions);
  posix_spawnattr_init(&attributes);

  // The dup2 goes first: outFd may itself be 0 or 2 when we run without them.
  if (outFd >= 0) posix_spawn_file_actions_adddup2(&actions, outFd, STDOUT_FILENO);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  if (quiet) posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);

  sigset_t none;
  sigemptyset(&none);
  sigset_t all;
  sigfillset(&all);
  sigdelset(&all, SIGKILL);
  sigdelset(&all, SIGSTOP);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setsigdefault(&attributes, &all);
  posix_spawnattr_setflags(&attributes,
                           POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSID);

  std::vector<char*> argv;
  argv.reserve(args.size() + 1);
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);

  pid_t child = -1;
  const int failed =
      ::posix_spawn(&child, program.c_str(), &actions, &attributes, argv.data(), environ);
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  if (failed != 0) {
    *error = StartErrorFromErrno(failed);
    return -1;
  }
  return child;
}

std::optional<int> WaitForExit(pid_t child, std::chrono::milliseconds limit) {
  std::optional<int> status = WaitUntil(child, Clock::now() + limit);
  if (!status) ReapWhenDone(child);
  return status;
}

void ReapWhenDone(pid_t child) {
  try {
    std::thread([child] { WaitBlocking(child); }).detach();
  } catch (const std::system_error&) {
    // No thread to be had: the child stays a zombie until we exit.
  }
}

CapturedRun RunCaptured(const std::string& program, const std::vector<std::string>& args,
                        std::chrono::milliseconds limit, std::size_t maxOutput) {
  CapturedRun run;
  int pipeFds[2];
  if (::pipe2(pipeFds, O_CLOEXEC) != 0) {
    run.startError = StartErrorFromErrno(errno);
    return run;
  }
  const pid_t child = StartChild(program, args, pipeFds[1], true, &run.startError);
  ::close(pipeFds[1]);
  if (child < 0) {
    ::close(pipeFds[0]);
    return run;
  }
  run.started = true;
  const int out = pipeFds[0];
  ::fcntl(out, F_SETFL, ::fcntl(out, F_GETFL) | O_NONBLOCK);

  const Clock::time_point deadline = Clock::now() + limit;
  std::optional<int> status;
  // Reads what is there; false at end of file or on a read error.
  auto drain = [&] {
    char chunk[512];
    for (;;) {
      const ssize_t got = ::read(out, chunk, sizeof chunk);
      if (got > 0) {
        const std::size_t room = maxOutput - std::min(maxOutput, run.output.size());
        run.output.append(chunk, std::min(room, static_cast<std::size_t>(got)));
        continue;
      }
      if (got < 0 && errno == EINTR) continue;
      return got < 0 && errno == EAGAIN;  // more may come; anything else ends it
    }
  };
  for (;;) {
    if (!drain()) break;
    // A grandchild may hold the pipe open after the child has ended.
    status = WaitUntil(child, Clock::now());
    if (status) {
      drain();
      break;
    }
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) break;
    pollfd wait{out, POLLIN, 0};
    ::poll(&wait, 1, static_cast<int>(std::min<long long>(left.count(), 50)));
  }
  ::close(out);

  if (!status) status = WaitUntil(child, deadline);
  if (!status) {
    ::kill(-child, SIGKILL);  // the child leads its own session's group
    WaitBlocking(child);
    return run;
  }
  run.finished = true;
  run.exitStatus = *status;
  return run;
}
