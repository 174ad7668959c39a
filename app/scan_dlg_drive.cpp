// The window's drive: the device manager and its drive list, the selected
// drive's diagnostic mode, the 600 ms media poll on its worker, and what the
// identification found shown in the disc fields.
#include <wx/choice.h>
#include <wx/thread.h>

#include <cstdio>

#include "app/scan_dlg.h"

#include "chart/graph_ctrl.h"
#include "chart/scan_series.h"
#include "commands/disc_globals.h"
#include "commands/drive_commands.h"
#include "commands/drive_facts.h"
#include "records/media_codes.h"
#include "res/resource_ids.h"
#include "session/run_lock.h"

namespace {

constexpr char kPleaseInsert[] = "Please insert blank disc...";

}  // namespace

bool CScanDlg::InitDeviceManager() {
  m_session.reset();
  g_pDeviceManager = nullptr;
  m_session = std::make_unique<CDriveSession>();
  // The manager may speak from a worker (a refused ASPI time-out); the box
  // then opens on the UI thread and the worker waits until it is closed, as
  // for a modal box of its own. Closing the window releases it.
  auto messages = [this, alive = std::weak_ptr<int>(m_alive), gate = m_boxGate](
                      const std::string& text, const std::string& caption) {
    if (wxThread::IsMain()) {
      m_prompts->Message(this, text, caption);
      return;
    }
    auto closed = std::make_shared<bool>(false);
    {
      std::lock_guard<std::mutex> hold(gate->lock);
      if (gate->closing) return;
    }
    CallAfter([this, alive, gate, closed, text, caption] {
      bool closing;
      {
        std::lock_guard<std::mutex> hold(gate->lock);
        closing = gate->closing;
      }
      if (!closing && !alive.expired()) m_prompts->Message(this, text, caption);
      {
        std::lock_guard<std::mutex> hold(gate->lock);
        *closed = true;
      }
      gate->changed.notify_all();
    });
    std::unique_lock<std::mutex> hold(gate->lock);
    gate->changed.wait(hold, [&] { return *closed || gate->closing; });
  };
  if (const SessionOpening opening = m_session->Open(m_options, messages); !opening.Opened()) {
    m_prompts->Message(this, opening.error);
    return false;
  }
  // The window has no room for this advice; whoever started velmo from a
  // terminal gets it there.
  if (m_session->Initialized()) {
    for (const SkippedVolume& skipped : m_session->Manager().GetSkippedVolumes()) {
      std::fprintf(stderr, "velmo: %s\n", DescribeSkippedVolume(skipped).c_str());
    }
  }
  if (!m_session->Initialized()) {
    m_prompts->Message(this, "Initial fail.");
    return false;
  }
  CDeviceManager& manager = m_session->Manager();
  const uint8_t count = manager.GetDriveCount();
  if (count == 0) {
    m_prompts->Message(this, "No Device found!");
    return false;
  }
  for (uint8_t i = 0; i < count; ++i) {
    manager.SelectDrive(i);
    char name[100] = {};
    manager.GetDriveName(name);
    m_driveCombo->Insert(wxString::FromUTF8(name), i);
  }
  m_driveCombo->SetSelection(0);
  manager.SelectDrive(0);
  return true;
}

void CScanDlg::ResetDiscInfo() {
  if (m_book.Showing()) {
    // A tray already empty under a recorded run: nothing has changed, and
    // the poll says so every tick.
    if (!m_discShown) return;
    EndRecordView();  // the disc shown was taken out
  }
  m_discShown = false;
  EnableRunControls(false, false, false);
  m_speedCombo->Clear();
  m_speedCombo->Append("N/A");
  m_speedCombo->SetSelection(0);
  for (int id : {IDC_DISC_TYPE, IDC_MANUFACTURER_ID, IDC_MEDIA_TYPE_ID, IDC_CAPACITY})
    SetText(id, "N/A");
  SetText(IDC_STATUS, kPleaseInsert);
}

