// The History window on a lab's PostgreSQL server (tests/lab/
// with_lab_server.sh starts one for this binary): every station's runs with
// the station's name, the line saying which history it reads, Local history
// for the station's own, a server that cannot be reached said in that line,
// and a run made in the window sent to the server without waiting for it.
#include <gtest/gtest.h>
#include <wx/choice.h>
#include <wx/image.h>
#include <wx/listctrl.h>
#include <wx/menu.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "app/history_dlg.h"
#include "app/history_list.h"
#include "app/window_capture.h"
#include "history/history.h"
#include "history/lab_history.h"
#include "tests/app/window_test.h"
#include "tests/cli/cli_process.h"
#include "tests/support/scratch_folder.h"
#include "tests/support/test_paths.h"

namespace fs = std::filesystem;

namespace {

std::string LabEnvironment(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

class LabHistoryWindowTest : public WindowTest {
 protected:
  void SetUp() override {
    if (m_owner.empty() || m_station.empty())
      GTEST_SKIP() << "run through tests/lab/with_lab_server.sh, which starts the server";
    ASSERT_FALSE(m_scratch.Path().empty());
    // The window is station "w", with a local history of its own.
    for (const char* name : {"XDG_DATA_HOME", "VELMO_STATION", "VELMO_HISTORY"}) {
      const char* value = std::getenv(name);
      m_saved.emplace_back(name,
                           value != nullptr ? std::optional<std::string>(value) : std::nullopt);
    }
    setenv("XDG_DATA_HOME", (m_scratch.Path() + "/w").c_str(), 1);
    setenv("VELMO_STATION", "w", 1);
    setenv("VELMO_HISTORY", m_station.c_str(), 1);
  }
  void TearDown() override {
    WindowTest::TearDown();
    for (const auto& [name, value] : m_saved) {
      if (value) {
        setenv(name.c_str(), value->c_str(), 1);
      } else {
        unsetenv(name.c_str());
      }
    }
  }

  // velmo-cli as station (its own local history), with the lab history url.
  Finished Cli(const std::string& station, const std::string& url,
               const std::vector<std::string>& args) {
    const std::string home = m_scratch.Path() + "/" + station;
    fs::create_directories(home + "/cwd");
    SpawnOptions options;
    options.cwd = home + "/cwd";
    options.env = {"XDG_DATA_HOME=" + home, "VELMO_STATION=" + station, "VELMO_HISTORY=" + url};
    return Child(args, options).Wait();
  }
  // A simulated scan kept by station, then pushed to the lab.
  void ScanAndPush(const std::string& station, const std::string& url = "",
                   const std::string& scenario = "dvd+r-good", int code = 0) {
    const std::string lab = url.empty() ? m_station : url;
    // Kept locally alone (no push of its own in the background), then pushed.
    const Finished scan = Cli(station, "", {"--simulate=" + scenario, "--sim-latency=0", "scan"});
    ASSERT_EQ(scan.code, code) << scan.err;
    const Finished push = Cli(station, lab, {"history", "push"});
    ASSERT_EQ(push.code, 0) << push.err;
  }
  // The runs the lab's server holds, by `history --json` as the owner sees them.
  size_t LabRuns(const std::string& station = "") {
    std::vector<std::string> args = {"history", "--json"};
    if (!station.empty()) args.insert(args.end(), {"--station", station});
    const Finished listed = Cli("owner", m_owner, args);
    EXPECT_EQ(listed.code, 0) << listed.err;
    const auto rows = nlohmann::json::parse(listed.out, nullptr, false);
    return rows.is_array() ? rows.size() : 0;
  }

  CHistoryDlg* OpenHistory() {
    wxMenu* file = m_dialog->GetMenuBar()->GetMenu(0);
    wxCommandEvent event(wxEVT_MENU, file->FindItem("History..."));
    m_dialog->GetEventHandler()->ProcessEvent(event);
    CHistoryDlg* history = m_dialog->HistoryWindow();
    if (history != nullptr) {
      history->Raise();
      WaitFor([&] { return history->IsShownOnScreen(); }, 3000);
      for (int i = 0; i < 5; ++i) Pump();
    }
    return history;
  }
  static void ChooseSource(CHistoryDlg* history, int index) {
    history->SourceChoice()->SetSelection(index);
    wxCommandEvent event(wxEVT_CHOICE, history->SourceChoice()->GetId());
    event.SetInt(index);
    event.SetEventObject(history->SourceChoice());
    history->SourceChoice()->GetEventHandler()->ProcessEvent(event);
    for (int i = 0; i < 3; ++i) Pump();
  }
  static std::multiset<std::string> Stations(CHistoryDlg* history) {
    std::multiset<std::string> stations;
    for (long row = 0; row < history->List()->GetItemCount(); ++row)
      stations.insert(
          history->List()->GetItemText(row, static_cast<int>(HistoryColumn::kHost)).utf8_string());
    return stations;
  }
  // The window as it is on the screen, kept for a person to look at.
  static void Picture(wxWindow* window, const std::string& name) {
    for (int i = 0; i < 10; ++i) Pump();
    const std::optional<WindowImage> image = CaptureWindowImage(window, false);
    ASSERT_TRUE(image.has_value());
    fs::create_directories(velmo_test::ArtefactDir());
    if (wxImage::FindHandler(wxBITMAP_TYPE_PNG) == nullptr) wxImage::AddHandler(new wxPNGHandler);
    wxImage picture(image->width, image->height);
    std::copy(image->rgb.begin(), image->rgb.end(), picture.GetData());
    picture.SaveFile(std::string(velmo_test::ArtefactDir()) + "/" + name, wxBITMAP_TYPE_PNG);
  }

  const std::string m_owner = LabEnvironment("VELMO_TEST_LAB_OWNER");
  const std::string m_station = LabEnvironment("VELMO_TEST_LAB_STATION");
  ScratchFolder m_scratch{"velmo-lab-gui"};
  std::vector<std::pair<std::string, std::optional<std::string>>> m_saved;
};

TEST_F(LabHistoryWindowTest, ReadsEveryStationsRunsAndSendsItsOwn) {
  // The owner's first run makes the tables; stations a and b keep runs and
  // push them.
  ScanAndPush("owner", m_owner);
  ScanAndPush("a");
  ScanAndPush("a");
  ScanAndPush("b", "", "old-firmware", 2);  // a run without a reading
  ASSERT_EQ(LabRuns(), 4u);

  // A run of the window's station kept before the lab was set: it waits.
  const Finished early = Cli("w", "", {"--simulate", "--sim-latency=0", "scan"});
  ASSERT_EQ(early.code, 0) << early.err;

  Open("dvd+r-yuden");
  ASSERT_TRUE(WaitStatus("Ready."));
  ASSERT_EQ(m_dialog->LabHistory().url, m_station);
  CHistoryDlg* history = OpenHistory();
  ASSERT_NE(history, nullptr);
  EXPECT_EQ(history->Where(),
            "Lab history: " + ShownUrl(m_station) +
                " (every station's runs; 1 run of this station waits to be sent)");
  EXPECT_EQ(Stations(history), (std::multiset<std::string>{"a", "a", "b", "owner"}));
  // b's run without a reading comes last by TE, either way round.
  for (const bool ascending : {true, false}) {
    history->List()->SortBy(HistoryColumn::kTe, ascending);
    const std::vector<HistoryEntry> rows = history->Entries();
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_FALSE(rows.back().maxTe) << ascending;
    EXPECT_TRUE(rows.front().maxTe) << ascending;
  }
  history->Close(true);
  for (int i = 0; i < 5; ++i) Pump();

  // A run of the window's own: kept here, then sent to the lab.
  Click(IDC_START);
  ASSERT_TRUE(WaitForOkRun(30000));
  ASSERT_TRUE(WaitFor([&] { return m_dialog->LabPushesEnded() > 0 && LabRuns("w") == 2; }, 20000))
      << m_dialog->LastLabPush().error;
  EXPECT_EQ(m_dialog->LastLabPush().failure, HistoryFailure::kNone)
      << m_dialog->LastLabPush().error;
  EXPECT_EQ(m_dialog->LastLabPush().waiting, 0);

  history = OpenHistory();
  ASSERT_NE(history, nullptr);
  EXPECT_EQ(m_seen.messages.size(), 1u) << "only the run's verdict box";
  EXPECT_EQ(history->Where(), "Lab history: " + ShownUrl(m_station) + " (every station's runs)");
  wxListItem header;
  header.SetMask(wxLIST_MASK_TEXT);
  ASSERT_TRUE(history->List()->GetColumn(static_cast<int>(HistoryColumn::kHost), header));
  EXPECT_EQ(header.GetText(), "Station");
  EXPECT_EQ(Stations(history), (std::multiset<std::string>{"a", "a", "b", "owner", "w", "w"}));
  Picture(history, "lab-history-window.png");

  // Local history: this station's own runs alone.
  ChooseSource(history, 1);
  EXPECT_EQ(history->Where().rfind("Local history: this station's own runs (w)", 0), 0u)
      << history->Where();
  EXPECT_EQ(Stations(history), (std::multiset<std::string>{"w", "w"}));
  ChooseSource(history, 0);
  EXPECT_EQ(Stations(history).size(), 6u);

  // A station may not delete the lab's runs: asked, then refused, nothing gone.
  history->List()->SetItemState(0, wxLIST_STATE_SELECTED, wxLIST_STATE_SELECTED);
  m_seen.confirm = [](const std::string&) { return true; };
  history->DeleteSelected();
  ASSERT_EQ(m_seen.questions.size(), 1u);
  ASSERT_EQ(m_seen.messages.size(), 2u);
  EXPECT_EQ(m_seen.messages[1].rfind("The runs cannot be deleted: ", 0), 0u) << m_seen.messages[1];
  EXPECT_NE(m_seen.messages[1].find("permission denied"), std::string::npos) << m_seen.messages[1];
  EXPECT_EQ(LabRuns(), 6u);
  EXPECT_EQ(Stations(history).size(), 6u);

  // Two of the lab's runs side by side: the comparison says it is the lab's.
  history->List()->SetItemState(0, wxLIST_STATE_SELECTED, wxLIST_STATE_SELECTED);
  history->List()->SetItemState(1, wxLIST_STATE_SELECTED, wxLIST_STATE_SELECTED);
  history->CompareSelected();
  ASSERT_NE(history->LastComparison(), nullptr) << ::testing::PrintToString(m_seen.messages);
  EXPECT_EQ(history->LastComparison()->GetTitle().utf8_string(),
            "Compare runs (lab history " + ShownUrl(m_station) + ")");
}

// A server that is not there: the History window says so in its line, no
// box, and Local history reads the station's runs; a run still ends as
// ever, its push failing in the background with its run waiting.
TEST_F(LabHistoryWindowTest, AServerAwayIsSaidInOneLineAndLocalHistoryIsOffered) {
  const std::string away =
      "postgresql:///velmo?host=" + m_scratch.Path() + "/no-server&user=station1";
  setenv("VELMO_HISTORY", away.c_str(), 1);
  Open("dvd+r-yuden");
  ASSERT_TRUE(WaitStatus("Ready."));
  Click(IDC_START);
  ASSERT_TRUE(WaitForOkRun(30000)) << Status() << ::testing::PrintToString(m_seen.messages);
  // The push at the run's start, then the one after it was kept.
  ASSERT_TRUE(WaitFor([&] { return m_dialog->LabPushesEnded() >= 2; }, 20000));
  EXPECT_EQ(m_dialog->LastLabPush().failure, HistoryFailure::kUnreachable)
      << m_dialog->LastLabPush().error;
  EXPECT_EQ(m_dialog->LastLabPush().waiting, 1);

  CHistoryDlg* history = OpenHistory();
  ASSERT_NE(history, nullptr);
  EXPECT_EQ(m_seen.messages.size(), 1u) << ::testing::PrintToString(m_seen.messages);
  EXPECT_EQ(history->Where().rfind("The lab history cannot be reached; choose Local history for "
                                   "this station's runs (" +
                                       ShownUrl(away) + ": ",
                                   0),
            0u)
      << history->Where();
  Picture(history, "lab-history-away.png");
  EXPECT_EQ(history->List()->GetItemCount(), 0);
  ChooseSource(history, 1);
  EXPECT_EQ(Stations(history), (std::multiset<std::string>{"w"}));
}

}  // namespace
