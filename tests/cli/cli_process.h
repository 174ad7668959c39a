// The velmo-cli binary run as a user runs it: its own process, in a folder
// of the test's, with standard output and error captured in files beside
// that folder (or standard output on a descriptor the test gives), removed
// when the Child goes.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/test_paths.h"

extern char** environ;

inline std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

struct SpawnOptions {
  std::string cwd;
  bool closeStdout = false;
  bool closeStderr = false;
  int stdoutFd = -1;             // else a capture file
  int stderrFd = -1;             // else a capture file
  int stdinFd = -1;              // else the test's own
  long fileSizeLimit = -1;       // RLIMIT_FSIZE for the child
  bool ignoreSigpipe = false;    // as some shells and services start their children
  std::vector<std::string> env;  // NAME=VALUE added to the test's environment
};

struct Finished {
  bool exited = false;
  int code = -1;
  int signal = 0;
  std::string out;
  std::string err;
  // The status a shell reports: the exit code, or 128 + the signal.
  int ShellStatus() const { return exited ? code : 128 + signal; }
};

class Child {
 public:
  Child(const std::vector<std::string>& args, const SpawnOptions& options)
      : m_outPath(options.cwd + "/../" + std::filesystem::path(options.cwd).filename().string() +
                  ".out"),
        m_errPath(options.cwd + "/../" + std::filesystem::path(options.cwd).filename().string() +
                  ".err") {
    std::vector<std::string> all = {velmo_test::CliBinary()};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<std::string> added = options.env;
    std::vector<char*> envp;
    // An added NAME=VALUE replaces the test's own NAME.
    for (char** e = environ; *e != nullptr; ++e) {
      const std::string entry = *e;
      const std::string name = entry.substr(0, entry.find('=') + 1);
      bool replaced = false;
      for (const std::string& a : added) replaced = replaced || a.rfind(name, 0) == 0;
      if (!replaced) envp.push_back(*e);
    }
    for (std::string& e : added) envp.push_back(e.data());
    envp.push_back(nullptr);
    const int out = open(m_outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    const int err = open(m_errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    m_pid = fork();
    if (m_pid == 0) {
      if (chdir(options.cwd.c_str()) != 0) _exit(120);
      dup2(options.stdoutFd >= 0 ? options.stdoutFd : out, 1);
      dup2(options.stderrFd >= 0 ? options.stderrFd : err, 2);
      if (options.stdinFd >= 0) dup2(options.stdinFd, 0);
      if (options.closeStdout) close(1);
      if (options.closeStderr) close(2);
      if (options.fileSizeLimit >= 0) {
        signal(SIGXFSZ, SIG_IGN);  // kept through exec: a write past the limit fails instead
        rlimit limit{};
        getrlimit(RLIMIT_FSIZE, &limit);
        limit.rlim_cur = static_cast<rlim_t>(options.fileSizeLimit);
        setrlimit(RLIMIT_FSIZE, &limit);
      }
      signal(SIGPIPE, options.ignoreSigpipe ? SIG_IGN : SIG_DFL);
      execve(argv[0], argv.data(), envp.data());
      _exit(127);
    }
    close(out);
    close(err);
  }
  ~Child() {
    std::remove(m_outPath.c_str());
    std::remove(m_errPath.c_str());
  }
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  pid_t Pid() const { return m_pid; }

  Finished Wait(std::chrono::seconds limit = std::chrono::seconds(60)) {
    Finished result;
    int status = 0;
    const auto until = std::chrono::steady_clock::now() + limit;
    while (waitpid(m_pid, &status, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() > until) {
        kill(m_pid, SIGKILL);
        waitpid(m_pid, &status, 0);
        ADD_FAILURE() << "velmo-cli did not end in time";
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    result.exited = WIFEXITED(status);
    result.code = result.exited ? WEXITSTATUS(status) : -1;
    result.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    result.out = ReadAll(m_outPath);
    result.err = ReadAll(m_errPath);
    return result;
  }

 private:
  std::string m_outPath;
  std::string m_errPath;
  pid_t m_pid = -1;
};