void CScanDlg::ApplyDiscView(const DiscView& view) {
  if (view.resetDiscInfo) {
    ResetDiscInfo();
    SkipUntestableDisc(view);
    return;
  }
  // A disc in place of the one shown ends a recorded run's view. The first
  // disc found (velmo RECORD.json starting with its drive) goes under it:
  // the view stays, and ends later on what it found.
  std::optional<ScanRecord> keepShowing;
  if (m_book.Showing() && !m_discShown) keepShowing = m_book.Shown();
  EndRecordView();
  m_discShown = true;
  m_book.ForgetLastRun();  // the chart and Export are this disc's from now on
  if (view.discType) SetText(IDC_DISC_TYPE, *view.discType);
  if (view.manufacturerId) {
    SetText(IDC_MANUFACTURER_ID, *view.manufacturerId);
    m_layout.Control(IDC_MANUFACTURER_ID)
        ->SetToolTip(wxString::FromUTF8(ManufacturerNameOrUnknown(*view.manufacturerId)));
  }
  if (view.mediaTypeId) SetText(IDC_MEDIA_TYPE_ID, *view.mediaTypeId);
  if (view.enableSpeedList) m_speedCombo->Enable(true);
  if (view.speedEntries) {
    m_speedCombo->Clear();
    for (const std::string& entry : *view.speedEntries)
      m_speedCombo->Append(wxString::FromUTF8(entry));
    if (!view.speedEntries->empty()) m_speedCombo->SetSelection(0);
  }
  if (view.capacity) SetText(IDC_CAPACITY, *view.capacity);
  if (view.speedCode) m_speedCode = *view.speedCode;
  if (view.chartLastLba && m_graph != nullptr)
    SetScanRange(*m_graph, *view.chartLastLba, ChartRangeChoice());
  if (view.enableRunControls) EnableRunControls(true, false, true);
  if (view.enableRunControls) StartIfChosen();
  if (view.status) SetText(IDC_STATUS, *view.status);
  const bool runStarted = m_pScanThread && !m_pScanThread->Finished();
  if (keepShowing && !runStarted) PutRecordInWindow(*keepShowing, m_recordName);
  SkipUntestableDisc(view);
  Update();
}

void CScanDlg::EnterDiagnosticMode() {
  const int selected = m_driveCombo->GetSelection();
  const std::string drivePath =
      selected < 0 ? "" : m_session->Manager().GetDrivePath(static_cast<uint8_t>(selected));
  m_driveHold.Release();
  if (CRunLock::Refuses(m_driveHold.Take(DriveLockPath(drivePath)))) {
    // Not a drive fault: no notice box, the status says who has it or why
    // it cannot be locked.
    m_diagMode = 0;
    m_statusColor = kColorRed;
    SetText(IDC_STATUS, m_driveHold.Refusal(drivePath));
    return;
  }
  ScsiExchange enter;
  if (SetDiagnosticMode(kDiagnosticEnter, &enter)) {
    m_diagMode = 1;
    m_pollTimer.Start(kPollPeriodMs);
  } else {
    const int index = m_driveCombo->GetSelection();
    const std::string path =
        index < 0 ? "" : m_session->Manager().GetDrivePath(static_cast<uint8_t>(index));
    const std::string why = DescribeVendorCommandFailure(enter.hostError, path);
    std::fprintf(stderr, "velmo: %s: %s\n", path.c_str(),
                 why.empty() ? "the drive refuses the diagnostic mode; it is not one Velmo "
                               "can test (velmo --simulate shows a supported one)"
                             : why.c_str());
    m_prompts->DriveNotice(this);
    m_diagMode = 0;
  }
}

void CScanDlg::OnSelchangeDrive(wxCommandEvent&) {
  if (!m_session) return;
  const int index = m_driveCombo->GetSelection();
  if (index < 0) return;
  if (m_book.Showing()) EndRecordView();
  {
    MutexLock hold(m_driveLock);
    ++m_generation;
    m_session->Manager().SelectDrive(static_cast<uint8_t>(index));
    m_discIdentified = 0;
  }
  ResetDiscInfo();
  m_driveFacts.reset();
  if (m_diagMode == 1) m_pollTimer.Stop();
  // No leave request to the drive we came from.
  EnterDiagnosticMode();
}

// Media poll.

void CScanDlg::OnTimer(wxTimerEvent&) {
  ReapStoppedScans();
  if (m_closing || !m_session) return;
  if (m_polling.exchange(true)) {
    ++m_pollsSkipped;
    return;
  }
  if (m_pollThread.joinable()) m_pollThread.join();  // done: m_polling was false
  uint64_t generation;
  {
    MutexLock hold(m_driveLock);
    generation = m_generation;
  }
  ++m_pollsStarted;
  m_pollThread = std::thread(&CScanDlg::PollThreadProc, this, generation);
}

void CScanDlg::PollThreadProc(CScanDlg* dialog, uint64_t generation) {
  dialog->PollMedia(generation);
  dialog->m_polling = false;
}

void CScanDlg::PollMedia(uint64_t generation) {
  if (m_scanning == 1) return;
  if (DriveNotReady()) {
    {
      MutexLock hold(m_driveLock);
      if (m_generation != generation) return;
      m_discIdentified = 0;
    }
    CallAfter([this, generation] {
      MutexLock hold(m_driveLock);
      if (m_generation == generation && !m_closing) ResetDiscInfo();
    });
    return;
  }
  if (m_discIdentified != 0) return;
  DiscView view = IdentifyDisc(m_diagMode == 1);
  // Once a disc, here rather than as a run starts: the window's runs start
  // on the UI thread, which never waits on the drive.
  DriveFacts facts = ReadDriveFacts();
  {
    MutexLock hold(m_driveLock);
    if (m_generation != generation) return;
    m_discIdentified = 1;
  }
  CallAfter([this, generation, view = std::move(view), facts = std::move(facts)] {
    {
      MutexLock hold(m_driveLock);
      if (m_generation != generation || m_closing) return;
    }
    m_driveFacts = facts;
    ApplyDiscView(view);
  });
}
