#include "cli/interrupt_watch.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace {

constexpr char kInterruptByte = 'i';
constexpr char kQuitByte = 'q';

std::atomic<int> s_wakeFd{-1};

void OnSignal(int) {
  const int saved = errno;
  const int fd = s_wakeFd.load();
  if (fd >= 0) {
    const ssize_t written = write(fd, &kInterruptByte, 1);
    (void)written;  // a full pipe already holds a wake-up
  }
  errno = saved;
}

}  // namespace

CInterruptWatch::CInterruptWatch() {
  if (pipe2(m_pipe, O_CLOEXEC) != 0) return;  // no watch: the signals keep their default
  s_wakeFd = m_pipe[1];
  m_watcher = std::thread([this] { Watch(); });
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESETHAND;
  sigaction(SIGINT, &action, &m_oldInt);
  sigaction(SIGTERM, &action, &m_oldTerm);
}

CInterruptWatch::~CInterruptWatch() {
  if (m_pipe[1] < 0) return;
  sigaction(SIGINT, &m_oldInt, nullptr);
  sigaction(SIGTERM, &m_oldTerm, nullptr);
  s_wakeFd = -1;
  while (write(m_pipe[1], &kQuitByte, 1) < 0 && errno == EINTR) {
  }
  m_watcher.join();
  close(m_pipe[0]);
  close(m_pipe[1]);
}

void CInterruptWatch::OnInterrupt(std::function<void()> action) {
  std::lock_guard<std::mutex> hold(m_actionLock);
  m_action = std::move(action);
  if (m_interrupted && m_action) m_action();
}

void CInterruptWatch::Watch() {
  for (;;) {
    char byte = 0;
    const ssize_t n = read(m_pipe[0], &byte, 1);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0 || byte == kQuitByte) return;
    std::lock_guard<std::mutex> hold(m_actionLock);
    m_interrupted = true;
    if (m_action) m_action();
  }
}
