// Starting the helper programs and the browser, waiting for them and reaping
// them. A child is always started from its file with an argument vector,
// never through a shell, so nothing in an argument is ever interpreted.
//
// Reaping: a child we stop waiting for is handed to ReapWhenDone, a detached
// thread that waits for it, so no child is left as a zombie. This assumes
// nothing else in the process reaps with waitpid(-1).
//
// Threads: any thread.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

// The result code (program starter / shell, 32 or less) for the errno of a
// start that failed.
int StartErrorFromErrno(int error);

// The file execvp would run for name: name itself when it holds a slash,
// else the first executable regular file of that name in the folders of
// searchPath (an empty folder is the current one). Empty, with *error set to
// kOpenFileNotFound, or kOpenAccessDenied when the only files found may not
// be executed.
std::string FindProgram(const std::string& name, const std::string& searchPath, int* error);

// Starts program with args (args[0] is the name it runs under): standard
// input from /dev/null, standard output to outFd (-1 keeps ours), standard
// error to /dev/null when quiet, none of our other descriptors (the drives'
// among them), a clear signal mask with default actions, and a session of
// its own so that a terminal's Ctrl-C on us does not reach it. Returns its
// pid, or -1 with *error set to the start's result code.
pid_t StartChild(const std::string& program, const std::vector<std::string>& args, int outFd,
                 bool quiet, int* error);

// Waits at most limit for child to end and returns its exit status (128 plus
// the signal number when a signal ended it). Empty when it is still running;
// it has then been handed to ReapWhenDone.
std::optional<int> WaitForExit(pid_t child, std::chrono::milliseconds limit);

// Waits for child on a background thread, so it never lingers as a zombie.
void ReapWhenDone(pid_t child);

struct CapturedRun {
  bool started = false;
  int startError = 0;     // the start's result code when not started
  bool finished = false;  // false: killed after the time limit
  int exitStatus = -1;
  std::string output;  // standard output, at most maxOutput bytes of it
};

// Runs program to its end with its standard output captured and its
// standard error discarded. A child still running after limit is killed
// together with its session's process group.
CapturedRun RunCaptured(const std::string& program, const std::vector<std::string>& args,
                        std::chrono::milliseconds limit, std::size_t maxOutput);
