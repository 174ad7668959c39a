// One run, one account: every fault scenario of the simulator scanned by the
// window and by velmo-cli, and both keep the same outcome, cause, readings
// and history row, exit with the code that outcome has, and only the
// drive's refusal of the sample command suggests flashing it.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <wx/image.h>
#include <wx/imagpng.h>
#include <wx/log.h>
#include <wx/menu.h>
#include <wx/uiaction.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <sstream>
#include <string>

#include "app/drive_info_dlg.h"
#include "app/scan_dlg.h"
#include "app/window_capture.h"
#include "history/history.h"
#include "records/run_end_text.h"
#include "res/resource_ids.h"
#include "tests/app/window_test.h"
#include "tests/cli/cli_process.h"
#include "tests/support/scratch_folder.h"
#include "tests/support/test_paths.h"

namespace fs = std::filesystem;

namespace {

struct Case {
  const char* scenario;
  RunOutcome outcome;
  int exitCode;
};

class RunAgreementTest : public WindowTest {
 protected:
  void SetUp() override {
    ASSERT_FALSE(m_scratch.Path().empty());
    fs::create_directories(m_dir / "data");
    // The window (in this process) and velmo-cli (a child) keep their runs
    // in one history, as on a user's machine.
    setenv("XDG_DATA_HOME", (m_dir / "data").c_str(), 1);
  }

  // The window's run of the scenario to its end: the record it keeps, the
  // box it showed and its last status.
  struct WindowRun {
    ScanRecord record;
    std::string message;
    std::string status;
    // Every status set from START on: an ejected disc's end status is soon
    // followed by the next poll's, so the last one alone would race.
    std::vector<std::string> statuses;
  };
  WindowRun RunWindow(const std::string& scenario) {
    WindowRun run;
    Open(scenario);
    EXPECT_TRUE(WaitStatus("Ready.", 15000)) << Status();
    m_seen.messages.clear();
    m_seen.statusShown = [&run](const std::string& text) { run.statuses.push_back(text); };
    Click(IDC_START);
    EXPECT_TRUE(WaitFor([&] { return !m_seen.messages.empty(); }, 30000));
    EXPECT_TRUE(WaitFor([&] { return !m_dialog->Scanning(); }, 30000));
    for (int i = 0; i < 5; ++i) Pump();
    if (!m_seen.messages.empty()) run.message = m_seen.messages.front();
    run.status = Status();
    m_seen.statusShown = nullptr;
    if (m_dialog->LastRunRecord()) run.record = *m_dialog->LastRunRecord();
    m_dialog->Close(true);
    m_dialog = nullptr;
    for (int i = 0; i < 5; ++i) Pump();
    return run;
  }

  Finished RunCli(const std::string& scenario, const std::string& name) {
    const fs::path cwd = m_dir / name;
    fs::create_directories(cwd);
    SpawnOptions options;
    options.cwd = cwd.string();
    Child child({"--simulate=" + scenario, "--sim-latency=0", "scan", "--json", "run.json"},
                options);
    return child.Wait();
  }

  // The window as it is on the screen, kept for a person to look at.
  static void KeepPicture(wxWindow* window, const std::string& name) {
    WaitFor([] { return false; }, 500);  // the new texts drawn
    const std::optional<WindowImage> image = CaptureWindowImage(window, false);
    if (!image) return;
    fs::create_directories(velmo_test::ArtefactDir());
    if (wxImage::FindHandler(wxBITMAP_TYPE_PNG) == nullptr) wxImage::AddHandler(new wxPNGHandler);
    wxImage picture(image->width, image->height);
    std::copy(image->rgb.begin(), image->rgb.end(), picture.GetData());
    picture.SaveFile(std::string(velmo_test::ArtefactDir()) + "/" + name, wxBITMAP_TYPE_PNG);
  }

