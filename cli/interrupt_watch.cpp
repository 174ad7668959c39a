#include "cli/interrupt_watch.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <string>

#include "session/output_file.h"

namespace {

constexpr char kQuitByte = 0;

std::atomic<int> s_wakeFd{-1};

void OnSignal(int signal) {
  const int saved = errno;
  // An output waiting for a reader stops waiting, whichever thread it is on.
  StopWaitingForOutputs();
  const int fd = s_wakeFd.load();
  if (fd >= 0) {
    const char byte = static_cast<char>(signal);
    const ssize_t written = write(fd, &byte, 1);
    (void)written;  // a full pipe already holds a wake-up
  }
  errno = saved;
}

}  // namespace

CInterruptWatch::CInterruptWatch() {
  if (pipe2(m_pipe, O_CLOEXEC) != 0) return;  // no watch: the signals keep their default
  m_outerWakeFd = s_wakeFd.exchange(m_pipe[1]);
  m_watcher = std::thread([this] { Watch(); });
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  // No SA_RESTART: a blocking write to a closed pipe or a stuck terminal
  // returns, and the run sees its stop.
  action.sa_flags = 0;
  for (size_t i = 0; i < std::size(kSignals); ++i) sigaction(kSignals[i], &action, &m_old[i]);
}

CInterruptWatch::~CInterruptWatch() {
  if (m_pipe[1] < 0) return;
  for (size_t i = 0; i < std::size(kSignals); ++i) sigaction(kSignals[i], &m_old[i], nullptr);
  s_wakeFd = m_outerWakeFd;
  if (m_outerWakeFd < 0) ResumeWaitingForOutputs();
  while (write(m_pipe[1], &kQuitByte, 1) < 0 && errno == EINTR) {
  }
  m_watcher.join();
  close(m_pipe[0]);
  close(m_pipe[1]);
}

std::string CInterruptWatch::StopText() const {
  const int signal = m_signal.load();
  if (signal == 0 || signal == SIGINT) return "User abort!";
  return std::string("stopped by SIG") + sigabbrev_np(signal);
}

bool CInterruptWatch::StoppedOutput(int error) const {
  if (error != EINTR || m_pipe[1] < 0) return Interrupted();
  // The byte is in the pipe already; the watcher takes it within moments.
  for (int waited = 0; !Interrupted() && waited < 2000; ++waited) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return Interrupted();
}

void CInterruptWatch::OnInterrupt(std::function<void()> action) {
  std::lock_guard<std::mutex> hold(m_actionLock);
  m_action = std::move(action);
  if (Interrupted() && m_action) m_action();
}

void CInterruptWatch::OnAgain(std::function<void()> action) {
  std::lock_guard<std::mutex> hold(m_actionLock);
  m_again = std::move(action);
}

void CInterruptWatch::Watch() {
  for (;;) {
    char byte = 0;
    const ssize_t n = read(m_pipe[0], &byte, 1);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0 || byte == kQuitByte) return;
    std::lock_guard<std::mutex> hold(m_actionLock);
    int none = 0;
    if (m_signal.compare_exchange_strong(none, static_cast<unsigned char>(byte))) {
      if (m_action) m_action();
    } else if (m_again) {
      m_again();
    }
  }
}
