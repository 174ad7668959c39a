// The window and other Velmo processes, and its end: a run refused while
// another holds the log, the status line never showing its placeholder, and
// closing during a pending sample (the window goes at once, the process
// waits for the drive and takes it out of the diagnostic mode).
#include <gtest/gtest.h>
#include <unistd.h>
#include <wx/bitmap.h>
#include <wx/dcclient.h>
#include <wx/dcmemory.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/scan_dlg.h"
#include "app/sunken_text.h"
#include "res/resource_ids.h"
#include "session/run_lock.h"
#include "simulator/sim_drive.h"
#include "tests/app/window_test.h"
#include "tests/app/x11_map_state.h"

namespace {

class RunGuardTest : public WindowTest {
 protected:
  void SetUp() override { m_seen.keepDriveNotice = true; }
};

TEST_F(RunGuardTest, ARunIsRefusedInRedWhileAnotherHoldsTheLog) {
  Open("dvd+r-good");
  ASSERT_TRUE(WaitStatus("Ready."));
  // Another run's lock (a lock of its own open file: this process counts
  // as another run).
  auto other = std::make_unique<CRunLock>();
  ASSERT_EQ(other->TakeLog("TEFE.txt"), CRunLock::Result::kTaken);
  m_dialog->Layout().Control(IDC_STATUS)->Show();
  auto* status = m_dialog->Layout().Get<CSunkenText>(IDC_STATUS);
  const int before = status->Paintings();
  Click(IDC_START);
  EXPECT_EQ(m_dialog->ScanWorker(), nullptr) << "no run started";
  EXPECT_EQ(Status(),
            "TEFE.txt is in use by another Velmo run (pid " + std::to_string(getpid()) + ")");
  status->Update();
  WaitFor([&] { return status->Paintings() > before; }, 2000);
  EXPECT_GT(RedPixels(status), 10);
  EXPECT_TRUE(m_dialog->Layout().Control(IDC_START)->IsEnabled());

  other.reset();
  Click(IDC_START);
  EXPECT_TRUE(WaitFor(
      [&] {
        return !m_seen.messages.empty() &&
               m_seen.messages.back() == "This disc is ok for writing under this speed setting.";
      },
      30000));
}

// A run stopped while its sample is pending writes nothing more: the next
// START is not refused by it.
TEST_F(RunGuardTest, AStoppedRunDoesNotHoldTheLogAgainstTheNext) {
  Open("dvd+r-good", 3000);
  ASSERT_TRUE(WaitStatus("Ready."));
  Click(IDC_START);
  ASSERT_TRUE(WaitStatus("Testing..."));
  Click(IDC_STOP);
  EXPECT_EQ(Status(), "User abort!");
  Click(IDC_START);
  EXPECT_TRUE(WaitStatus("Testing...", 2000)) << Status();
  Click(IDC_STOP);
}

TEST_F(RunGuardTest, TheStatusNeverShowsItsPlaceholder) {
  for (const char* scenario : {"no-drive", "empty", "dvd+r-good"}) {
    SCOPED_TRACE(scenario);
    Open(scenario);
    EXPECT_NE(Status(), "status bar");
    WaitFor([] { return false; }, 300);
    EXPECT_NE(Status(), "status bar");
    m_dialog->Close(true);
    m_dialog = nullptr;
    for (int i = 0; i < 5; ++i) Pump();
  }
}

// Closing with a sample pending for 3 s: the window is unmapped at once (as
// the X server sees it), the close returns only when the sample has, and
// the drive is sent "leave"; no message comes afterwards.
TEST_F(RunGuardTest, CloseHidesAtOnceThenLeavesTheDiagnosticMode) {
  Open("dvd+r-good", 3000);
  ASSERT_TRUE(WaitStatus("Ready."));
  Click(IDC_START);
  ASSERT_TRUE(WaitStatus("Testing..."));
  WaitFor([] { return false; }, 300);  // into the first sample
  std::shared_ptr<CSimDrive> drive = m_dialog->Session()->SimDrives().at(0);
  const uint32_t modeCommands = drive->CommandCount(SimCommandClass::kDiagnosticMode);
  const size_t messages = m_seen.messages.size();
  const unsigned long xid = XWindowOf(m_dialog->GetHandle());

  // The X server's view, on a connection of this thread's own.
  std::atomic<bool> watching{true};
  std::atomic<long> unmappedAfterMs{-1};
  const auto closed = std::chrono::steady_clock::now();
  std::thread watcher([&] {
    const CX11MapState server;
    while (watching && server.Connected()) {
      if (server.Unmapped(xid)) {
        unmappedAfterMs = static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                                std::chrono::steady_clock::now() - closed)
                                                .count());
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  });
  m_dialog->Close(true);
  const auto returned = std::chrono::steady_clock::now();
  watching = false;
  watcher.join();
  m_dialog = nullptr;
  for (int i = 0; i < 5; ++i) Pump();

  ASSERT_GE(unmappedAfterMs.load(), 0) << "the window was never unmapped";
  EXPECT_LT(unmappedAfterMs.load(), 1000);
  EXPECT_GT(returned - closed, std::chrono::milliseconds(1500))
      << "the pending sample was waited for";
  EXPECT_EQ(drive->CommandCount(SimCommandClass::kDiagnosticMode), modeCommands + 1)
      << "leave sent";
  EXPECT_EQ(m_seen.messages.size(), messages) << "nothing shown after the window went";
  EXPECT_EQ(g_pDeviceManager, nullptr);
}

}  // namespace
