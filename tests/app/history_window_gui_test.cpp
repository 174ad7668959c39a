// The History and compare windows under a real display, on a history of
// each test's own that velmo-cli (a child process) reads too: the columns
// show their texts whole at the default size, a header click orders the
// rows, each filter keeps the runs velmo-cli's keeps, deleting asks first
// and takes only the runs chosen, and the comparison fits a 768-pixel
// screen, closes from the keyboard and says velmo-cli's differences.
#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <sqlite3.h>
#include <unistd.h>
#include <wx/button.h>
#include <wx/choice.h>
#include <wx/display.h>
#include <wx/image.h>
#include <wx/listctrl.h>
#include <wx/menu.h>
#include <wx/settings.h>
#include <wx/textctrl.h>
#include <wx/uiaction.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "app/compare_dlg.h"
#include "app/history_dlg.h"
#include "app/history_list.h"
#include "app/window_capture.h"
#include "commands/disc_type.h"
#include "history/history.h"
#include "records/run_identity.h"
#include "records/run_record.h"
#include "reports/comparison_rows.h"
#include "tests/app/window_test.h"
#include "tests/cli/cli_process.h"
#include "tests/support/scratch_folder.h"
#include "tests/support/test_paths.h"

namespace fs = std::filesystem;

namespace {

// A DL run, every sample at TE te and FE 200 (over the TE limit 500 above it).
ScanRecord Kept(const std::string& time, const std::string& mid, RunOutcome outcome, uint16_t te,
                const std::string& speed = "8X", const std::string& node = "/dev/sg1") {
  ScanRecord r;
  r.program = "velmo-cli";
  r.programVersion = "1.0.0";
  r.startTime = time;
  r.durationSeconds = 300;
  r.drive = {"VELMO   DVDRW VX-2016   1.02", "VELMO", "DVDRW VX-2016", "1.02", node};
  r.disc = {"DVD+R DL",
            mid,
            std::nullopt,
            "003",
            "8152.0 MB",
            4173823,
            {WriteSpeedOfEntry(" 8X => (11080 Kb/Sec)  ")}};
  r.settings = {speed, 16, "normal", 49152, 500, 450};
  for (int32_t lba = 0; lba < 4173823; lba += 49152)
    r.samples.push_back({lba, lba + 0x30000, lba >= 2086912 ? 1 : 0, te, 200, te <= 500});
  r.outcome = outcome;
  return r;
}

class HistoryWindowTest : public WindowTest {
 protected:
  void SetUp() override {
    ASSERT_FALSE(m_scratch.Path().empty());
    m_savedData = std::getenv("XDG_DATA_HOME") ? std::getenv("XDG_DATA_HOME") : "";
    const char* tz = std::getenv("TZ");
    m_savedTz = tz ? std::optional<std::string>(tz) : std::nullopt;
    // The window (here) and velmo-cli (a child) read one history; times
    // are shown in UTC, whatever this machine's zone.
    setenv("XDG_DATA_HOME", (m_scratch.Path() + "/data").c_str(), 1);
    setenv("TZ", "UTC", 1);
    tzset();
    fs::create_directories(m_scratch.Path() + "/cli");
  }
  void TearDown() override {
    WindowTest::TearDown();
    setenv("XDG_DATA_HOME", m_savedData.c_str(), 1);
    if (m_savedTz) {
      setenv("TZ", m_savedTz->c_str(), 1);
    } else {
      unsetenv("TZ");
    }
    tzset();
  }

  std::vector<int64_t> Keep(const std::vector<ScanRecord>& runs) {
    CHistory history;
    std::string error, notice;
    EXPECT_TRUE(history.Open(DefaultHistoryPath(), &error, &notice)) << error;
    std::vector<int64_t> ids;
    for (const ScanRecord& run : runs) {
      ids.push_back(history.Add(run, &error));
      EXPECT_NE(ids.back(), 0) << error;
    }
    return ids;
  }