  ScratchFolder m_scratch{"velmo-agree"};
  const fs::path m_dir = m_scratch.Path();
};

// File, Drive Information... shows each simulated drive's facts as
// `velmo-cli drives --long` lists them, the refusing drive's missing serial
// number as unknown; without a drive it says there is none.
TEST_F(RunAgreementTest, DriveInformationShowsWhatDrivesLongLists) {
  const fs::path cwd = m_dir / "drives";
  fs::create_directories(cwd);
  SpawnOptions spawn;
  spawn.cwd = cwd.string();
  const Finished cli =
      Child({"--simulate=dvd+r-good", "--sim-latency=0", "drives", "--long"}, spawn).Wait();
  ASSERT_EQ(cli.code, 0) << cli.err;
  // Each drive's fact lines: "    Label:  value".
  std::vector<std::vector<std::pair<std::string, std::string>>> listed;
  std::istringstream lines(cli.out);
  for (std::string line; std::getline(lines, line);) {
    if (!line.empty() && std::isdigit(static_cast<unsigned char>(line[0]))) listed.emplace_back();
    if (listed.empty() || line.rfind("    ", 0) != 0) continue;
    const size_t colon = line.find(':');
    listed.back().emplace_back(line.substr(4, colon - 3),
                               line.substr(line.find_first_not_of(' ', colon + 1)));
  }
  ASSERT_EQ(listed.size(), 2u) << cli.out;

  const auto openInfo = [this] {
    wxMenu* file = m_dialog->GetMenuBar()->GetMenu(0);
    wxCommandEvent event(wxEVT_MENU, file->FindItem("Drive Information..."));
    m_dialog->GetEventHandler()->ProcessEvent(event);
  };
  Open("dvd+r-good");
  ASSERT_TRUE(WaitStatus("Ready.", 15000)) << Status();
  for (int drive : {0, 1}) {
    SCOPED_TRACE(drive);
    if (drive == 1) Choose(IDC_DRIVE, 1);
    openInfo();
    ASSERT_TRUE(WaitFor(
        [&] { return m_dialog->DriveInfoWindow() && m_dialog->DriveInfoWindow()->Read(); }, 10000));
    const auto rows = m_dialog->DriveInfoWindow()->Rows();
    ASSERT_EQ(rows.size(), listed[drive].size() + 1);
    EXPECT_EQ(rows[0].first, "Drive:");
    for (size_t i = 0; i < listed[drive].size(); ++i) EXPECT_EQ(rows[i + 1], listed[drive][i]);
    EXPECT_EQ(rows[3].second, drive == 0 ? "VX16A0417" : "unknown");
    CDriveInfoDlg* info = m_dialog->DriveInfoWindow();
    if (drive == 0) {
      KeepPicture(info, "drive-information.png");
      wxCommandEvent close(wxEVT_BUTTON, wxID_CLOSE);
      info->GetEventHandler()->ProcessEvent(close);
    } else {
      wxUIActionSimulator keys;
      keys.MouseMove(info->GetScreenRect().GetPosition() + wxPoint(20, 20));
      info->FindWindow(wxID_CLOSE)->SetFocus();
      keys.Char(WXK_ESCAPE);
    }
    ASSERT_TRUE(WaitFor([&] { return m_dialog->DriveInfoWindow() == nullptr; }, 5000));
  }
  m_dialog->Close(true);
  m_dialog = nullptr;
  for (int i = 0; i < 5; ++i) Pump();

  Open("no-drive");
  m_seen.messages.clear();
  openInfo();
  EXPECT_EQ(m_dialog->DriveInfoWindow(), nullptr);
  ASSERT_EQ(m_seen.messages.size(), 1u);
  EXPECT_EQ(m_seen.messages[0], "There is no drive to tell its facts.");
}

// Each fault scenario is a test of its own, so that they run side by side.
class FaultAgreementTest : public RunAgreementTest, public ::testing::WithParamInterface<Case> {};

TEST_P(FaultAgreementTest, WindowAndCliKeepTheSameAccount) {
  const Case& c = GetParam();
  const WindowRun window = RunWindow(c.scenario);
  const Finished cli = RunCli(c.scenario, c.scenario);
  ASSERT_TRUE(cli.exited);
  EXPECT_EQ(cli.code, c.exitCode) << cli.err;
  ScanRecord cliRecord;
  std::string error;
  ASSERT_TRUE(LoadRecordFile((m_dir / c.scenario / "run.json").string(), &cliRecord, &error))
      << error;

  // The same outcome and cause, from the same readings.
  EXPECT_EQ(RunOutcomeName(window.record.outcome), std::string(RunOutcomeName(c.outcome)));
  EXPECT_EQ(RunOutcomeName(cliRecord.outcome), std::string(RunOutcomeName(c.outcome)));
  EXPECT_EQ(window.record.cause, cliRecord.cause);
  EXPECT_EQ(window.record.samples, cliRecord.samples);
  EXPECT_EQ(window.record.settings, cliRecord.settings);
  EXPECT_EQ(window.record.verdict, cliRecord.verdict);
  // Both keep what the drive told of itself.
  ASSERT_TRUE(cliRecord.drive.facts.has_value());
  EXPECT_EQ(cliRecord.drive.facts->serial, std::optional<std::string>("VX16A0417"));
  EXPECT_EQ(window.record.drive.facts, cliRecord.drive.facts);

  // What each said: the window's status and velmo-cli's message name the
  // same cause; only a refusal suggests flashing.
  const bool firmware = c.outcome == RunOutcome::kFirmwareFailure;
  EXPECT_EQ(window.message.find("flash") != std::string::npos, firmware) << window.message;
  EXPECT_EQ(cli.err.find("flash") != std::string::npos, firmware) << cli.err;
  if (HasVerdict(c.outcome)) {
    EXPECT_EQ(window.status,
              VerdictText(c.outcome == RunOutcome::kOk ? ScanVerdict::kOk
                                                       : ScanVerdict::kNotRecommended));
    EXPECT_NE(cli.out.find(window.status), std::string::npos) << cli.out;
  } else {
    const std::string endStatus = RunEndStatus(c.outcome, window.record.cause);
    EXPECT_TRUE(std::any_of(window.statuses.begin(), window.statuses.end(),
                            [&](const std::string& s) { return s.rfind(endStatus, 0) == 0; }))
        << endStatus << " never shown; last: " << window.status;
    // The place as the box writes it: one number, written one way.
    if (const size_t lba = endStatus.find("LBA "); lba != std::string::npos) {
      const std::string place = endStatus.substr(lba, endStatus.find('.', lba) - lba);
      EXPECT_NE(window.message.find(place), std::string::npos) << place << " vs " << window.message;
    }
    EXPECT_NE(cli.err.find(DescribeRunEnd(c.outcome, cliRecord.cause)), std::string::npos)
        << cli.err;
  }

  // Two rows in the history, one from each, alike but for the program.
  CHistory history;
  std::string notice;
  ASSERT_TRUE(history.Open(DefaultHistoryPath(), &error, &notice)) << error;
  std::vector<HistoryEntry> rows;
  ASSERT_TRUE(history.List({}, &rows, &error)) << error;
  ASSERT_GE(rows.size(), 2u);
  const HistoryEntry& fromCli = rows[0];
  const HistoryEntry& fromWindow = rows[1];
  EXPECT_EQ(fromWindow.outcome, fromCli.outcome);
  EXPECT_EQ(HistoryOutcomeText(fromWindow), HistoryOutcomeText(fromCli));
  EXPECT_EQ(fromWindow.maxTe, fromCli.maxTe);
  EXPECT_EQ(fromWindow.maxFe, fromCli.maxFe);
  EXPECT_EQ(fromWindow.speed, fromCli.speed);
  EXPECT_EQ(fromWindow.density, fromCli.density);
  EXPECT_EQ(fromWindow.manufacturerId, fromCli.manufacturerId);
  ScanRecord keptWindow, keptCli;
  ASSERT_TRUE(history.Load(fromWindow.id, &keptWindow, &error)) << error;
  ASSERT_TRUE(history.Load(fromCli.id, &keptCli, &error)) << error;
  EXPECT_EQ(keptWindow.program, "velmo");
  EXPECT_EQ(keptCli.program, "velmo-cli");
  EXPECT_EQ(keptWindow.cause, keptCli.cause);
  EXPECT_EQ(keptWindow.samples, keptCli.samples);
}

const Case kFaultCases[] = {
    {"dvd+r-good", RunOutcome::kOk, 0},
    {"dvd+r-bad", RunOutcome::kNotRecommended, 1},
    {"old-firmware", RunOutcome::kFirmwareFailure, 2},
    {"invalid-reading", RunOutcome::kNoReading, 2},
    {"dvd+r-scratched", RunOutcome::kNoReading, 2},
    {"timeout", RunOutcome::kTimedOut, 2},
    {"drive-gone", RunOutcome::kDriveGone, 2},
    {"eject-mid-scan", RunOutcome::kDiscEjected, 2},
    {"busy-recovers", RunOutcome::kOk, 0},
    {"busy-stays", RunOutcome::kDriveBusy, 2},
};

INSTANTIATE_TEST_SUITE_P(EveryFault, FaultAgreementTest, ::testing::ValuesIn(kFaultCases),
                         [](const ::testing::TestParamInfo<Case>& info) {
                           std::string name;
                           for (const char* p = info.param.scenario; *p; ++p) {
                             name += std::isalnum(static_cast<unsigned char>(*p)) ? *p
                                     : *p == '+'                                  ? 'p'
                                                                                  : '_';
                           }
                           return name;
                         });

// A replay at another density than the recorded run's asks for samples the
// recording never saw: the window says the recording's gap, as velmo-cli
// does, never the firmware's message.
TEST_F(RunAgreementTest, AReplayGapIsSaidAsSuchByTheWindow) {
  Open("replay:" + std::string(velmo_test::SourceDir()) + "/tests/replay/dvd+r-good.trace");
  ASSERT_TRUE(WaitStatus("Ready.", 15000)) << Status();
  Choose(IDC_DENSITY, 2);  // Quick: the recorded run was Normal
  m_seen.messages.clear();
  Click(IDC_START);
  ASSERT_TRUE(WaitFor([&] { return !m_seen.messages.empty(); }, 30000));
  EXPECT_TRUE(WaitFor([&] { return !m_dialog->Scanning(); }, 30000));
  for (int i = 0; i < 5; ++i) Pump();
  EXPECT_EQ(m_seen.messages.front().rfind(
                "The recording has no answer for the sample command at LBA ", 0),
            0u)
      << m_seen.messages.front();
  EXPECT_EQ(Status().rfind("No recorded answer at LBA ", 0), 0u) << Status();
  const std::optional<ScanRecord> record = m_dialog->LastRunRecord();
  ASSERT_TRUE(record);
  EXPECT_EQ(RunOutcomeName(record->outcome), std::string("not in recording"));
}

// A Smart Scan's answer is the same speed from both, and so is its history row.
TEST_F(RunAgreementTest, WindowAndCliGiveTheSameSmartScanAnswer) {
  const Case cases[] = {
      {"dvd+r-marginal", RunOutcome::kOk, 0},
      {"dvd+r-bad", RunOutcome::kNotRecommended, 1},
      {"old-firmware", RunOutcome::kFirmwareFailure, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.scenario);
    Open(c.scenario);
    ASSERT_TRUE(WaitStatus("Ready.", 15000)) << Status();
    m_seen.smartDialog = [&](CSmartModeDlg& smart) {
      smart.Show();
      ASSERT_TRUE(WaitFor([&] { return !smart.WorkerRunning(); }, 15000));
      smart.OnCancel();
    };
    Click(IDC_SMART_SCAN);
    m_dialog->Close(true);
    m_dialog = nullptr;
    for (int i = 0; i < 5; ++i) Pump();

    const fs::path cwd = m_dir / (std::string("smart-") + c.scenario);
    fs::create_directories(cwd);
    SpawnOptions options;
    options.cwd = cwd.string();
    const Finished cli =
        Child({"--simulate=" + std::string(c.scenario), "--sim-latency=0", "smart"}, options)
            .Wait();
    ASSERT_TRUE(cli.exited);
    EXPECT_EQ(cli.code, c.exitCode) << cli.err;
    EXPECT_EQ(cli.err.find("flash") != std::string::npos, c.outcome == RunOutcome::kFirmwareFailure)
        << cli.err;

    CHistory history;
    std::string error, notice;
    ASSERT_TRUE(history.Open(DefaultHistoryPath(), &error, &notice)) << error;
    std::vector<HistoryEntry> rows;
    ASSERT_TRUE(history.List({}, &rows, &error)) << error;
    ASSERT_GE(rows.size(), 2u);
    EXPECT_EQ(rows[0].kind, RecordKind::kSmart);
    EXPECT_EQ(rows[1].kind, RecordKind::kSmart);
    EXPECT_EQ(RunOutcomeName(rows[0].outcome), std::string(RunOutcomeName(c.outcome)));
    EXPECT_EQ(rows[1].outcome, rows[0].outcome);
    EXPECT_EQ(HistoryOutcomeText(rows[1]), HistoryOutcomeText(rows[0]));
    EXPECT_EQ(rows[1].maxTe, rows[0].maxTe);
    ScanRecord keptWindow, keptCli;
    ASSERT_TRUE(history.Load(rows[1].id, &keptWindow, &error)) << error;
    ASSERT_TRUE(history.Load(rows[0].id, &keptCli, &error)) << error;
    EXPECT_EQ(keptWindow.rows, keptCli.rows);
    EXPECT_EQ(keptWindow.fitSpeed, keptCli.fitSpeed);
    EXPECT_EQ(keptWindow.smartSpeeds, keptCli.smartSpeeds);
    EXPECT_EQ(keptWindow.cause, keptCli.cause);
    EXPECT_EQ(keptWindow.disc.writeSpeeds, keptCli.disc.writeSpeeds);
    if (c.outcome == RunOutcome::kOk) {
      ASSERT_TRUE(keptCli.fitSpeed);
      EXPECT_NE(cli.out.find("Fit for writing up to " + keptCli.fitSpeed->speed + "."),
                std::string::npos)
          << cli.out;
    }
  }
}

}  // namespace
