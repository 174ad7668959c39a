#include "cli/standard_streams.h"

#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "cli/cli_options.h"

namespace {

// Why a stream whose error flag was set at an earlier write failed: stdio
// keeps no errno, so the descriptor is asked again. A device that refuses
// every write (/dev/full) refuses an empty one too; a pipe without reader
// polls as an error. 0 when neither tells.
int AskDescriptor(int fd) {
  if (fd < 0) return EBADF;
  if (write(fd, "", 0) < 0) return errno;
  pollfd probe{fd, POLLOUT, 0};
  if (poll(&probe, 1, 0) == 1 && (probe.revents & POLLERR) != 0) return EPIPE;
  return 0;
}

// 0 when every write to the stream went out; else errno, or -1 when the
// reason is not known. The descriptor is asked before the stream closes it.
int WriteFailure(std::FILE* stream, bool close) {
  const bool failedBefore = std::ferror(stream) != 0;
  int failure = 0;
  errno = 0;
  if (std::fflush(stream) != 0) {
    failure = errno != 0 ? errno : -1;
  } else if (failedBefore) {
    failure = AskDescriptor(fileno(stream));
    if (failure == 0) failure = -1;
  }
  errno = 0;
  if (close && std::fclose(stream) != 0 && failure == 0) failure = errno != 0 ? errno : -1;
  return failure;
}

bool WentThrough(int code) { return code == kExitOk || code == kExitNotRecommended; }

}  // namespace

int FinishStandardStreams(int code, std::FILE* out, std::FILE* err) {
  // A closed pipe answers EPIPE here: the exit code is still ours to give.
  struct sigaction ignore {
  }, before{};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  sigaction(SIGPIPE, &ignore, &before);
  const int outFailure = WriteFailure(out, true);
  if (outFailure != 0 && outFailure != EPIPE) {
    std::fprintf(err, "velmo-cli: standard output: %s\n",
                 outFailure > 0 ? std::strerror(outFailure) : "write error");
  }
  const int errFailure = WriteFailure(err, false);
  sigaction(SIGPIPE, &before, nullptr);
  if (!WentThrough(code)) return code;
  for (const int failure : {outFailure, errFailure}) {
    if (failure == EPIPE) return 128 + SIGPIPE;
    if (failure != 0) return kExitStdoutFailed;
  }
  return code;
}
