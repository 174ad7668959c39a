// SIGTERM, SIGINT and SIGHUP to the window in the middle of a scan, sent to
// the real velmo on the simulator under a real display: it closes as the
// close box closes it (the pending command returns, the drive leaves its
// diagnostic mode, the run is kept as stopped, the log's lock goes) and
// exits 128 + the signal, rather than dying at once.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "app/run_choices.h"
#include "history/history.h"
#include "session/run_lock.h"
#include "tests/support/scratch_folder.h"
#include "tests/support/test_paths.h"

// Last: Xlib defines Status and more as macros.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

namespace {

namespace fs = std::filesystem;

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

size_t SampleLines(const std::string& log) {
  size_t lines = 0;
  for (size_t at = 0; (at = log.find("\r\n", at)) != std::string::npos; at += 2) ++lines;
  return lines > 0 ? lines - 1 : 0;  // the heading
}

std::string LastCdb(const std::string& trace) {
  static const std::regex cdb("cdb=\\[([0-9A-F ]+)\\]");
  std::string last;
  for (auto it = std::sregex_iterator(trace.begin(), trace.end(), cdb);
       it != std::sregex_iterator(); ++it)
    last = (*it)[1];
  return last;
}

// False (and velmo killed) when it has not ended within 20 s.
bool WaitEnd(pid_t velmo, int* status) {
  const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (std::chrono::steady_clock::now() < limit) {
    if (waitpid(velmo, status, WNOHANG) == velmo) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  kill(velmo, SIGKILL);
  waitpid(velmo, status, 0);
  return false;
}

std::vector<HistoryEntry> KeptRuns() {
  CHistory history;
  std::string error, notice;
  std::vector<HistoryEntry> entries;
  if (!history.Open(DefaultHistoryPath(), &error, &notice)) return entries;
  history.List(HistoryFilter{}, &entries, &error);
  return entries;
}

class SignalCloseTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(m_dir.empty());
    // The window's own settings and history, in the scratch folder.
    setenv("XDG_CONFIG_HOME", (m_dir + "/config").c_str(), 1);
    setenv("XDG_DATA_HOME", (m_dir + "/data").c_str(), 1);
    RunChoices choices;
    choices.autostart = true;  // the run starts with no click
    std::string error;
    ASSERT_TRUE(SaveRunChoices(RunChoicesPath(), choices, &error)) << error;
  }

  // velmo in folder, started; -1 when it could not be.
  pid_t StartVelmo(const std::string& folder, const char* latency = "--sim-latency=100") {
    const pid_t pid = fork();
    if (pid == 0) {
      if (chdir(folder.c_str()) != 0) _exit(120);
      execl(velmo_test::AppBinary(), "velmo", "--simulate", latency, "--trace=trace.txt",
            static_cast<char*>(nullptr));
      _exit(127);
    }
    return pid;
  }

  ScratchFolder m_scratch{"velmo-signal"};
  const std::string m_dir = m_scratch.Path();
};

TEST_F(SignalCloseTest, ASignalMidScanClosesTheWindowAsTheCloseBoxDoes) {
  int runs = 0;
  for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
    SCOPED_TRACE(sigabbrev_np(signal));
    const std::string folder = m_dir + "/" + sigabbrev_np(signal);
    fs::create_directory(folder);
    const pid_t velmo = StartVelmo(folder);
    ASSERT_GT(velmo, 0);
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (SampleLines(ReadAll(folder + "/TEFE.txt")) < 3 &&
           std::chrono::steady_clock::now() < until) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    const size_t before = SampleLines(ReadAll(folder + "/TEFE.txt"));
    kill(velmo, signal);
    int status = 0;
    ASSERT_TRUE(WaitEnd(velmo, &status)) << "velmo did not end after the signal";
    ASSERT_GE(before, 3u) << "the scan never got going";
    ++runs;
    // Ended by itself with the code, not killed by the signal.
    ASSERT_TRUE(WIFEXITED(status)) << "killed by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 128 + signal);
    EXPECT_EQ(LastCdb(ReadAll(folder + "/trace.txt")).substr(0, 5), "FD F2") << "leave sent last";
    const std::string log = ReadAll(folder + "/TEFE.txt");
    EXPECT_LT(SampleLines(log), 58u) << "stopped before its end";
    EXPECT_EQ(log.substr(log.size() - 2), "\r\n") << "whole lines";

    CRunLock next;
    EXPECT_EQ(next.TakeLog(folder + "/TEFE.txt"), CRunLock::Result::kTaken) << "the lock went";
    next.Release();
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
      names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"TEFE.txt", "trace.txt"}));
  }

  // Each run kept, as stopped.
  const std::vector<HistoryEntry> entries = KeptRuns();
  ASSERT_EQ(static_cast<int>(entries.size()), runs);
  for (const HistoryEntry& entry : entries) EXPECT_EQ(entry.outcome, RunOutcome::kAborted);
}