  CHistoryDlg* OpenHistory() {
    Open("empty");
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

  static std::vector<int64_t> ListedIds(CHistoryDlg* history) {
    std::vector<int64_t> ids;
    for (const HistoryEntry& e : history->Entries()) ids.push_back(e.id);
    return ids;
  }
  static std::vector<std::string> Column(CHistoryDlg* history, HistoryColumn column) {
    std::vector<std::string> texts;
    for (long row = 0; row < history->List()->GetItemCount(); ++row)
      texts.push_back(history->List()->GetItemText(row, static_cast<int>(column)).utf8_string());
    return texts;
  }
  static void Select(CHistoryDlg* history, const std::vector<int64_t>& ids) {
    const auto& entries = history->Entries();
    for (size_t i = 0; i < entries.size(); ++i) {
      const bool chosen = std::find(ids.begin(), ids.end(), entries[i].id) != ids.end();
      history->List()->SetItemState(static_cast<long>(i), chosen ? wxLIST_STATE_SELECTED : 0,
                                    wxLIST_STATE_SELECTED);
    }
  }

  Finished Cli(const std::vector<std::string>& args) {
    SpawnOptions options;
    options.cwd = m_scratch.Path() + "/cli";
    return Child(args, options).Wait();
  }
  // The ids `velmo-cli history --json ARGS` lists, in its order.
  std::vector<int64_t> CliIds(std::vector<std::string> args) {
    args.insert(args.begin(), {"history", "--json"});
    const Finished done = Cli(args);
    EXPECT_EQ(done.code, 0) << done.err;
    std::vector<int64_t> ids;
    for (const auto& row : nlohmann::json::parse(done.out, nullptr, false))
      ids.push_back(row.at("id").get<int64_t>());
    return ids;
  }

  // A real click on a column's header, long enough after the last one not
  // to make a double click with it.
  static void ClickHeader(wxListCtrl* list, int column) {
    WaitFor([] { return false; }, 600);
    int x = 0;
    for (int c = 0; c < column; ++c) x += list->GetColumnWidth(c);
    const wxPoint at = list->ClientToScreen(wxPoint(x + list->GetColumnWidth(column) / 2, 8));
    wxUIActionSimulator mouse;
    mouse.MouseMove(at);
    Pump();
    mouse.MouseClick();
  }

  // The window as it is on the screen, kept for a person to look at.
  static std::optional<WindowImage> Picture(wxWindow* window, const std::string& name) {
    for (int i = 0; i < 10; ++i) Pump();
    std::optional<WindowImage> image = CaptureWindowImage(window, false);
    if (!image) return image;
    fs::create_directories(velmo_test::ArtefactDir());
    if (wxImage::FindHandler(wxBITMAP_TYPE_PNG) == nullptr) wxImage::AddHandler(new wxPNGHandler);
    wxImage picture(image->width, image->height);
    std::copy(image->rgb.begin(), image->rgb.end(), picture.GetData());
    picture.SaveFile(std::string(velmo_test::ArtefactDir()) + "/" + name, wxBITMAP_TYPE_PNG);
    return image;
  }
  static int PixelsNear(const WindowImage& image, const wxColour& colour) {
    int count = 0;
    for (size_t i = 0; i + 2 < image.rgb.size(); i += 3) {
      if (std::abs(image.rgb[i] - colour.Red()) < 24 &&
          std::abs(image.rgb[i + 1] - colour.Green()) < 24 &&
          std::abs(image.rgb[i + 2] - colour.Blue()) < 24) {
        ++count;
      }
    }
    return count;
  }

  ScratchFolder m_scratch{"velmo-history-gui"};
  std::string m_savedData;
  std::optional<std::string> m_savedTz;
};

// A DL disc that is not recommended, on a drive with a long name: at the
// window's default size every column shows its text whole and FE and Host
// are in view; the time is short and in the local zone; the outcomes in colour.
TEST_F(HistoryWindowTest, ColumnsShowTheirTextsWholeWithFeInView) {
  Keep({Kept("2026-12-08T14:05:30+01:00", "MKM-003-00", RunOutcome::kNotRecommended, 620, "16X"),
        Kept("2026-12-08T15:00:00+01:00", "RICOHJPNR03", RunOutcome::kOk, 300, "2.4X"),
        Kept("2026-12-08T16:00:00+01:00", "CMC MAG-M01", RunOutcome::kFirmwareFailure, 300)});
  CHistoryDlg* history = OpenHistory();
  ASSERT_NE(history, nullptr);
  CHistoryList* list = history->List();
  ASSERT_EQ(list->GetItemCount(), 3);
  EXPECT_EQ(Column(history, HistoryColumn::kTime),
            (std::vector<std::string>{"2026-12-08 15:00", "2026-12-08 14:00", "2026-12-08 13:05"}));
  EXPECT_EQ(Column(history, HistoryColumn::kOutcome),
            (std::vector<std::string>{"firmware failure", "ok", "not recommended"}));
  EXPECT_EQ(Column(history, HistoryColumn::kFe)[2], "200");
  // Where each run was made, as velmo-cli history's last column says.
  const std::string here = LocalHostName().empty() ? "-" : LocalHostName();
  EXPECT_EQ(Column(history, HistoryColumn::kHost), (std::vector<std::string>(3, here)));

  // Whole: the text and the room the list leaves on either side of it.
  for (const HistoryColumn column :
       {HistoryColumn::kId, HistoryColumn::kTime, HistoryColumn::kDisc, HistoryColumn::kMid,
        HistoryColumn::kSpeed, HistoryColumn::kDensity, HistoryColumn::kOutcome, HistoryColumn::kTe,
        HistoryColumn::kFe}) {
    for (long row = 0; row < list->GetItemCount(); ++row) {
      const wxString text = list->GetItemText(row, static_cast<int>(column));
      EXPECT_GE(list->GetColumnWidth(static_cast<int>(column)), list->GetTextExtent(text).x + 8)
          << text;
    }
  }
  const int scrollBar = wxSystemSettings::GetMetric(wxSYS_VSCROLL_X, list);
  EXPECT_LE(list->ColumnsWidth() + scrollBar, list->GetClientSize().x)
      << "the last column (Host) runs past the window";
  EXPECT_LE(history->GetSize().x, 1366);

  const auto image = Picture(history, "history-window.png");
  ASSERT_TRUE(image);
  for (const RunOutcome outcome :
       {RunOutcome::kOk, RunOutcome::kNotRecommended, RunOutcome::kFirmwareFailure}) {
    EXPECT_GT(PixelsNear(*image, CHistoryList::OutcomeColour(outcome)), 3)
        << RunOutcomeName(outcome);
  }
  EXPECT_FALSE(CHistoryList::OutcomeColour(RunOutcome::kAborted).IsOk());
}

// A click on a header orders the rows by that column, numbers as numbers
// (1000 after 300) and times as times (10:00+02:00 before 09:00Z); a
// second click turns the order round, and the chosen run stays chosen. A
// run without a reading comes last by TE or FE, either way round.
TEST_F(HistoryWindowTest, AHeaderClickOrdersTheRows) {
  ScanRecord unread = Kept("2026-12-09T12:00:00Z", "DDD", RunOutcome::kFirmwareFailure, 0, "4X");
  unread.samples.clear();
  const auto ids = Keep({Kept("2026-12-08T09:00:00Z", "AAA", RunOutcome::kOk, 300, "16X"),
                         Kept("2026-12-08T10:00:00+02:00", "BBB", RunOutcome::kOk, 1000, "2.4X"),
                         Kept("2026-12-07T23:00:00Z", "CCC", RunOutcome::kOk, 90, "8X"), unread});
  CHistoryDlg* history = OpenHistory();
  ASSERT_NE(history, nullptr);
  EXPECT_EQ(ListedIds(history),
            (std::vector<int64_t>{ids[3], ids[0], ids[1], ids[2]}));  // newest first
  Select(history, {ids[1]});

  auto clickAndWait = [&](HistoryColumn column, std::vector<int64_t> order) {
    ClickHeader(history->List(), static_cast<int>(column));
    EXPECT_TRUE(WaitFor([&] { return ListedIds(history) == order; }, 3000))
        << "column " << static_cast<int>(column) << "; rows "
        << testing::PrintToString(ListedIds(history));
    EXPECT_EQ(history->List()->SelectedIds(), std::vector<int64_t>{ids[1]});
  };
  clickAndWait(HistoryColumn::kTe, {ids[2], ids[0], ids[1], ids[3]});
  EXPECT_EQ(Column(history, HistoryColumn::kTe),
            (std::vector<std::string>{"90", "300", "1000", "-"}));
  EXPECT_TRUE(history->List()->SortAscending());
  clickAndWait(HistoryColumn::kTe, {ids[1], ids[0], ids[2], ids[3]});
  clickAndWait(HistoryColumn::kFe, {ids[0], ids[1], ids[2], ids[3]});  // ties newest first
  clickAndWait(HistoryColumn::kFe, {ids[0], ids[1], ids[2], ids[3]});
  clickAndWait(HistoryColumn::kTime, {ids[2], ids[1], ids[0], ids[3]});
  clickAndWait(HistoryColumn::kSpeed, {ids[1], ids[3], ids[2], ids[0]});
  clickAndWait(HistoryColumn::kMid, {ids[0], ids[1], ids[2], ids[3]});
  // A new list (a filter) keeps the order chosen.
  std::string error;
  ASSERT_TRUE(history->Reload(&error)) << error;
  EXPECT_EQ(ListedIds(history), (std::vector<int64_t>{ids[0], ids[1], ids[2], ids[3]}));
}

// Each filter of the window, and two at once, keeps the runs `velmo-cli
// history` keeps with the same filter, in the same order.
TEST_F(HistoryWindowTest, EachFilterKeepsTheRunsVelmoCliKeeps) {
  Keep({Kept("2026-12-06T09:00:00Z", "YUDEN000", RunOutcome::kOk, 300),
        Kept("2026-12-07T09:00:00Z", "MCC 03", RunOutcome::kNotRecommended, 600, "16X", "/dev/sg2"),
        Kept("2026-12-08T09:00:00Z", "yuden000", RunOutcome::kTimedOut, 300, "8X", "/dev/sg2"),
        Kept("2026-12-09T09:00:00Z", "MCC 03", RunOutcome::kOk, 280),
        Kept("2026-12-10T09:00:00Z", "50%_OFF", RunOutcome::kAborted, 100)});
  CHistoryDlg* history = OpenHistory();
  ASSERT_NE(history, nullptr);
  ASSERT_EQ(history->List()->GetItemCount(), 5);
  struct Case {
    const char* mid;
    const char* drive;
    int outcome;  // the choice's entry: 0 any, then the outcomes in order
    const char* since;
    std::vector<std::string> cli;
  };
  const int notRecommended = 1 + static_cast<int>(RunOutcome::kNotRecommended);
  const int timedOut = 1 + static_cast<int>(RunOutcome::kTimedOut);
  const Case cases[] = {
      {"yuden", "", 0, "", {"--mid", "yuden"}},
      {"%", "", 0, "", {"--mid", "%"}},
      {"", "sg2", 0, "", {"--drive", "sg2"}},
      {"", "", notRecommended, "", {"--outcome", "not-recommended"}},
      {"", "", 0, "2026-12-08", {"--since", "2026-12-08"}},
      {"", "", 0, "2026-12-08T10:00:00+02:00", {"--since", "2026-12-08T10:00:00+02:00"}},
      {"YUDEN",
       "sg2",
       timedOut,
       "2026-12-07",
       {"--mid", "YUDEN", "--drive", "sg2", "--outcome", "timed-out", "--since", "2026-12-07"}},
  };
  for (const Case& c : cases) {
    history->MidFilter()->SetValue(c.mid);
    history->DriveFilter()->SetValue(c.drive);
    history->OutcomeFilter()->SetSelection(c.outcome);
    history->SinceFilter()->SetValue(c.since);
    std::string error;
    ASSERT_TRUE(history->Reload(&error)) << error;
    const std::vector<int64_t> cli = CliIds(c.cli);
    EXPECT_EQ(ListedIds(history), cli) << c.cli.front() << " " << c.cli.at(1);
    EXPECT_LT(cli.size(), 5u) << "the filter narrows: " << c.cli.front();
  }
  EXPECT_EQ(history->OutcomeFilter()->GetString(notRecommended), "not recommended");

  // What is no date is said, and the list stays as it was.
  const std::vector<int64_t> before = ListedIds(history);
  history->SinceFilter()->SetValue("yesterday");
  wxCommandEvent enter(wxEVT_TEXT_ENTER, history->SinceFilter()->GetId());
  enter.SetEventObject(history->SinceFilter());
  history->SinceFilter()->GetEventHandler()->ProcessEvent(enter);
  ASSERT_FALSE(m_seen.messages.empty());
  EXPECT_EQ(m_seen.messages.back(),
            "Since takes a date (2026-12-08) or a time (2026-12-08T10:00:00+01:00), not "
            "'yesterday'.");
  EXPECT_EQ(ListedIds(history), before);
}

// Delete asks first; "Cancel" leaves every run, "Delete" removes the chosen
// ones only, from the list and from the history velmo-cli reads.
TEST_F(HistoryWindowTest, DeleteAsksAndRemovesOnlyTheChosenRuns) {
  const auto ids = Keep({Kept("2026-12-06T09:00:00Z", "A", RunOutcome::kOk, 300),
                         Kept("2026-12-07T09:00:00Z", "B", RunOutcome::kOk, 300),
                         Kept("2026-12-08T09:00:00Z", "C", RunOutcome::kOk, 300),
                         Kept("2026-12-09T09:00:00Z", "D", RunOutcome::kOk, 300)});
  CHistoryDlg* history = OpenHistory();
  ASSERT_NE(history, nullptr);
  auto pressDelete = [&] {
    wxWindow* button = history->FindWindow(wxID_DELETE);
    ASSERT_NE(button, nullptr);
    wxCommandEvent click(wxEVT_BUTTON, wxID_DELETE);
    click.SetEventObject(button);
    button->GetEventHandler()->ProcessEvent(click);
  };
  pressDelete();
  EXPECT_TRUE(m_seen.questions.empty());
  ASSERT_FALSE(m_seen.messages.empty());
  EXPECT_EQ(m_seen.messages.back(), "Select the runs to delete.");

  Select(history, {ids[0], ids[2]});
  m_seen.confirm = [](const std::string&) { return false; };
  pressDelete();
  ASSERT_EQ(m_seen.questions.size(), 1u);
  EXPECT_EQ(m_seen.questions[0], "Delete 2 runs (#" + std::to_string(ids[0]) + ", #" +
                                     std::to_string(ids[2]) + ") from the history?");
  EXPECT_EQ(history->List()->GetItemCount(), 4);
  EXPECT_EQ(CliIds({}).size(), 4u);

  m_seen.confirm = [](const std::string&) { return true; };
  pressDelete();
  EXPECT_EQ(m_seen.questions.size(), 2u);
  EXPECT_EQ(ListedIds(history), (std::vector<int64_t>{ids[3], ids[1]}));
  EXPECT_EQ(CliIds({}), (std::vector<int64_t>{ids[3], ids[1]}));
  EXPECT_EQ(Cli({"show", std::to_string(ids[0])}).code, 66);

  // One run: named alone.
  Select(history, {ids[3]});
  m_seen.confirm = [](const std::string&) { return false; };
  history->DeleteSelected();
  EXPECT_EQ(m_seen.questions.back(),
            "Delete run #" + std::to_string(ids[3]) + " from the history?");
}

// A history written by a newer Velmo: Delete says why at once, asks nothing
// and changes nothing.
TEST_F(HistoryWindowTest, ANewerHistoryRefusesDelete) {
  const auto ids = Keep({Kept("2026-12-06T09:00:00Z", "A", RunOutcome::kOk, 300)});
  const std::string path = DefaultHistoryPath();
  CHistoryDlg* history = OpenHistory();
  ASSERT_NE(history, nullptr);
  Select(history, ids);
  m_seen.confirm = [](const std::string&) { return true; };

  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  const std::string stamp = "PRAGMA user_version = " + std::to_string(kHistoryVersion + 1);
  ASSERT_EQ(sqlite3_exec(db, stamp.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
  sqlite3_close(db);
  const std::string before = ReadFile(path);
  history->DeleteSelected();
  ASSERT_FALSE(m_seen.messages.empty());
  EXPECT_EQ(m_seen.messages.back(), "The runs cannot be deleted: " + path +
                                        " was written by a newer Velmo (history version " +
                                        std::to_string(kHistoryVersion + 1) +
                                        "; this one reads up to " +
                                        std::to_string(kHistoryVersion) + ")");
  EXPECT_TRUE(m_seen.questions.empty());
  EXPECT_EQ(ReadFile(path), before);
}

// Two runs compared: the window fits a 768-pixel screen with a title bar
// and a panel, shows every row without scrolling, its differences are
// velmo-cli compare's, and Escape, Ctrl+W and Close each close it.
TEST_F(HistoryWindowTest, TheComparisonFitsClosesAndSaysVelmoClisDifferences) {
  const auto ids =
      Keep({Kept("2026-12-07T09:00:00Z", "MKM-003-00", RunOutcome::kOk, 300),
            Kept("2026-12-08T09:00:00Z", "CMC MAG-M01", RunOutcome::kNotRecommended, 620, "16X")});
  CHistoryDlg* history = OpenHistory();
  ASSERT_NE(history, nullptr);
  const std::string earlier = "#" + std::to_string(ids[0]);
  const std::string later = "#" + std::to_string(ids[1]);
  auto compare = [&]() -> CCompareDlg* {
    Select(history, ids);
    history->CompareSelected();
    auto* dialog = dynamic_cast<CCompareDlg*>(history->LastComparison());
    if (dialog != nullptr) {
      dialog->Raise();
      WaitFor([&] { return dialog->IsShownOnScreen(); }, 3000);
      for (int i = 0; i < 5; ++i) Pump();
    }
    return dialog;
  };
  CCompareDlg* dialog = compare();
  ASSERT_NE(dialog, nullptr);
  EXPECT_LE(dialog->GetSize().y, 768 - 30 - 38) << "taller than a 768-pixel screen";
  EXPECT_LE(dialog->GetSize().x, 1280) << "wider than the screen";
  wxListCtrl* table = dialog->Table();
  wxRect last;
  ASSERT_TRUE(table->GetItemRect(table->GetItemCount() - 1, last));
  EXPECT_LE(last.GetBottom(), table->GetClientSize().y) << "the last row needs scrolling";

  // Oldest first, though the list shows the newest first.
  ASSERT_EQ(table->GetColumnCount(), 3);
  wxListItem header;
  header.SetMask(wxLIST_MASK_TEXT);
  ASSERT_TRUE(table->GetColumn(1, header));
  EXPECT_EQ(header.GetText().utf8_string(), earlier);
  const Finished cli = Cli({"compare", earlier.substr(1), later.substr(1)});
  ASSERT_EQ(cli.code, 0) << cli.err;
  EXPECT_NE(cli.out.find("Differences (" + later + " minus " + earlier + "):"), std::string::npos)
      << cli.out;
  int differences = 0;
  for (long row = 0; row < table->GetItemCount(); ++row) {
    const std::string label = table->GetItemText(row, 0).utf8_string();
    for (const char* channel : {"TE", "FE"}) {
      if (label != std::string(channel) + ", " + later + " minus " + earlier) continue;
      ++differences;
      EXPECT_EQ(table->GetItemText(row, 1), "");
      const std::string value = table->GetItemText(row, 2).utf8_string();
      EXPECT_GE(table->GetColumnWidth(2), table->GetTextExtent(value).x + 8) << "cut: " << value;
      EXPECT_NE(cli.out.find("\n  " + std::string(channel) + " " + value + "\n"), std::string::npos)
          << value << " not in\n"
          << cli.out;
    }
    if (label == "TE max / mean / p95") {
      for (int column = 1; column <= 2; ++column) {
        EXPECT_NE(cli.out.find(table->GetItemText(row, column).utf8_string()), std::string::npos);
      }
    }
  }
  EXPECT_EQ(differences, 2);
  Picture(dialog, "compare-window.png");

  // Escape, Ctrl+W and Close: each closes the comparison, not the History.
  wxUIActionSimulator keys;
  keys.MouseMove(dialog->GetScreenRect().GetPosition() + wxPoint(40, 40));
  table->SetFocus();
  keys.Char(WXK_ESCAPE);
  EXPECT_TRUE(WaitFor([&] { return history->LastComparison() == nullptr; }, 3000)) << "Escape";
  dialog = compare();
  ASSERT_NE(dialog, nullptr);
  keys.MouseMove(dialog->GetScreenRect().GetPosition() + wxPoint(40, 40));
  dialog->Table()->SetFocus();
  keys.Char('w', wxMOD_CONTROL);
  EXPECT_TRUE(WaitFor([&] { return history->LastComparison() == nullptr; }, 3000)) << "Ctrl+W";
  dialog = compare();
  ASSERT_NE(dialog, nullptr);
  wxWindow* close = dialog->FindWindow(wxID_CLOSE);
  ASSERT_NE(close, nullptr);
  wxCommandEvent click(wxEVT_BUTTON, wxID_CLOSE);
  click.SetEventObject(close);
  close->GetEventHandler()->ProcessEvent(click);
  EXPECT_TRUE(WaitFor([&] { return history->LastComparison() == nullptr; }, 3000)) << "Close";
  EXPECT_EQ(m_dialog->HistoryWindow(), history);
}

// Eight runs: the table is wider than the screen lets it be, so its row
// labels stand in a list of their own beside it and stay in view while the
// runs scroll; table, labels and the table's scroll bar lie in the window
// and on the screen. Every button's access key, GTK's own Close included,
// is one button's alone.
TEST_F(HistoryWindowTest, EightRunsCompareWithTheirLabelsInViewAndKeysApart) {
  std::vector<ScanRecord> runs;
  const char* mids[] = {"MKM-003-00",  "CMC MAG-M01", "RICOHJPNR03", "MBIPG101 R05",
                        "YUDEN000T02", "OPTODISCR16", "PRODISC R03", "INFOME R20"};
  for (int i = 0; i < 8; ++i) {
    runs.push_back(Kept("2026-12-0" + std::to_string(i + 1) + "T09:00:00Z", mids[i],
                        i % 3 == 0 ? RunOutcome::kNotRecommended : RunOutcome::kOk,
                        static_cast<uint16_t>(200 + 60 * i), i % 2 ? "16X" : "8X"));
    runs.back().disc.manufacturerName = "A maker with a long name, number " + std::to_string(i);
  }
  const auto ids = Keep(runs);
  CHistoryDlg* history = OpenHistory();
  ASSERT_NE(history, nullptr);

  auto accessKeys = [](wxWindow* window) {
    std::vector<guint> keys;
    for (wxWindow* child : window->GetChildren()) {
      if (dynamic_cast<wxButton*>(child) == nullptr) continue;
      std::vector<GtkWidget*> widgets{child->GetHandle()};
      while (!widgets.empty()) {
        GtkWidget* widget = widgets.back();
        widgets.pop_back();
        if (GTK_IS_LABEL(widget)) {
          const guint key = gtk_label_get_mnemonic_keyval(GTK_LABEL(widget));
          if (key != GDK_KEY_VoidSymbol) keys.push_back(gdk_keyval_to_lower(key));
        } else if (GTK_IS_CONTAINER(widget)) {
          GList* children = gtk_container_get_children(GTK_CONTAINER(widget));
          for (GList* at = children; at != nullptr; at = at->next)
            widgets.push_back(GTK_WIDGET(at->data));
          g_list_free(children);
        }
      }
    }
    return keys;
  };
  const std::vector<guint> keys = accessKeys(history);
  EXPECT_GE(keys.size(), 5u);
  EXPECT_EQ(std::set<guint>(keys.begin(), keys.end()).size(), keys.size())
      << "an access key used twice in the History window";

  Select(history, ids);
  history->CompareSelected();
  auto* dialog = dynamic_cast<CCompareDlg*>(history->LastComparison());
  ASSERT_NE(dialog, nullptr);
  dialog->Raise();
  WaitFor([&] { return dialog->IsShownOnScreen(); }, 3000);
  for (int i = 0; i < 5; ++i) Pump();
  wxListCtrl* table = dialog->Table();
  ASSERT_EQ(table->GetColumnCount(), 9);
  wxListCtrl* labels = dialog->RowLabels();
  ASSERT_NE(labels, nullptr) << "the labels scroll away with the runs";
  ASSERT_EQ(labels->GetItemCount(), table->GetItemCount());
  for (long row = 0; row < table->GetItemCount(); ++row)
    EXPECT_EQ(labels->GetItemText(row, 0), table->GetItemText(row, 0)) << row;
  int runsWidth = 0;
  for (int c = 1; c < table->GetColumnCount(); ++c) runsWidth += table->GetColumnWidth(c);
  EXPECT_GT(runsWidth, table->GetClientSize().x) << "eight runs fit: nothing to scroll";

  const wxRect screen = wxDisplay(0u).GetGeometry();
  const wxRect inside(dialog->ClientToScreen(wxPoint(0, 0)), dialog->GetClientSize());
  for (wxWindow* part : {static_cast<wxWindow*>(labels), static_cast<wxWindow*>(table)}) {
    const wxRect at = part->GetScreenRect();
    EXPECT_TRUE(inside.Contains(at)) << "cut by the window";
    EXPECT_TRUE(screen.Contains(at)) << "off the screen";
  }
  Picture(dialog, "compare-8-runs.png");
  const std::vector<guint> closeKey = accessKeys(dialog);
  EXPECT_EQ(closeKey.size(), 1u);
}

// A scan and a Smart Scan are not compared: the window says why and opens
// no comparison, as velmo-cli compare refuses them.
TEST_F(HistoryWindowTest, AScanAndASmartScanAreNotCompared) {
  ScanRecord smart = Kept("2026-12-08T09:00:00Z", "MKM-003-00", RunOutcome::kOk, 300);
  smart.kind = RecordKind::kSmart;
  smart.samples.clear();
  smart.settings = {"", 0, kSmartDensity, 0, 500, 450};
  smart.rows = {{"8X", 16, 300, 200, kSmartRowOk}};
  const auto ids = Keep({Kept("2026-12-07T09:00:00Z", "MKM-003-00", RunOutcome::kOk, 300), smart});
  CHistoryDlg* history = OpenHistory();
  ASSERT_NE(history, nullptr);
  Select(history, ids);
  history->CompareSelected();
  EXPECT_EQ(history->LastComparison(), nullptr);
  ASSERT_FALSE(m_seen.messages.empty());
  EXPECT_EQ(m_seen.messages.back(), "Run #" + std::to_string(ids[0]) + " is a scan and Run #" +
                                        std::to_string(ids[1]) +
                                        " is a Smart Scan: runs of one kind only are compared "
                                        "(scans with scans, Smart Scans with Smart Scans).");
  const Finished cli = Cli({"compare", std::to_string(ids[0]), std::to_string(ids[1])});
  EXPECT_EQ(cli.code, 64);
  EXPECT_NE(cli.err.find("runs of one kind only are compared"), std::string::npos) << cli.err;
}

// A skipped disc's entry is listed, and Open, Compare and Export each say
// why it has nothing to give rather than open, compare or report it.
TEST_F(HistoryWindowTest, ASkippedDiscIsListedButNeverOpenedComparedOrReported) {
  RunStart start;
  start.program = "velmo";
  start.startTime = "2026-12-08T10:00:00Z";
  start.disc = RecordDiscOf("Not Support.", "N/A", "N/A", "N/A", 0, {"N/A"});
  start.discType = kDiscDvdRom;
  const auto ids = Keep({Kept("2026-12-07T09:00:00Z", "MKM-003-00", RunOutcome::kOk, 300),
                         SkippedDiscRecord(start, "the test does not take this type of disc")});
  CHistoryDlg* history = OpenHistory();
  ASSERT_NE(history, nullptr);
  EXPECT_EQ(Column(history, HistoryColumn::kOutcome).front(), "skipped");
  EXPECT_EQ(Column(history, HistoryColumn::kDisc).front(), "DVD-ROM");
  const std::string why = "Run #" + std::to_string(ids[1]) +
                          " is a skipped disc (the test does not take this type of disc): "
                          "nothing was run on it;";
  const struct {
    void (CHistoryDlg::*action)();
    std::vector<int64_t> selected;
    std::string says;
  } actions[] = {
      {&CHistoryDlg::OpenSelected, {ids[1]}, why + " there is nothing to show."},
      {&CHistoryDlg::CompareSelected, ids, why + " select runs with readings."},
      {&CHistoryDlg::ExportSelected, ids, why + " select runs with readings."},
  };
  for (const auto& a : actions) {
    Select(history, a.selected);
    const size_t said = m_seen.messages.size();
    (history->*a.action)();
    ASSERT_EQ(m_seen.messages.size(), said + 1) << a.says;
    EXPECT_EQ(m_seen.messages.back(), a.says);
  }
  EXPECT_EQ(history->LastComparison(), nullptr);
}

}  // namespace
