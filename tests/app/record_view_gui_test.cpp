// The window's recorded runs: a record opened without touching the drive,
// and the window's own runs kept in the history.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>
#include <wx/choice.h>
#include <wx/listctrl.h>
#include <wx/menu.h>
#include <wx/textctrl.h>

#include <gtk/gtk.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "app/compare_dlg.h"
#include "app/history_dlg.h"
#include "app/scan_dlg.h"
#include "app/window_capture.h"
#include "chart/graph_ctrl.h"
#include "chart/scan_series.h"
#include "console/smart_scan.h"
#include "device/mmc_vocabulary.h"
#include "history/history.h"
#include "reports/compare_chart.h"
#include "res/resource_ids.h"
#include "session/sim_catalogue.h"
#include "simulator/sim_drive.h"
#include "tests/app/window_test.h"
#include "tests/support/test_paths.h"

namespace fs = std::filesystem;

namespace {

class RecordViewTest : public WindowTest {
 protected:
  // File, Open Record..., through the menu as the user picks it.
  void OpenRecordFromMenu(const std::string& path) {
    m_seen.openRecordPath = [path](std::string* chosen) {
      *chosen = path;
      return true;
    };
    wxMenu* file = m_dialog->GetMenuBar()->GetMenu(0);
    const int id = file->FindItem("Open Record...");
    ASSERT_NE(id, wxNOT_FOUND);
    wxCommandEvent event(wxEVT_MENU, id);
    m_dialog->GetEventHandler()->ProcessEvent(event);
  }
};

ScanRecord RecordedDlRun() {
  ScanRecord r;
  r.program = "velmo-cli";
  r.programVersion = "1.0.0";
  r.startTime = "2026-12-08T02:10:00+00:00";
  r.durationSeconds = 412;
  r.disc = {"DVD+R DL",
            "MKM     ",
            "Mitsubishi Kagaku Media Co., Ltd. (Verbatim)",
            "003",
            "8152.0 MB",
            4173823,
            {WriteSpeedOfEntry(" 8X => (11080 Kb/Sec)  "),
             WriteSpeedOfEntry("2.4X => ( 3324 Kb/Sec)  ")}};
  r.settings = {"8X", 16, "normal", 49152, 500, 450};
  for (int32_t lba = 0; lba < 4173823; lba += 49152) {
    r.samples.push_back({lba, lba + 0x30000, lba >= 2086912 ? 1 : 0, 300, 250, true});
  }
  r.outcome = RunOutcome::kOk;
  r.verdict = "This disc is ok for writing under this speed setting.";
  return r;
}

// The speed code of a list entry as the window shows it (" 8X => ...").
SpeedCode CodeOfEntry(std::string entry) {
  entry.erase(0, entry.find_first_not_of(' '));
  for (SpeedCode code = kSpeed2_4X; code <= kSpeed16X; ++code) {
    if (entry.rfind(std::string(SpeedLabel(code)) + " =>", 0) == 0) return code;
  }
  return 0;
}

// Columns of the plot in which a curve of this colour has a pixel.
int ColumnsDrawn(const CGraphCtrl& graph, COLORREF colour) {
  const CSurface layer = graph.Model().CurveLayer();
  int columns = 0;
  for (int x = 0; x < layer.Width(); ++x) {
    for (int y = 0; y < layer.Height(); ++y) {
      if (layer.GetPixel(x, y) == colour) {
        ++columns;
        break;
      }
    }
  }
  return columns;
}

// The worst fault a view could leave: the list showing one speed while the
// drive is sent another, and the verdict given for the one shown. START
// after a view sends the speed of the entry the list shows again, the
// user's choice from before the view; the live chart's range and the
// density come back as they were.
TEST_F(RecordViewTest, AfterAViewTheSpeedShownIsTheSpeedSent) {
  Open("dvd+r-good");
  ASSERT_TRUE(WaitStatus("Ready."));
  ASSERT_GE(Choice(IDC_SPEED)->GetCount(), 3u);
  Choose(IDC_SPEED, 2);    // not the first entry, which a reset would pick
  Choose(IDC_DENSITY, 2);  // Quick: a short run
  const std::string chosen = Choice(IDC_SPEED)->GetStringSelection().utf8_string();
  const std::vector<std::string> entries = [&] {
    std::vector<std::string> all;
    for (unsigned i = 0; i < Choice(IDC_SPEED)->GetCount(); ++i)
      all.push_back(Choice(IDC_SPEED)->GetString(i).utf8_string());
    return all;
  }();
  CGraphCtrl* live = m_dialog->Graph();
  const CSurface range = live->Model().BackgroundLayer();

  std::ofstream("recorded.json") << WriteRecordJson(RecordedDlRun());
  OpenRecordFromMenu("recorded.json");
  ASSERT_TRUE(m_dialog->ShowingRecord());
  // The record's own speed and density, shown and not to be chosen.
  EXPECT_EQ(Choice(IDC_SPEED)->GetStringSelection().utf8_string(), " 8X => (11080 Kb/Sec)  ");
  EXPECT_EQ(Choice(IDC_DENSITY)->GetStringSelection().utf8_string(), "Normal (Default)");
  EXPECT_FALSE(Choice(IDC_SPEED)->IsEnabled());
  EXPECT_FALSE(Choice(IDC_DENSITY)->IsEnabled());
  EXPECT_FALSE(live->IsShown());
  // A pick that still reached the lists changes nothing that is sent.
  Choose(IDC_SPEED, 1);
  Choose(IDC_DENSITY, 1);

  SimDrive(0).ClearCommandLog();
  Click(IDC_START);
  EXPECT_FALSE(m_dialog->ShowingRecord());
  EXPECT_EQ(Choice(IDC_SPEED)->GetStringSelection().utf8_string(), chosen);
  EXPECT_EQ(Choice(IDC_DENSITY)->GetSelection(), 2);
  EXPECT_TRUE(Choice(IDC_SPEED)->IsEnabled());
  EXPECT_TRUE(Choice(IDC_DENSITY)->IsEnabled());
  std::vector<std::string> after;
  for (unsigned i = 0; i < Choice(IDC_SPEED)->GetCount(); ++i)
    after.push_back(Choice(IDC_SPEED)->GetString(i).utf8_string());
  EXPECT_EQ(after, entries);
  EXPECT_TRUE(live->IsShown());
  EXPECT_FALSE(m_dialog->RecordGraph()->IsShown());
  // The frame and its labels: the drive's disc's range, not the record's.
  EXPECT_TRUE(live->Model().BackgroundLayer() == range);

  ASSERT_TRUE(WaitFor([&] { return !m_seen.messages.empty(); }, 30000));
  EXPECT_EQ(m_seen.messages[0], "This disc is ok for writing under this speed setting.");
  int samples = 0;
  for (const SimLoggedCommand& sent : SimDrive(0).CommandLog()) {
    if (sent.cdb[0] != kOpVendor || sent.cdb[1] != kVendorTefeSample) continue;
    ++samples;
    EXPECT_EQ(sent.cdb[7], CodeOfEntry(chosen)) << chosen;
  }
  EXPECT_GT(samples, 0);
  ASSERT_TRUE(WaitForOkRun());
  EXPECT_EQ(m_dialog->LastRunRecord()->settings.speedCode, CodeOfEntry(chosen));
  EXPECT_EQ(m_dialog->LastRunRecord()->settings.density, "quick");
}

// A recorded run's chart is drawn as a live run draws it, a segment a
// sample, in the live chart's place; its density is shown. The picture of
// the window is left for a person to look at.
TEST_F(RecordViewTest, ARecordedRunsCurvesAreDrawnWhole) {
  Open("dvd+r-good");
  ASSERT_TRUE(WaitStatus("Ready."));
  ScanRecord full = RecordedDlRun();
  full.settings = {"2.4X", kSpeed2_4X, "full", 16384, 500, 450};
  full.samples.clear();
  for (int32_t lba = 0; lba < full.disc.lastLba; lba += 16384) {
    const uint16_t te = static_cast<uint16_t>(200 + (lba / 16384) % 7 * 30);
    full.samples.push_back({lba, lba + 0x30000, lba >= 2086912 ? 1 : 0, te, 150, true});
  }
  std::ofstream("full.json") << WriteRecordJson(full);
  OpenRecordFromMenu("full.json");
  ASSERT_TRUE(m_dialog->ShowingRecord());
  EXPECT_EQ(Choice(IDC_DENSITY)->GetStringSelection().utf8_string(), "Full");
  EXPECT_EQ(Choice(IDC_SPEED)->GetStringSelection().utf8_string(), "2.4X => ( 3324 Kb/Sec)  ");
  CGraphCtrl* chart = m_dialog->RecordGraph();
  ASSERT_NE(chart, nullptr);
  EXPECT_TRUE(chart->IsShown());
  EXPECT_EQ(chart->GetRect(), m_dialog->Graph()->GetRect());
  // From the first sample's column to the last one's, every column holds
  // both curves (one refresh at the end would draw one segment).
  const RECT plot = chart->Model().PlotRect();
  const int span = static_cast<int>((plot.right - plot.left) * double(full.samples.back().lba) /
                                    full.disc.lastLba);
  EXPECT_GE(ColumnsDrawn(*chart, kTeColour), span);
  EXPECT_GE(ColumnsDrawn(*chart, kFeColour), span);
  EXPECT_GT(span, 300);

  // GTK paints on its frame clock: some real time for the screen to show it.
  m_dialog->Raise();
  WaitFor([] { return false; }, 700);
  const std::string artefact = std::string(velmo_test::ArtefactDir()) + "/record-view.bmp";
  std::filesystem::create_directories(velmo_test::ArtefactDir());
  SnapshotResult saved;
  ASSERT_EQ(SaveWindowBitmap(m_dialog, artefact, &saved), 1);
  EXPECT_TRUE(saved.Succeeded());

  // Smart Scan runs on the drive's disc, and so does another drive: each
  // ends the view.
  bool recordShownDuringSmart = true;
  m_seen.smartDialog = [&](CSmartModeDlg& smart) {
    recordShownDuringSmart = m_dialog->ShowingRecord();
    smart.OnCancel();
  };
  Click(IDC_SMART_SCAN);
  EXPECT_FALSE(recordShownDuringSmart);
  EXPECT_FALSE(m_dialog->ShowingRecord());
  EXPECT_TRUE(m_dialog->Graph()->IsShown());
  EXPECT_EQ(Text(IDC_DISC_TYPE), "DVD+R");
  OpenRecordFromMenu("full.json");
  ASSERT_TRUE(m_dialog->ShowingRecord());
  Choose(IDC_DRIVE, 1);
  EXPECT_FALSE(m_dialog->ShowingRecord());
  EXPECT_FALSE(chart->IsShown());
  EXPECT_EQ(Text(IDC_DISC_TYPE), "N/A");
}

// velmo RECORD.json starts with the record shown while the drive's first
// disc is still being found: neither the empty tray nor that first disc
// ends the view; a disc taken out where one was shown does, and the window
// then shows the drive as it is.
TEST_F(RecordViewTest, TheFirstDiscFoundGoesUnderTheViewAndItsRemovalEndsIt) {
  Open("empty");
  std::ofstream("recorded.json") << WriteRecordJson(RecordedDlRun());
  OpenRecordFromMenu("recorded.json");
  ASSERT_TRUE(m_dialog->ShowingRecord());
  WaitFor([] { return false; }, 1500);  // polls of the empty tray
  EXPECT_TRUE(m_dialog->ShowingRecord());
  EXPECT_EQ(Text(IDC_DISC_TYPE), "DVD+R DL");
  EXPECT_EQ(Choice(IDC_SPEED)->GetStringSelection().utf8_string(), " 8X => (11080 Kb/Sec)  ");

  const std::vector<std::string> discs = SimDiscLabels();
  size_t good = 0;
  while (good < discs.size() && discs[good].rfind("dvd+r-novadisc", 0) != 0) ++good;
  ASSERT_LT(good, discs.size());
  m_dialog->Session()->InsertSimDisc(0, good, std::chrono::milliseconds(0));
  ASSERT_TRUE(WaitFor([&] { return Enabled(IDC_START); }));
  EXPECT_TRUE(m_dialog->ShowingRecord());
  EXPECT_EQ(Text(IDC_DISC_TYPE), "DVD+R DL");
  EXPECT_EQ(Text(IDC_STATUS),
            "Recorded run: This disc is ok for writing under this speed setting.");

  SimDrive(0).Eject();
  ASSERT_TRUE(WaitFor([&] { return !m_dialog->ShowingRecord(); }));
  EXPECT_EQ(Text(IDC_DISC_TYPE), "N/A");
  EXPECT_EQ(Choice(IDC_SPEED)->GetStringSelection().utf8_string(), "N/A");
  EXPECT_EQ(Text(IDC_STATUS), "Please insert blank disc...");
  EXPECT_TRUE(m_dialog->Graph()->IsShown());
}

TEST_F(RecordViewTest, ARecordOpensWithoutTheDriveAndStartLeavesIt) {
  Open("dvd+r-good");
  ASSERT_TRUE(WaitFor([&] { return Text(IDC_STATUS) == "Ready."; }));
  const std::string path = "recorded.json";
  std::ofstream(path) << WriteRecordJson(RecordedDlRun());
  const uint32_t before =
      m_dialog->Session()->SimDrives().front()->CommandCount(SimCommandClass::kTefeSample);
  OpenRecordFromMenu(path);
  EXPECT_TRUE(m_dialog->ShowingRecord());
  EXPECT_EQ(Text(IDC_DISC_TYPE), "DVD+R DL");
  EXPECT_EQ(Text(IDC_MANUFACTURER_ID), "MKM     ");
  EXPECT_EQ(m_dialog->Layout().Control(IDC_MANUFACTURER_ID)->GetToolTipText().utf8_string(),
            "Mitsubishi Kagaku Media Co., Ltd. (Verbatim)");
  EXPECT_EQ(Text(IDC_ELAPSED), "412 seconds");
  EXPECT_EQ(Text(IDC_STATUS),
            "Recorded run: This disc is ok for writing under this speed setting.");
  EXPECT_NE(m_dialog->GetTitle().utf8_string().find("recorded run (recorded.json)"),
            std::string::npos);
  EXPECT_EQ(m_dialog->Layout().Get<wxChoice>(IDC_SPEED)->GetStringSelection().utf8_string(),
            " 8X => (11080 Kb/Sec)  ");
  for (int i = 0; i < 5; ++i) Pump();
  EXPECT_EQ(m_dialog->Session()->SimDrives().front()->CommandCount(SimCommandClass::kTefeSample),
            before);
  EXPECT_TRUE(m_seen.messages.empty());

  // Not a record: said, and the view stays as it was.
  std::ofstream("broken.json") << "{\"format\": \"velmo-scan\", \"version\": 4}";
  OpenRecordFromMenu("broken.json");
  ASSERT_EQ(m_seen.messages.size(), 1u);
  EXPECT_NE(m_seen.messages[0].find("newer"), std::string::npos) << m_seen.messages[0];
  EXPECT_TRUE(m_dialog->ShowingRecord());

  // START scans the drive's disc again, under the window's own title.
  Click(IDC_START);
  EXPECT_FALSE(m_dialog->ShowingRecord());
  EXPECT_EQ(m_dialog->GetTitle().find("recorded"), wxString::npos);
  EXPECT_EQ(Text(IDC_DISC_TYPE), "DVD+R");
  ASSERT_TRUE(WaitFor([&] { return m_seen.messages.size() == 2; }, 30000));
}

// Open Record on what is no record: a FIFO (which once held the window for
// ever), a folder, a record nested far too deeply. Each is said at once and
// the window goes on with its drive.
TEST_F(RecordViewTest, WhatIsNoRecordIsSaidAtOnce) {
  Open("dvd+r-good");
  ASSERT_TRUE(WaitFor([&] { return Text(IDC_STATUS) == "Ready."; }));
  const std::string fifo = "hostile.fifo";
  fs::remove(fifo);
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  fs::remove_all("hostile-folder.json");
  fs::create_directory("hostile-folder.json");
  std::ofstream("deep.json") << "{\"format\": " << std::string(150000, '[')
                             << std::string(150000, ']') << ", \"version\": 2}";
  const std::pair<const char*, const char*> cases[] = {
      {"hostile.fifo", "hostile.fifo: is a FIFO, not a file"},
      {"hostile-folder.json", "hostile-folder.json: is a folder, not a file"},
      {"deep.json", "deep.json: not a readable scan record (nested too deeply"},
  };
  for (const auto& [path, says] : cases) {
    m_seen.messages.clear();
    OpenRecordFromMenu(path);
    ASSERT_EQ(m_seen.messages.size(), 1u) << path;
    EXPECT_NE(m_seen.messages[0].find(says), std::string::npos) << m_seen.messages[0];
    EXPECT_FALSE(m_dialog->ShowingRecord()) << path;
  }
  EXPECT_EQ(Text(IDC_DISC_TYPE), "DVD+R");
  fs::remove(fifo);
  fs::remove_all("hostile-folder.json");
  fs::remove("deep.json");
}

TEST_F(RecordViewTest, TheWindowsRunsAreKeptInTheHistory) {
  CHistory history;
  std::string error, notice;
  ASSERT_TRUE(history.Open(DefaultHistoryPath(), &error, &notice)) << error;
  std::vector<HistoryEntry> before;
  ASSERT_TRUE(history.List({}, &before, &error));

  Open("dvd+r-yuden");
  ASSERT_TRUE(WaitFor([&] { return Text(IDC_STATUS) == "Ready."; }));
  EXPECT_EQ(m_dialog->Layout().Control(IDC_MANUFACTURER_ID)->GetToolTipText().utf8_string(),
            "Taiyo Yuden Co., Ltd.");
  Click(IDC_START);
  ASSERT_TRUE(WaitFor([&] { return !m_seen.messages.empty(); }, 30000));
  std::vector<HistoryEntry> after;
  ASSERT_TRUE(history.List({}, &after, &error));
  ASSERT_EQ(after.size(), before.size() + 1);
  EXPECT_EQ(after[0].manufacturerId, "YUDEN000");
  EXPECT_EQ(after[0].outcome, RunOutcome::kOk);
  ScanRecord kept;
  ASSERT_TRUE(history.Load(after[0].id, &kept, &error)) << error;
  EXPECT_EQ(kept.program, "velmo");
  EXPECT_EQ(kept.samples.size(), 58u);
  EXPECT_EQ(kept.drive.vendor, "VELMO");
  EXPECT_TRUE(m_dialog->HistoryProblem().empty());
}

// A history written by a newer Velmo: the window's run still ends with its
// verdict, the history is said once and not written, and the History window
// says why it lists nothing.
TEST_F(RecordViewTest, ANewerHistoryIsSaidAndNeverWritten) {
  // A history of this test's own, the binary's scratch one back on any exit.
  struct Restore {
    std::string saved = std::getenv("XDG_DATA_HOME");
    ~Restore() { setenv("XDG_DATA_HOME", saved.c_str(), 1); }
  } restore;
  setenv("XDG_DATA_HOME", (restore.saved + "/newer").c_str(), 1);
  const std::string path = DefaultHistoryPath();
  // A file left by an earlier run of this test is already newer.
  for (const char* tail : {"", "-wal", "-shm"}) std::remove((path + tail).c_str());
  {
    CHistory history;
    std::string error, notice;
    ASSERT_TRUE(history.Open(path, &error, &notice)) << error;
    ASSERT_NE(history.Add(RecordedDlRun(), &error), 0) << error;
  }
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  const std::string stamp = "PRAGMA user_version = " + std::to_string(kHistoryVersion + 1);
  EXPECT_EQ(sqlite3_exec(db, stamp.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
  sqlite3_close(db);
  std::ifstream in(path, std::ios::binary);
  const std::string before((std::istreambuf_iterator<char>(in)), {});

  Open("dvd+r-good");
  ASSERT_TRUE(WaitFor([&] { return Text(IDC_STATUS) == "Ready."; }));
  for (int run = 1; run <= 2; ++run) {
    Click(IDC_START);
    ASSERT_TRUE(WaitFor([&] { return m_seen.messages.size() == static_cast<size_t>(run); }, 30000));
    EXPECT_EQ(m_seen.messages.back(), "This disc is ok for writing under this speed setting.");
    // START is taken only once the worker has finished, not just stopped scanning.
    ASSERT_TRUE(
        WaitFor([&] { return !m_dialog->Scanning() && m_dialog->ScanWorker()->Finished(); }));
    // Beside the first run's ending only: said once.
    const bool said =
        Text(IDC_STATUS).find("(history not kept: " + path + " was written by a newer") !=
        std::string::npos;
    EXPECT_EQ(said, run == 1) << Text(IDC_STATUS);
  }
  EXPECT_EQ(m_dialog->HistoryProblem(),
            "history not kept: " + path + " was written by a newer Velmo (history version " +
                std::to_string(kHistoryVersion + 1) + "; this one reads up to " +
                std::to_string(kHistoryVersion) + ")");

  wxMenu* file = m_dialog->GetMenuBar()->GetMenu(0);
  wxCommandEvent event(wxEVT_MENU, file->FindItem("History..."));
  m_dialog->GetEventHandler()->ProcessEvent(event);
  ASSERT_EQ(m_seen.messages.size(), 3u);
  EXPECT_EQ(
      m_seen.messages[2].find("The history cannot be read: " + path + " was written by a newer"),
      0u)
      << m_seen.messages[2];
  EXPECT_EQ(m_dialog->HistoryWindow()->List()->GetItemCount(), 0);

  std::ifstream again(path, std::ios::binary);
  EXPECT_EQ(std::string((std::istreambuf_iterator<char>(again)), {}), before);
}

TEST_F(RecordViewTest, TheWindowsSmartScansAreKeptWithTheirReadings) {
  Open("dvd+r-marginal");
  ASSERT_TRUE(WaitFor([&] { return Text(IDC_STATUS) == "Ready."; }));
  // The answer under the list once the last row has ended, on screen.
  auto answerUnderList = [](CSmartModeDlg& smart) {
    const wxRect list = smart.ResultList()->GetRect();
    const wxRect answer = smart.AnswerLine()->GetRect();
    EXPECT_GT(answer.y, list.GetBottom());
    EXPECT_LE(answer.GetBottom(), smart.GetClientSize().y);
    return smart.AnswerLine()->GetLabel().utf8_string();
  };
  std::string liveAnswer;
  m_seen.smartDialog = [&](CSmartModeDlg& smart) {
    smart.Show();
    ASSERT_TRUE(WaitFor([&] { return !smart.WorkerRunning() && !smart.Answer().empty(); }));
    liveAnswer = answerUnderList(smart);
    SaveScreenshot(&smart, "smart-answer");
    smart.OnCancel();
  };
  Click(IDC_SMART_SCAN);
  EXPECT_EQ(liveAnswer, "Fit for writing up to 10X.");
  EXPECT_EQ(Text(IDC_STATUS), "Fit for writing up to 10X.") << "the answer after the report closed";
  CHistory history;
  std::string error, notice;
  ASSERT_TRUE(history.Open(DefaultHistoryPath(), &error, &notice)) << error;
  std::vector<HistoryEntry> entries;
  ASSERT_TRUE(history.List({"ORBTEK", "", {}, std::nullopt, 1}, &entries, &error));
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].kind, RecordKind::kSmart);
  // Its answer is a speed: 10X is the highest that is "OK.".
  EXPECT_EQ(entries[0].outcome, RunOutcome::kOk);
  ScanRecord kept;
  ASSERT_TRUE(history.Load(entries[0].id, &kept, &error)) << error;
  ASSERT_TRUE(kept.fitSpeed);
  EXPECT_EQ(kept.fitSpeed->speed, "10X");
  EXPECT_EQ(kept.smartSpeeds.size(), 7u);
  EXPECT_EQ(kept.settings.density, kSmartDensity);
  EXPECT_FALSE(kept.disc.writeSpeeds.empty());
  ASSERT_EQ(kept.rows.size(), 7u);
  EXPECT_EQ(kept.rows.front().speed, "16X");
  EXPECT_EQ(kept.rows.front().result, kSmartRowNotRecommended);
  EXPECT_GT(kept.rows.front().te.value_or(0), 500);
  EXPECT_EQ(kept.rows.back().result, kSmartRowOk);

  // Opened again, it reads as its report did, without the drive.
  const std::string path = "smart.json";
  std::ofstream(path) << WriteRecordJson(kept);
  std::vector<std::string> shown;
  std::string title, recordedAnswer;
  bool worker = true;
  int rowsInView = 0;
  m_seen.smartDialog = [&](CSmartModeDlg& smart) {
    for (int i = 0; i < smart.ResultList()->GetItemCount(); ++i) {
      shown.push_back(smart.ResultList()->GetItemText(i, 0).utf8_string() + " " +
                      smart.ResultList()->GetItemText(i, 1).utf8_string());
    }
    title = smart.GetTitle().utf8_string();
    worker = smart.WorkerRunning();
    rowsInView = smart.ResultList()->GetCountPerPage();
    recordedAnswer = answerUnderList(smart);
  };
  const uint32_t before =
      m_dialog->Session()->SimDrives().front()->CommandCount(SimCommandClass::kTefeSample);
  OpenRecordFromMenu(path);
  ASSERT_EQ(shown.size(), 7u);
  EXPECT_EQ(shown.front(), "16X Not recommended.");
  EXPECT_EQ(shown.back(), "2.4X OK.");
  EXPECT_NE(title.find("recorded run"), std::string::npos) << title;
  EXPECT_FALSE(worker);
  EXPECT_EQ(m_dialog->Session()->SimDrives().front()->CommandCount(SimCommandClass::kTefeSample),
            before);
  EXPECT_GE(rowsInView, 7) << "every row without scrolling";
  EXPECT_EQ(recordedAnswer, "Fit for writing up to 10X.");
  EXPECT_EQ(Text(IDC_STATUS), "Recorded run: Smart Scan: Fit for writing up to 10X.");
}

TEST_F(RecordViewTest, HistoryListsFiltersOpensAndCompares) {
  {
    CHistory history;
    std::string error, notice;
    ASSERT_TRUE(history.Open(DefaultHistoryPath(), &error, &notice)) << error;
    // Later than any other test's runs: these two head the list.
    ScanRecord dl = RecordedDlRun();
    dl.startTime = "2099-01-01T00:00:00+00:00";
    ASSERT_NE(history.Add(dl, &error), 0) << error;
    dl.disc.manufacturerId = "ORBTEK";
    dl.disc.manufacturerName.reset();
    dl.startTime = "2099-01-02T00:00:00+00:00";
    for (RecordSample& s : dl.samples) {
      s.te = 520;
      s.ok = false;
    }
    dl.outcome = RunOutcome::kNotRecommended;
    dl.verdict = "This disc is not recommended for writing under this speed setting.";
    ASSERT_NE(history.Add(dl, &error), 0) << error;
  }
  Open("empty");
  wxMenu* file = m_dialog->GetMenuBar()->GetMenu(0);
  const int id = file->FindItem("History...");
  ASSERT_NE(id, wxNOT_FOUND);
  wxCommandEvent event(wxEVT_MENU, id);
  m_dialog->GetEventHandler()->ProcessEvent(event);
  CHistoryDlg* history = m_dialog->HistoryWindow();
  ASSERT_NE(history, nullptr);
  Pump();
  const int all = history->List()->GetItemCount();
  ASSERT_GE(all, 2);
  EXPECT_EQ(history->List()->GetItemText(0, 4).utf8_string(), "ORBTEK");  // newest first
  EXPECT_EQ(history->List()->GetItemText(0, 8).utf8_string(), "not recommended");
  EXPECT_EQ(history->List()->GetItemText(0, 9).utf8_string(), "520");

  history->MidFilter()->SetValue("mkm");
  std::string error;
  ASSERT_TRUE(history->Reload(&error)) << error;
  ASSERT_GE(history->List()->GetItemCount(), 1);
  for (int i = 0; i < history->List()->GetItemCount(); ++i) {
    EXPECT_EQ(history->List()->GetItemText(i, 5).utf8_string(),
              "Mitsubishi Kagaku Media Co., Ltd. (Verbatim)");
  }
  // One run opens in the main window as a recorded run.
  history->List()->SetItemState(0, wxLIST_STATE_SELECTED, wxLIST_STATE_SELECTED);
  history->OpenSelected();
  EXPECT_TRUE(m_dialog->ShowingRecord());
  EXPECT_EQ(Text(IDC_MANUFACTURER_ID), "MKM     ");

  // Export Report writes the run the window shows, and the History window
  // the runs selected in it (two: one comparison page).
  const std::string folder =
      (fs::temp_directory_path() / ("velmo-export-" + std::to_string(getpid()))).string();
  fs::create_directories(folder);
  std::string asked;
  m_seen.reportPath = [&](const std::string& name, std::string* chosen) {
    asked = name;
    *chosen = folder + "/" + (fs::exists(folder + "/shown.html") ? "both.html" : "shown.html");
    return true;
  };
  auto read = [](const std::string& path) {
    std::ifstream file(path);
    return std::string(std::istreambuf_iterator<char>(file), {});
  };
  wxCommandEvent exportEvent(wxEVT_MENU, file->FindItem("Export Report..."));
  m_dialog->GetEventHandler()->ProcessEvent(exportEvent);
  EXPECT_NE(asked.find("MKM"), std::string::npos) << asked;  // the shown run's default name
  const std::string shown = read(folder + "/shown.html");
  EXPECT_NE(shown.find("MKM"), std::string::npos);
  EXPECT_EQ(shown.find("ORBTEK"), std::string::npos);

  // Two runs side by side: the overlaid chart and a column each.
  history->MidFilter()->SetValue("");
  ASSERT_TRUE(history->Reload(&error)) << error;
  history->List()->SetItemState(0, wxLIST_STATE_SELECTED, wxLIST_STATE_SELECTED);
  history->List()->SetItemState(1, wxLIST_STATE_SELECTED, wxLIST_STATE_SELECTED);
  history->CompareSelected();
  auto* compare = dynamic_cast<CCompareDlg*>(history->LastComparison());
  ASSERT_NE(compare, nullptr);
  Pump();
  EXPECT_EQ(compare->Chart().GetWidth(), kCompareWindowChartWidth);
  EXPECT_EQ(compare->Table()->GetColumnCount(), 3);
  bool overLimitRow = false;
  for (int row = 0; row < compare->Table()->GetItemCount(); ++row) {
    if (compare->Table()->GetItemText(row, 0) == "TE over / margin") {
      overLimitRow = true;
      EXPECT_EQ(compare->Table()->GetItemText(row, 1).utf8_string(), "0 / 200");
      EXPECT_EQ(compare->Table()->GetItemText(row, 2).utf8_string(), "85 / -20");
    }
  }
  EXPECT_TRUE(overLimitRow);
  history->ExportSelected();
  const std::string both = read(folder + "/both.html");
  EXPECT_NE(both.find("MKM"), std::string::npos);
  EXPECT_NE(both.find("ORBTEK"), std::string::npos);
  fs::remove_all(folder);
  // One run selected: nothing to compare, and the user is told.
  history->List()->SetItemState(1, 0, wxLIST_STATE_SELECTED);
  history->CompareSelected();
  ASSERT_FALSE(m_seen.messages.empty());
  EXPECT_EQ(m_seen.messages.back(), "Select 2 to 8 runs to compare.");
}

// The Export Report dialog as a user answers it: into a folder, with a type
// picked from the list and the name offered left as it is.
struct ChosenType {
  std::string folder;
  std::string type;  // the start of the type's label: "PNG"
  std::string offered;
  bool answered = false;
};

gboolean PickTypeInGtkChooser(gpointer data) {
  auto* chosen = static_cast<ChosenType*>(data);
  GList* windows = gtk_window_list_toplevels();
  for (GList* at = windows; at != nullptr; at = at->next) {
    if (!GTK_IS_FILE_CHOOSER(at->data) || !GTK_IS_DIALOG(at->data)) continue;
    GtkFileChooser* chooser = GTK_FILE_CHOOSER(at->data);
    // The name offered, typed as a full path into the folder (the dialog
    // changes its shown folder only later).
    gchar* offered = gtk_file_chooser_get_current_name(chooser);
    chosen->offered = offered != nullptr ? offered : "";
    g_free(offered);
    gtk_file_chooser_set_current_name(chooser, (chosen->folder + "/" + chosen->offered).c_str());
    GSList* filters = gtk_file_chooser_list_filters(chooser);
    for (GSList* f = filters; f != nullptr; f = f->next) {
      const char* name = gtk_file_filter_get_name(GTK_FILE_FILTER(f->data));
      if (name != nullptr && std::string(name).rfind(chosen->type, 0) == 0)
        gtk_file_chooser_set_filter(chooser, GTK_FILE_FILTER(f->data));
    }
    g_slist_free(filters);
    gtk_dialog_response(GTK_DIALOG(at->data), GTK_RESPONSE_ACCEPT);
    chosen->answered = true;
  }
  g_list_free(windows);
  return chosen->answered ? G_SOURCE_REMOVE : G_SOURCE_CONTINUE;
}

// The History window's Export Report through the real file dialog: the type
// picked decides the format and the extension, though the name offered
// ends in the default type's.
TEST_F(RecordViewTest, HistoryExportWritesTheTypePicked) {
#if defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "the GTK file chooser's own threads under ThreadSanitizer";
#endif
  {
    CHistory history;
    std::string error, notice;
    ASSERT_TRUE(history.Open(DefaultHistoryPath(), &error, &notice)) << error;
    ScanRecord newest = RecordedDlRun();
    newest.startTime = "2099-06-01T00:00:00+00:00";  // heads the list
    ASSERT_NE(history.Add(newest, &error), 0) << error;
  }
  Open("empty");
  wxMenu* file = m_dialog->GetMenuBar()->GetMenu(0);
  wxCommandEvent event(wxEVT_MENU, file->FindItem("History..."));
  m_dialog->GetEventHandler()->ProcessEvent(event);
  CHistoryDlg* history = m_dialog->HistoryWindow();
  ASSERT_NE(history, nullptr);
  Pump();
  ASSERT_GE(history->List()->GetItemCount(), 1);
  history->List()->SetItemState(0, wxLIST_STATE_SELECTED, wxLIST_STATE_SELECTED);

  ChosenType chosen;
  chosen.folder = (fs::current_path() / "typed-export").string();
  chosen.type = "PNG";
  fs::remove_all(chosen.folder);
  fs::create_directories(chosen.folder);
  g_timeout_add(500, PickTypeInGtkChooser, &chosen);
  history->ExportSelected();
  ASSERT_TRUE(chosen.answered);
  EXPECT_EQ(fs::path(chosen.offered).extension(), ".pdf") << chosen.offered;
  EXPECT_TRUE(m_seen.messages.empty()) << m_seen.messages.front();
  std::vector<fs::path> written;
  for (const auto& entry : fs::directory_iterator(chosen.folder)) written.push_back(entry.path());
  ASSERT_EQ(written.size(), 1u);
  EXPECT_EQ(written[0].extension(), ".png") << written[0];
  EXPECT_NE(written[0].filename().string().find("MKM"), std::string::npos) << written[0];
  EXPECT_EQ(ReadFile(written[0].string()).substr(0, 4), "\x89PNG");
  fs::remove_all(chosen.folder);
}

}  // namespace