// Presses START in velmo's window as a person at the keyboard would, through
// the X server: the window gets the input focus (none of its controls has
// it yet), Tab goes to the drive list, the speed list and START, and space
// presses it.
bool PressStart(pid_t velmo) {
  Display* display = XOpenDisplay(nullptr);
  if (display == nullptr) return false;
  const Atom pidAtom = XInternAtom(display, "_NET_WM_PID", False);
  Window found = 0;
  Window root = DefaultRootWindow(display), parent = 0, *children = nullptr;
  unsigned count = 0;
  if (XQueryTree(display, root, &root, &parent, &children, &count) != 0) {
    for (unsigned i = 0; i < count && found == 0; ++i) {
      Atom type = 0;
      int format = 0;
      unsigned long items = 0, after = 0;
      unsigned char* data = nullptr;
      XWindowAttributes attributes{};
      if (XGetWindowProperty(display, children[i], pidAtom, 0, 1, False, XA_CARDINAL, &type,
                             &format, &items, &after, &data) == Success &&
          data != nullptr && items == 1 &&
          *reinterpret_cast<unsigned long*>(data) == unsigned(velmo) &&
          XGetWindowAttributes(display, children[i], &attributes) != 0 &&
          attributes.map_state == IsViewable) {
        found = children[i];
      }
      if (data != nullptr) XFree(data);
    }
    if (children != nullptr) XFree(children);
  }
  if (found != 0) {
    XSetInputFocus(display, found, RevertToParent, CurrentTime);
    XSync(display, False);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const auto press = [&](KeySym key) {
      const KeyCode code = XKeysymToKeycode(display, key);
      XTestFakeKeyEvent(display, code, True, CurrentTime);
      XTestFakeKeyEvent(display, code, False, CurrentTime);
      XSync(display, False);
      std::this_thread::sleep_for(std::chrono::milliseconds(150));
    };
    press(XK_Tab);
    press(XK_Tab);
    press(XK_Tab);
    press(XK_space);
  }
  XCloseDisplay(display);
  return found != 0;
}

// The verdict box of a run a person started is up when the signal comes:
// it is answered, so the close does not wait for a person, and the window
// goes only once the box has (the box is the window's child).
TEST_F(SignalCloseTest, ASignalWithTheVerdictBoxUpAnswersItAndCloses) {
  const std::string folder = m_dir + "/box";
  fs::create_directory(folder);
  std::string error;
  ASSERT_TRUE(SaveRunChoices(RunChoicesPath(), RunChoices{}, &error)) << error;
  const pid_t velmo = StartVelmo(folder, "--sim-latency=0");
  ASSERT_GT(velmo, 0);
  // The disc identified (its speeds asked for), then START.
  const auto ready = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (ReadAll(folder + "/trace.txt").find("cdb=[AC ") == std::string::npos &&
         std::chrono::steady_clock::now() < ready) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(700));
  ASSERT_TRUE(PressStart(velmo)) << "no velmo window on the display";
  // The run is kept just before its verdict box shows.
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (KeptRuns().empty() && std::chrono::steady_clock::now() < until) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  kill(velmo, SIGTERM);
  int status = 0;
  ASSERT_TRUE(WaitEnd(velmo, &status)) << "velmo waited for the box to be answered";
  ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
  EXPECT_EQ(WEXITSTATUS(status), 128 + SIGTERM);
  EXPECT_EQ(LastCdb(ReadAll(folder + "/trace.txt")).substr(0, 5), "FD F2");
  EXPECT_EQ(SampleLines(ReadAll(folder + "/TEFE.txt")), 58u);
  const std::vector<HistoryEntry> entries = KeptRuns();
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].outcome, RunOutcome::kOk) << "a run that ended is kept as it ended";
}

}  // namespace
