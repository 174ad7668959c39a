// The test console on the simulator under a real display: start-up, the
// media poll and identification, drive changes, the status colour, and the
// scan run's START / STOP / close paths. Prompts are answered by a recorder,
// so message boxes and the drive notice are seen without a person.
#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <wx/app.h>
#include <wx/bitmap.h>
#include <wx/checkbox.h>
#include <wx/choice.h>
#include <wx/dcclient.h>
#include <wx/dcmemory.h>
#include <wx/gauge.h>
#include <wx/init.h>
#include <wx/listctrl.h>
#include <wx/log.h>
#include <wx/uiaction.h>

#include <sys/stat.h>
#include <unistd.h>
#include <wx/gtk/print.h>
#include <wx/print.h>
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "app/command_ids.h"
#include "app/dialog_layout.h"
#include "app/hyper_link.h"
#include "app/log_printout.h"
#include "app/scan_dlg.h"
#include "app/sunken_text.h"
#include "app/window_capture.h"
#include "chart/graph_ctrl.h"
#include "links/manual_address.h"
#include "res/resource_ids.h"
#include "simulator/sim_disc_catalogue.h"
#include "simulator/sim_drive.h"
#include "tests/app/window_test.h"
#include "tests/support/read_only_folder.h"
#include "tests/support/test_paths.h"

namespace {

int CountLines(const std::string& text) {
  int lines = 0;
  for (size_t at = text.find("\r\n"); at != std::string::npos; at = text.find("\r\n", at + 2))
    ++lines;
  return lines;
}

class ScanDlgTest : public WindowTest {};

TEST_F(ScanDlgTest, IdentifiesTheSimulatedDiscAndEnablesTheRun) {
  // The disc lands well after the window is up, however slowly a sanitizer
  // build on a busy machine opens it.
  Open("dvd+r-good", 0, false, 6000);
  ASSERT_TRUE(m_opened);
  EXPECT_TRUE(m_dialog->DiagMode());
  EXPECT_TRUE(m_dialog->Polling());
  EXPECT_EQ(Choice(IDC_DRIVE)->GetCount(), 2u);
  EXPECT_EQ(Choice(IDC_DENSITY)->GetString(0), "Normal (Default)");
  EXPECT_EQ(Text(IDC_TE_LEGEND), "---");
  EXPECT_EQ(Text(IDC_FE_LEGEND), "---");
  // Before the disc lands.
  EXPECT_EQ(Text(IDC_DISC_TYPE), "N/A");
  EXPECT_FALSE(Enabled(IDC_START));

  ASSERT_TRUE(WaitStatus("Ready.", 20000));
  EXPECT_EQ(Text(IDC_DISC_TYPE), "DVD+R");
  EXPECT_EQ(Text(IDC_MANUFACTURER_ID), "NOVADISC");
  EXPECT_EQ(Text(IDC_MEDIA_TYPE_ID), "R16");
  EXPECT_EQ(Text(IDC_CAPACITY), "4076.0 MB");
  wxChoice* speeds = Choice(IDC_SPEED);
  ASSERT_GE(speeds->GetCount(), 2u);
  EXPECT_EQ(speeds->GetSelection(), 0);
  // The entry formats keep their blanks.
  EXPECT_EQ(speeds->GetString(0), "12X => (16620 Kb/Sec)  ");
  EXPECT_EQ(speeds->GetString(speeds->GetCount() - 1), "2.4X => ( 3324 Kb/Sec)  ");
  EXPECT_TRUE(Enabled(IDC_START));
  EXPECT_FALSE(Enabled(IDC_STOP));
  EXPECT_TRUE(Enabled(IDC_SMART_SCAN));
  EXPECT_TRUE(Enabled(IDC_TE_CHECK));
  EXPECT_TRUE(Enabled(IDC_FE_CHECK));
  EXPECT_TRUE(m_seen.messages.empty());
  EXPECT_EQ(m_seen.notices, 0);
}

TEST_F(ScanDlgTest, RefusingDriveShowsTheNoticeAndIsNotPolled) {
  Open("dvd+r-good");
  ASSERT_TRUE(WaitStatus("Ready."));
  Choose(IDC_DRIVE, 1);
  EXPECT_EQ(m_seen.notices, 1);
  EXPECT_FALSE(m_dialog->DiagMode());
  EXPECT_FALSE(m_dialog->Polling());
  EXPECT_EQ(Text(IDC_DISC_TYPE), "N/A");
  EXPECT_EQ(Text(IDC_STATUS), "Please insert blank disc...");
  EXPECT_FALSE(Enabled(IDC_START));
  const int polls = m_dialog->PollsStarted();
  WaitFor([] { return false; }, 1500);
  EXPECT_EQ(m_dialog->PollsStarted(), polls);
  EXPECT_EQ(Text(IDC_STATUS), "Please insert blank disc...");

  // Back to the supported drive: polled and identified again, no notice.
  Choose(IDC_DRIVE, 0);
  EXPECT_EQ(m_seen.notices, 1);
  EXPECT_TRUE(WaitStatus("Ready."));
}

TEST_F(ScanDlgTest, EjectResetsTheDiscFieldsAndInsertIdentifiesAgain) {
  Open("dvd+r-good");
  ASSERT_TRUE(WaitStatus("Ready."));
  SimDrive(0).Eject();
  ASSERT_TRUE(WaitStatus("Please insert blank disc..."));
  for (int id : {IDC_DISC_TYPE, IDC_MANUFACTURER_ID, IDC_MEDIA_TYPE_ID, IDC_CAPACITY}) {
    EXPECT_EQ(Text(id), "N/A") << id;
  }
  EXPECT_EQ(Choice(IDC_SPEED)->GetCount(), 1u);
  EXPECT_EQ(Choice(IDC_SPEED)->GetString(0), "N/A");
  EXPECT_FALSE(Enabled(IDC_START));
  EXPECT_FALSE(Enabled(IDC_SMART_SCAN));

  const SimDisc* dvdMinusR = FindSimDisc("dvd-r-magnat");
  ASSERT_NE(dvdMinusR, nullptr);
  SimDrive(0).InsertDisc(*dvdMinusR);
  ASSERT_TRUE(WaitStatus("Ready."));
  EXPECT_EQ(Text(IDC_DISC_TYPE), "DVD-R");
  EXPECT_NE(Text(IDC_MANUFACTURER_ID), "NOVADISC");
}

TEST_F(ScanDlgTest, UnsupportedDiscIsNotRunnable) {
  Open("dvd+rw");
  ASSERT_TRUE(WaitStatus("Not support for this disc."));
  EXPECT_EQ(Text(IDC_DISC_TYPE), "Not Support.");
  EXPECT_FALSE(Enabled(IDC_START));
  // Identified once: the status is not reset while the disc stays.
  WaitFor([] { return false; }, 1300);
  EXPECT_EQ(Text(IDC_STATUS), "Not support for this disc.");
}

TEST_F(ScanDlgTest, NoDriveLeavesNothingToRun) {
  Open("no-drive");
  EXPECT_FALSE(m_opened);
  ASSERT_EQ(m_seen.messages.size(), 1u);
  EXPECT_EQ(m_seen.messages[0], "No Device found!");
  EXPECT_EQ(m_dialog->Graph(), nullptr);
  EXPECT_FALSE(Enabled(IDC_START));
  Click(IDC_START);
  Pump();
  EXPECT_EQ(m_dialog->ScanWorker(), nullptr);
}

TEST_F(ScanDlgTest, StatusColourLastsOnePainting) {
  Open("empty");
  ASSERT_TRUE(WaitStatus("Please insert blank disc..."));
  m_dialog->Layout().Control(IDC_STATUS)->Show();
  auto* status = m_dialog->Layout().Get<CSunkenText>(IDC_STATUS);
  auto repaint = [&] {
    const int before = status->Paintings();
    status->Refresh();
    status->Update();
    WaitFor([&] { return status->Paintings() > before; }, 2000);
    WaitFor([] { return false; }, 100);
  };
  m_dialog->SetStatusColor(255);
  repaint();
  EXPECT_GT(RedPixels(status), 10);
  repaint();
  EXPECT_EQ(RedPixels(status), 0);
}

// A status wider than its line keeps its beginning and ends in "…", the
// whole text in its tooltip; one that fits is shown whole, without a tip.
TEST_F(ScanDlgTest, AStatusTooLongForItsLineIsShortenedAtItsEnd) {
  Open("empty");
  ASSERT_TRUE(WaitStatus("Please insert blank disc..."));
  auto* status = m_dialog->Layout().Get<CSunkenText>(IDC_STATUS);
  const wxString whole = wxString::FromUTF8(
      "Recorded run: Smart Scan: 16X not recommended; 12X not recommended; 10X ok; 8X ok; 6X ok; "
      "4X ok; 2.4X ok. Fit for writing up to 10X.");
  wxClientDC dc(status);
  dc.SetFont(status->GetFont());
  ASSERT_GT(dc.GetTextExtent(whole).x, status->GetClientSize().x);
  status->SetLabel(whole);
  const wxString shown = status->ShownText();
  EXPECT_TRUE(shown.EndsWith(wxString::FromUTF8("…"))) << shown;
  EXPECT_TRUE(whole.StartsWith(shown.Left(shown.length() - 1))) << shown;
  EXPECT_LE(dc.GetTextExtent(shown).x, status->GetClientSize().x - 2);
  EXPECT_EQ(status->GetToolTipText(), whole);
  status->SetLabel("Ready.");
  EXPECT_EQ(status->ShownText(), "Ready.");
  EXPECT_EQ(status->GetToolTipText(), "");
}

TEST_F(ScanDlgTest, ScanRunsToItsVerdictAndWritesTheLog) {
  Open("dvd+r-good");
  ASSERT_TRUE(WaitStatus("Ready."));
  std::remove("TEFE.txt");
  Click(IDC_START);
  Click(IDC_START);  // before the worker disabled START: no second run
  ASSERT_TRUE(WaitFor([&] { return !m_seen.messages.empty(); }, 30000));
  EXPECT_EQ(m_seen.messages[0], "This disc is ok for writing under this speed setting.");
  ASSERT_TRUE(WaitStatus("This disc is ok for writing under this speed setting."));
  EXPECT_TRUE(WaitFor([&] { return Enabled(IDC_START) && !Enabled(IDC_STOP); }));
  EXPECT_FALSE(m_dialog->Scanning());
  const std::string log = ReadFile("TEFE.txt");
  EXPECT_EQ(CountLines(log), 1 + 58);
  EXPECT_EQ(m_seen.messages.size(), 1u);
  EXPECT_NE(Text(IDC_ELAPSED).find(" seconds"), std::string::npos);
}

TEST_F(ScanDlgTest, StopShowsTheAbortAtOnceAndKeepsWholeLines) {
  Open("dvd+r-good", 100);
  ASSERT_TRUE(WaitStatus("Ready."));
  std::remove("TEFE.txt");
  Click(IDC_START);
  ASSERT_TRUE(WaitStatus("Testing..."));
  ASSERT_TRUE(WaitFor([] { return CountLines(ReadFile("TEFE.txt")) >= 3; }));
  // The run's progress leads the title, counted as velmo-cli counts it; the
  // status line keeps "Testing...".
  const std::regex progress("([0-9]+)% \\(([0-9]+)/58, ([0-9]+:[0-9]{2}|--:--) left\\) - " +
                            std::string(kScanDialogTemplate.title));
  std::smatch shown;
  std::string title;
  ASSERT_TRUE(WaitFor([&] {
    title = m_dialog->GetTitle().utf8_string();
    return std::regex_match(title, shown, progress) && std::stoi(shown[2]) >= 2;
  })) << title;
  EXPECT_EQ(std::stoi(shown[1]), std::stoi(shown[2]) * 100 / 58) << title;
  EXPECT_EQ(Text(IDC_STATUS), "Testing...");
  Click(IDC_STOP);
  EXPECT_EQ(m_dialog->GetTitle().utf8_string(), kScanDialogTemplate.title);
  EXPECT_EQ(Text(IDC_STATUS), "User abort!");
  EXPECT_TRUE(Enabled(IDC_START));
  EXPECT_FALSE(Enabled(IDC_STOP));
  EXPECT_FALSE(m_dialog->Scanning());
  // The stopped worker ends after its pending sample and writes no more.
  ASSERT_TRUE(WaitFor([&] { return m_dialog->StoppedScans() == 0; }));
  const std::string log = ReadFile("TEFE.txt");
  WaitFor([] { return false; }, 400);
  EXPECT_EQ(ReadFile("TEFE.txt"), log);
  EXPECT_EQ(log.substr(log.size() - 2), "\r\n");
  EXPECT_LT(CountLines(log), 1 + 58);
  EXPECT_TRUE(m_seen.messages.empty());
  EXPECT_EQ(Text(IDC_STATUS), "User abort!");

  // The window is usable afterwards: a new run starts and empties the log.
  SimDrive(0).SetSampleLatency(std::chrono::milliseconds(0));
  Click(IDC_START);
  ASSERT_TRUE(WaitFor([&] { return !m_seen.messages.empty(); }, 30000));
  EXPECT_EQ(CountLines(ReadFile("TEFE.txt")), 1 + 58);
}

TEST_F(ScanDlgTest, StopDuringAHungSampleDoesNotWaitForIt) {
  Open("dvd+r-good", 0);
  ASSERT_TRUE(WaitStatus("Ready."));
  SimDrive(0).SetSampleLatency(std::chrono::milliseconds(20000));
  Click(IDC_START);
  ASSERT_TRUE(WaitStatus("Testing..."));
  const auto before = std::chrono::steady_clock::now();
  Click(IDC_STOP);
  EXPECT_EQ(Text(IDC_STATUS), "User abort!");
  EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(2));
  // Closing joins the stopped worker: the simulator wakes its pending
  // sample when the tray changes.
  SimDrive(0).Eject();
}

TEST_F(ScanDlgTest, FirmwareFailureStopsTheRunInRed) {
  Open("old-firmware");
  ASSERT_TRUE(WaitStatus("Ready."));
  // While the firmware box is up the run still counts as going on (the poll
  // stays away), through several poll ticks.
  std::vector<bool> scanningWhileShown;
  m_seen.whileShown = [&](const std::string&) {
    scanningWhileShown.push_back(m_dialog->Scanning());
    WaitFor([] { return false; }, 1500);
    scanningWhileShown.push_back(m_dialog->Scanning());
    scanningWhileShown.push_back(Enabled(IDC_START));
  };
  Click(IDC_START);
  ASSERT_TRUE(WaitStatus("Firmware not supported."));
  ASSERT_EQ(m_seen.messages.size(), 1u);
  EXPECT_EQ(m_seen.messages[0], "Firmware not supported.Please flash to latest version.");
  EXPECT_TRUE(Enabled(IDC_START));
  EXPECT_FALSE(Enabled(IDC_STOP));
  EXPECT_EQ(CountLines(ReadFile("TEFE.txt")), 1);
  EXPECT_EQ(scanningWhileShown, (std::vector<bool>{true, true, false}));
  EXPECT_TRUE(WaitFor([&] { return !m_dialog->Scanning(); }));
}

// START and STOP disable themselves when pressed; the focus goes on to the
// next enabled control, so the window's keys still reach it.
TEST_F(ScanDlgTest, FocusLeavesADisabledButtonForTheNextEnabledOne) {
  Open("dvd+r-good", 100);
  ASSERT_TRUE(WaitStatus("Ready."));
  m_dialog->Raise();
  wxWindow* start = m_dialog->Layout().Control(IDC_START);
  wxWindow* stop = m_dialog->Layout().Control(IDC_STOP);
  start->SetFocus();
  ASSERT_TRUE(WaitFor([&] { return wxWindow::FindFocus() == start; }, 3000));
  Click(IDC_START);
  ASSERT_TRUE(WaitStatus("Testing..."));
  EXPECT_FALSE(Enabled(IDC_START));
  wxWindow* focus = wxWindow::FindFocus();
  ASSERT_NE(focus, nullptr);
  EXPECT_EQ(focus, stop);  // the next one in tab order
  EXPECT_TRUE(focus->IsEnabled());
  EXPECT_EQ(wxGetTopLevelParent(focus), m_dialog);

  Click(IDC_STOP);
  EXPECT_EQ(Text(IDC_STATUS), "User abort!");
  focus = wxWindow::FindFocus();
  ASSERT_NE(focus, nullptr);
  EXPECT_NE(focus, stop);
  EXPECT_TRUE(focus->IsEnabled());
  EXPECT_EQ(wxGetTopLevelParent(focus), m_dialog);

  // Ctrl+P still reaches the window from there.
  int printed = 0;
  m_seen.print = [&](wxPrintout&, wxPrintDialogData&) { ++printed; };
  wxUIActionSimulator keys;
  keys.Char('p', wxMOD_CONTROL);
  EXPECT_TRUE(WaitFor([&] { return printed == 1; }, 3000));
  SimDrive(0).Eject();
}

// Dialog units come from the template's font at 96 dpi, whatever the desktop
// says, so the main window keeps the template's proportions and fits a
// 768-pixel screen with a title bar and a panel.
TEST_F(ScanDlgTest, TheWindowFitsA768PixelScreen) {
  const wxSize base = DialogBaseUnits("Arial", 9);
  GtkSettings* settings = gtk_settings_get_default();
  gint savedDpi = 0;
  g_object_get(settings, "gtk-xft-dpi", &savedDpi, nullptr);
  for (int dpi : {96, 120, 144}) {
    g_object_set(settings, "gtk-xft-dpi", dpi * 1024, nullptr);
    EXPECT_EQ(DialogBaseUnits("Arial", 9), base) << dpi;
  }
  g_object_set(settings, "gtk-xft-dpi", savedDpi, nullptr);
  // 9 pt at 96 dpi is a 12-pixel em: letters about 7 pixels wide on average,
  // 14 or 15 pixels from ascent to descent.
  EXPECT_EQ(base.x, 7);
  EXPECT_GE(base.y, 14);
  EXPECT_LE(base.y, 15);

  Open("empty");
  const wxSize client = m_dialog->GetClientSize();
  EXPECT_EQ(client, wxSize((259 * base.x + 2) / 4, (349 * base.y + 4) / 8));
  EXPECT_GE(client.y, 600);
  // The frame's own size holds the menu bar; a title bar adds about 30.
  EXPECT_LE(m_dialog->GetSize().y + 30, 700);
  const double proportion = double(client.x) / client.y;
  EXPECT_NEAR(proportion, (259.0 * base.x / 4) / (349.0 * base.y / 8), 0.01);
}

// Every entry of the three lists shows whole: GTK cuts a closed list's text
// with an ellipsis when the box is narrower than the text wants.
TEST_F(ScanDlgTest, ListEntriesShowWhole) {
  Open("dvd+r-good");
  ASSERT_TRUE(WaitStatus("Ready."));
  for (int i = 0; i < 5; ++i) Pump();
  for (int id : {IDC_DRIVE, IDC_SPEED, IDC_DENSITY}) {
    wxChoice* list = Choice(id);
    ASSERT_GT(list->GetCount(), 0u) << id;
    for (unsigned entry = 0; entry < list->GetCount(); ++entry) {
      list->SetSelection(static_cast<int>(entry));
      for (int i = 0; i < 3; ++i) Pump();
      GtkWidget* shown = gtk_bin_get_child(GTK_BIN(list->GetHandle()));
      ASSERT_NE(shown, nullptr);
      gint minimum = 0, natural = 0;
      gtk_widget_get_preferred_width(shown, &minimum, &natural);
      EXPECT_GE(gtk_widget_get_allocated_width(shown), natural)
          << id << ": " << list->GetString(entry).ToStdString();
    }
  }
}

// The chart's client area as the screen shows it (frame, theme and all) is
// exactly the composed layers, corners included.
TEST_F(ScanDlgTest, TheScreenShowsExactlyTheChartLayers) {
  Open("dvd+r-good");
  ASSERT_TRUE(WaitStatus("Ready."));
  CGraphCtrl* graph = m_dialog->Graph();
  ASSERT_NE(graph, nullptr);
  m_dialog->Raise();
  std::string difference = "never shown";
  WaitFor(
      [&] {
        // Read from the root window at the client area's place on the screen.
        const wxPoint at = graph->ClientToScreen(wxPoint(0, 0));
        const wxSize size = graph->GetClientSize();
        const CSurface layers = graph->Model().Compose();
        GdkPixbuf* shown =
            gdk_pixbuf_get_from_window(gdk_get_default_root_window(), at.x, at.y, size.x, size.y);
        if (shown == nullptr || size.x != layers.Width() || size.y != layers.Height()) {
          if (shown != nullptr) g_object_unref(shown);
          difference = "size";
          return false;
        }
        const int channels = gdk_pixbuf_get_n_channels(shown);
        const int stride = gdk_pixbuf_get_rowstride(shown);
        const guchar* pixels = gdk_pixbuf_get_pixels(shown);
        std::unique_ptr<GdkPixbuf, void (*)(gpointer)> hold(shown, g_object_unref);
        for (int y = 0; y < layers.Height(); ++y) {
          for (int x = 0; x < layers.Width(); ++x) {
            const uint8_t* p = pixels + size_t(y) * stride + x * channels;
            if (Rgb(p[0], p[1], p[2]) != layers.GetPixel(x, y)) {
              char text[96];
              std::snprintf(text, sizeof text, "at %d,%d: screen %06X, layers %06X", x, y,
                            Rgb(p[0], p[1], p[2]), layers.GetPixel(x, y));
              difference = text;
              return false;
            }
          }
        }
        difference.clear();
        return true;
      },
      5000);
  EXPECT_EQ(difference, "");
}

// A refused ASPI time-out is said in a box for every command. A worker's
// box is modal for it: the worker waits until the user has closed it, so
// its next command (and next box) comes only then.
TEST_F(ScanDlgTest, AspiTimeoutBoxFromAWorkerIsWaitedFor) {
  int depth = 0, deepest = 0, workerBoxes = 0;
  bool opened = false;
  m_seen.whileShown = [&](const std::string& text) {
    EXPECT_EQ(text, "Set ASPI timeout fail!!");
    ++depth;
    deepest = std::max(deepest, depth);
    // The user reads the first boxes of the poll worker for a while,
    // longer than a poll tick.
    if (opened && ++workerBoxes <= 3) WaitFor([] { return false; }, 800);
    --depth;
  };
  Open("aspi-timeout-refused", 0, true);
  ASSERT_TRUE(m_opened);
  opened = true;
  ASSERT_TRUE(WaitStatus("Ready."));
  EXPECT_GE(workerBoxes, 4);
  EXPECT_EQ(deepest, 1);
  m_seen.whileShown = nullptr;
}

// Closing the window while a worker waits for its box: the close releases
// it, and nothing waits for anything.
TEST_F(ScanDlgTest, ClosingReleasesAWorkerWaitingForABox) {
  bool opened = false;
  bool closed = false;
  m_seen.whileShown = [&](const std::string&) {
    if (!opened || closed) return;
    closed = true;
    m_dialog->Close(true);
  };
  Open("aspi-timeout-refused", 0, true);
  opened = true;
  const auto before = std::chrono::steady_clock::now();
  ASSERT_TRUE(WaitFor([&] { return closed; }, 5000));
  m_dialog = nullptr;
  for (int i = 0; i < 5; ++i) Pump();
  EXPECT_EQ(g_pDeviceManager, nullptr);
  EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(4));
  m_seen.whileShown = nullptr;
}

TEST_F(ScanDlgTest, CloseDuringARunStopsAndJoinsIt) {
  Open("dvd+r-good", 200);
  ASSERT_TRUE(WaitStatus("Ready."));
  Click(IDC_START);
  ASSERT_TRUE(WaitStatus("Testing..."));
  m_dialog->Close(true);
  m_dialog = nullptr;
  for (int i = 0; i < 5; ++i) Pump();
  EXPECT_EQ(g_pDeviceManager, nullptr);
}

TEST_F(ScanDlgTest, SlowDriveDoesNotPileUpPolls) {
  Open("empty");
  SimDrive(0).SetCommandLatency(std::chrono::milliseconds(1500));
  WaitFor([] { return false; }, 4000);
  EXPECT_GT(m_dialog->PollsSkipped(), 0);
  EXPECT_LE(m_dialog->PollsStarted(), 4);
  SimDrive(0).SetCommandLatency(std::chrono::milliseconds(0));
}

std::vector<std::string> Rows(wxListCtrl* list, int column) {
  std::vector<std::string> texts;
  for (int i = 0; i < list->GetItemCount(); ++i)
    texts.push_back(list->GetItemText(i, column).utf8_string());
  return texts;
}

TEST_F(ScanDlgTest, SmartScanGivesOneVerdictPerSpeed) {
  Open("dvd+r-marginal");
  ASSERT_TRUE(WaitStatus("Ready."));
  std::vector<std::string> labels, results;
  std::string discType, capacity;
  int progress = -1;
  bool fitsRows = false;
  int selected = 0;
  wxColour inRow, besideRow;
  m_seen.smartDialog = [&](CSmartModeDlg& smart) {
    smart.Show();
    ASSERT_TRUE(WaitFor([&] { return !smart.WorkerRunning(); }));
    WaitFor([&] { return smart.Progress()->GetValue() == smart.ResultList()->GetItemCount(); },
            2000);
    labels = Rows(smart.ResultList(), 0);
    results = Rows(smart.ResultList(), 1);
    discType = smart.Layout().Control(IDC_DISC_TYPE)->GetLabel().utf8_string();
    capacity = smart.Layout().Control(IDC_CAPACITY)->GetLabel().utf8_string();
    progress = smart.Progress()->GetValue();
    // Every row in sight without scrolling, none selected, and the rows in
    // the list's own colour: nothing sets them apart as a selection would.
    wxListCtrl* list = smart.ResultList();
    WaitFor([] { return false; }, 300);
    fitsRows = list->GetCountPerPage() >= list->GetItemCount() && list->GetTopItem() == 0;
    for (int i = 0; i < list->GetItemCount(); ++i) {
      selected += list->GetItemState(i, wxLIST_STATE_SELECTED) != 0;
    }
    wxRect row;
    if (list->GetItemRect(1, row) &&
        list->GetColumnWidth(0) + list->GetColumnWidth(1) + 8 < list->GetClientSize().x) {
      const std::optional<WindowImage> image = CaptureWindowImage(list, false);
      const int y = row.y + row.height / 2;
      auto at = [&](int x) {
        const uint8_t* p = &image->rgb[(size_t(y) * image->width + x) * 3];
        return wxColour(p[0], p[1], p[2]);
      };
      if (image && y < image->height) {
        const int columns = list->GetColumnWidth(0) + list->GetColumnWidth(1);
        inRow = at(columns - 4);
        besideRow = at(columns + 6);
      }
    }
    smart.OnCancel();
  };
  Click(IDC_SMART_SCAN);
  EXPECT_EQ(discType, "DVD+R");
  EXPECT_EQ(capacity, Text(IDC_CAPACITY));
  ASSERT_EQ(labels.size(), Choice(IDC_SPEED)->GetCount());
  for (size_t i = 0; i < labels.size(); ++i) {
    // The row label is the speed list entry's multiple.
    const std::string entry = Choice(IDC_SPEED)->GetString(i).utf8_string();
    EXPECT_EQ(entry.find(labels[i] + " =>") != std::string::npos, true)
        << entry << " / " << labels[i];
  }
  EXPECT_EQ(progress, static_cast<int>(labels.size()));
  // The marginal disc fails only at its top speeds.
  EXPECT_EQ(results.back(), "OK.");
  EXPECT_NE(std::find(results.begin(), results.end(), "Not recommended."), results.end());
  EXPECT_EQ(m_dialog->StoppedSmartScans(), 0);
  EXPECT_EQ(labels.size(), 7u);
  EXPECT_TRUE(fitsRows);
  EXPECT_EQ(selected, 0);
  ASSERT_TRUE(inRow.IsOk());
  EXPECT_EQ(inRow, wxColour(139, 179, 222));
  EXPECT_EQ(besideRow, inRow);
}

TEST_F(ScanDlgTest, SmartScanExitDoesNotWaitForAPendingSample) {
  Open("dvd+r-good");
  ASSERT_TRUE(WaitStatus("Ready."));
  SimDrive(0).SetSampleLatency(std::chrono::milliseconds(20000));
  std::vector<std::string> results;
  std::chrono::steady_clock::duration took{};
  m_seen.smartDialog = [&](CSmartModeDlg& smart) {
    smart.Show();
    ASSERT_TRUE(WaitFor([&] { return Rows(smart.ResultList(), 1)[0] == "Testing..."; }));
    const auto before = std::chrono::steady_clock::now();
    smart.OnCancel();
    took = std::chrono::steady_clock::now() - before;
    WaitFor([] { return false; }, 200);
    results = Rows(smart.ResultList(), 1);
  };
  Click(IDC_SMART_SCAN);
  EXPECT_LT(took, std::chrono::seconds(2));
  EXPECT_EQ(results[0], "Testing...");
  EXPECT_EQ(m_dialog->StoppedSmartScans(), 1);
  // The drive answers once the tray changes; the main window reaps it.
  SimDrive(0).Eject();
  EXPECT_TRUE(WaitFor([&] { return m_dialog->StoppedSmartScans() == 0; }));
}

bool IsBmp(const std::string& path, int minWidth, int minHeight) {
  const std::string bytes = ReadFile(path);
  if (bytes.size() < 54 || bytes.compare(0, 2, "BM") != 0) return false;
  auto le32 = [&](size_t at) {
    return int(uint8_t(bytes[at])) | int(uint8_t(bytes[at + 1])) << 8 |
           int(uint8_t(bytes[at + 2])) << 16 | int(uint8_t(bytes[at + 3])) << 24;
  };
  return le32(2) == static_cast<int>(bytes.size()) && le32(18) >= minWidth && le32(22) >= minHeight;
}

TEST_F(ScanDlgTest, SaveWritesTheWindowAndMovesTheWorkingDirectory) {
  Open("dvd+r-good");
  ASSERT_TRUE(WaitStatus("Ready."));
  const std::string home = wxGetCwd().utf8_string();
  const std::string folder = home + "/saved";
  ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
  m_seen.savePath = [&](std::string* path) {
    *path = folder + "/TEFE";
    return true;
  };
  wxCommandEvent save(wxEVT_MENU, ToWxId(ID_FILE_SAVE));
  m_dialog->GetEventHandler()->ProcessEvent(save);
  ASSERT_EQ(m_seen.messages.size(), 1u);
  EXPECT_EQ(m_seen.messages[0], "Save successfully.");
  const wxSize client = m_dialog->GetClientSize();
  EXPECT_TRUE(IsBmp(folder + "/TEFE.bmp", client.x, client.y));
  EXPECT_EQ(wxGetCwd().utf8_string(), folder);

  // The next run writes its log there.
  Click(IDC_START);
  ASSERT_TRUE(WaitFor([&] { return m_seen.messages.size() == 2; }, 30000));
  EXPECT_EQ(CountLines(ReadFile(folder + "/TEFE.txt")), 1 + 58);

  // A path that cannot be written is a failure, and leaves nothing.
  m_seen.savePath = [&](std::string* path) {
    *path = folder + "/missing/picture.BMP";
    return true;
  };
  m_dialog->GetEventHandler()->ProcessEvent(save);
  ASSERT_EQ(m_seen.messages.size(), 3u);
  EXPECT_EQ(m_seen.messages[2], "Fail to save file.");
  // Cancelled: nothing at all.
  m_seen.savePath = [](std::string*) { return false; };
  m_dialog->GetEventHandler()->ProcessEvent(save);
  EXPECT_EQ(m_seen.messages.size(), 3u);
  ASSERT_EQ(chdir(home.c_str()), 0);
}

// A folder that refuses the picture is not where the next run's log goes:
// the working directory stays, and START writes its log there.
TEST_F(ScanDlgTest, AFailedSaveLeavesTheWorkingDirectory) {
  Open("dvd+r-good");
  ASSERT_TRUE(WaitStatus("Ready."));
  const std::string home = wxGetCwd().utf8_string();
  ReadOnlyFolder refusing(home + "/refusing");
  if (refusing.Path().empty()) GTEST_SKIP() << "no read-only folder can be made here";
  std::remove("TEFE.txt");
  m_seen.savePath = [&](std::string* path) {
    *path = refusing.Path() + "/TEFE";
    return true;
  };
  wxCommandEvent save(wxEVT_MENU, ToWxId(ID_FILE_SAVE));
  m_dialog->GetEventHandler()->ProcessEvent(save);
  ASSERT_EQ(m_seen.messages.size(), 1u);
  EXPECT_EQ(m_seen.messages[0], "Fail to save file.");
  EXPECT_EQ(wxGetCwd().utf8_string(), home);

  Click(IDC_START);
  ASSERT_TRUE(WaitFor([&] { return m_seen.messages.size() == 2; }, 30000));
  EXPECT_EQ(m_seen.messages[1], "This disc is ok for writing under this speed setting.");
  EXPECT_EQ(CountLines(ReadFile(home + "/TEFE.txt")), 1 + 58);
}

// The Save As dialog as a user fills it: the dialog shows one folder, the
// name typed is a full path into another.
struct TypedSave {
  std::string shownFolder;
  std::string typedPath;
  bool answered = false;
};

gboolean TypeFullPathInGtkChooser(gpointer data) {
  auto* typed = static_cast<TypedSave*>(data);
  GList* windows = gtk_window_list_toplevels();
  for (GList* at = windows; at != nullptr; at = at->next) {
    if (GTK_IS_FILE_CHOOSER(at->data) && GTK_IS_DIALOG(at->data)) {
      gtk_file_chooser_set_current_folder(GTK_FILE_CHOOSER(at->data), typed->shownFolder.c_str());
      gtk_file_chooser_set_current_name(GTK_FILE_CHOOSER(at->data), typed->typedPath.c_str());
      gtk_dialog_response(GTK_DIALOG(at->data), GTK_RESPONSE_ACCEPT);
      typed->answered = true;
    }
  }
  g_list_free(windows);
  return typed->answered ? G_SOURCE_REMOVE : G_SOURCE_CONTINUE;
}

TEST_F(ScanDlgTest, SaveMovesTheWorkingDirectoryToTheFolderOfTheFileWritten) {
#if defined(__SANITIZE_THREAD__)
  // The real GTK file chooser lists folders on GIO worker threads that
  // ThreadSanitizer sees only in part; it reports GTK against itself. The
  // normal and AddressSanitizer runs keep this test.
  GTEST_SKIP() << "the GTK file chooser's own threads under ThreadSanitizer";
#endif
  Open("dvd+r-good");
  ASSERT_TRUE(WaitStatus("Ready."));
  const std::string home = wxGetCwd().utf8_string();
  TypedSave typed;
  typed.shownFolder = home + "/shown";
  const std::string other = home + "/typed-into";
  typed.typedPath = other + "/shot";
  ASSERT_EQ(mkdir(typed.shownFolder.c_str(), 0755), 0);
  ASSERT_EQ(mkdir(other.c_str(), 0755), 0);
  g_timeout_add(500, TypeFullPathInGtkChooser, &typed);
  wxCommandEvent save(wxEVT_MENU, ToWxId(ID_FILE_SAVE));
  m_dialog->GetEventHandler()->ProcessEvent(save);
  ASSERT_TRUE(typed.answered);
  ASSERT_EQ(m_seen.messages, (std::vector<std::string>{"Save successfully."}));
  EXPECT_TRUE(std::filesystem::exists(other + "/shot.bmp"));
  EXPECT_FALSE(std::filesystem::exists(typed.shownFolder + "/shot.bmp"));
  // The test display is depth 24 at 32 bits a pixel: so is the picture,
  // with no colour table and no row padding.
  ASSERT_EQ(ScreenBitsPerPixel(m_dialog), 32);
  const std::string bytes = ReadFile(other + "/shot.bmp");
  ASSERT_GE(bytes.size(), 54u);
  auto le = [&](size_t at, int n) {
    uint32_t v = 0;
    for (int i = n - 1; i >= 0; --i) v = v << 8 | uint8_t(bytes[at + i]);
    return v;
  };
  const uint32_t width = le(18, 4), height = le(22, 4);
  EXPECT_EQ(le(28, 2), 32u);
  EXPECT_EQ(le(10, 4), 54u);
  EXPECT_EQ(bytes.size(), 54u + 4u * width * height);
  EXPECT_GE(int(width), m_dialog->GetClientSize().x);
  EXPECT_EQ(wxGetCwd().utf8_string(), other);
  ASSERT_EQ(chdir(home.c_str()), 0);
}

TEST_F(ScanDlgTest, PrintGoesThroughTheGtkPrintSystemToAPdf) {
  Open("dvd+r-good");
  ASSERT_TRUE(WaitStatus("Ready."));
  Click(IDC_START);
  ASSERT_TRUE(WaitFor([&] { return !m_seen.messages.empty(); }, 30000));
  const std::string pdf = wxGetCwd().utf8_string() + "/log.pdf";
  int pages = -1;
  int ppiX = 0, ppiY = 0;
  m_seen.print = [&](wxPrintout& printout, wxPrintDialogData& data) {
    EXPECT_FALSE(data.GetEnablePageNumbers());
    // GTK's file printer, told where to write through its own settings.
    data.GetPrintData().SetPrinterName("Print to File");
    data.GetPrintData().ConvertToNative();
    auto* native = static_cast<wxGtkPrintNativeData*>(data.GetPrintData().GetNativeData());
    gtk_print_settings_set(native->GetPrintConfig(), GTK_PRINT_SETTINGS_OUTPUT_URI,
                           ("file://" + pdf).c_str());
    gtk_print_settings_set(native->GetPrintConfig(), GTK_PRINT_SETTINGS_OUTPUT_FILE_FORMAT, "pdf");
    // GTK prints to its file printer only from its dialog: press Print
    // once the dialog has listed its printers.
    g_timeout_add(2000, PressPrintInGtkDialog, nullptr);
    wxPrinter printer(&data);
    printer.Print(nullptr, &printout, true);
    pages = dynamic_cast<CLogPrintout&>(printout).PagesPrinted();
    printout.GetPPIPrinter(&ppiX, &ppiY);
  };
  wxCommandEvent print(wxEVT_MENU, ToWxId(ID_FILE_PRINT));
  m_dialog->GetEventHandler()->ProcessEvent(print);
  EXPECT_EQ(pages, 1);
  ASSERT_TRUE(WaitFor([&] { return ReadFile(pdf).size() > 100; }, 10000));
  EXPECT_EQ(ReadFile(pdf).compare(0, 5, "%PDF-"), 0);
  EXPECT_EQ(m_seen.messages.size(), 1u);  // only the verdict

  // The page as poppler reads it back: every word with its box, in points.
  // The picture stays in the build tree for a person to look at.
  ASSERT_GT(ppiY, 0);
  const std::string words = wxGetCwd().utf8_string() + "/log-words.html";
  ASSERT_EQ(std::system(("pdftotext -bbox '" + pdf + "' '" + words + "'").c_str()), 0);
  const std::string artefact = std::string(velmo_test::ArtefactDir()) + "/printed-log";
  std::filesystem::create_directories(velmo_test::ArtefactDir());
  EXPECT_EQ(
      std::system(("pdftoppm -r 100 -png -singlefile '" + pdf + "' '" + artefact + "'").c_str()),
      0);
  EXPECT_TRUE(std::filesystem::exists(artefact + ".png"));
  struct Word {
    double xMin, yMin, xMax, yMax;
    std::string text;
  };
  std::vector<Word> found;
  const std::string html = ReadFile(words);
  for (size_t at = html.find("<word "); at != std::string::npos; at = html.find("<word ", at + 1)) {
    Word w{};
    if (std::sscanf(html.c_str() + at, "<word xMin=\"%lf\" yMin=\"%lf\" xMax=\"%lf\" yMax=\"%lf\">",
                    &w.xMin, &w.yMin, &w.xMax, &w.yMax) != 4)
      continue;
    const size_t open = html.find('>', at) + 1;
    w.text = html.substr(open, html.find('<', open) - open);
    found.push_back(w);
  }
  ASSERT_GE(found.size(), 8u);
  const double pointsPerUnit = 72.0 / ppiY;
  const Word& address = found[0];
  EXPECT_EQ(address.text, "Address");
  // First line at y = 400 device units; the box starts a little below.
  EXPECT_NEAR(address.yMin, 400 * pointsPerUnit, 4.0);
  // A 12-point fixed-pitch font: the box is about as tall as the point
  // size, and a character about 0.6 em across.
  EXPECT_GT(address.yMax - address.yMin, 11.0);
  EXPECT_LT(address.yMax - address.yMin, 17.0);
  EXPECT_NEAR((address.xMax - address.xMin) / 7, 0.6 * 12, 0.6);
  // Lines 150 device units apart, and fixed pitch: the verdict text of a
  // sample line starts in the column of "Result" in the header.
  const auto result =
      std::find_if(found.begin(), found.end(), [](const Word& w) { return w.text == "Result"; });
  const auto verdict =
      std::find_if(found.begin(), found.end(), [](const Word& w) { return w.text == "The"; });
  ASSERT_NE(result, found.end());
  ASSERT_NE(verdict, found.end());
  EXPECT_NEAR(verdict->yMin - result->yMin, 150 * pointsPerUnit, 0.5);
  EXPECT_NEAR(verdict->xMin, result->xMin, 0.5);
  // The sample lines follow one another 150 units apart, down the one page.
  double pageHeight = 0;
  ASSERT_EQ(std::sscanf(html.c_str() + html.find("<page "), "<page width=\"%*f\" height=\"%lf\"",
                        &pageHeight),
            1);
  std::vector<double> tops;
  for (const Word& w : found) {
    EXPECT_LE(w.yMax, pageHeight) << w.text;
    if (w.text == "The") tops.push_back(w.yMin);
  }
  ASSERT_GE(tops.size(), 20u);
  for (size_t i = 1; i < tops.size(); ++i)
    EXPECT_NEAR(tops[i] - tops[i - 1], 150 * pointsPerUnit, 0.5);
}

#include "tests/app/fault_matrix.inc"

// Help, Contents opens the manual, first in the menu; the velmo built here
// finds the manual where an install puts it, beside its bin/.
TEST_F(ScanDlgTest, HelpContentsOpensTheManual) {
  Open("dvd+r-good");
  std::vector<std::string> opened;
  const auto savedOpen = CHyperLink::s_open;
  CHyperLink::s_open = [&](const std::string& address) {
    opened.push_back(address);
    return 42;
  };
  wxMenu* help = nullptr;
  ASSERT_NE(m_dialog->GetMenuBar()->FindItem(ToWxId(ID_HELP_ABOUT), &help), nullptr);
  const int contents = help->FindItem("Contents");
  ASSERT_NE(contents, wxNOT_FOUND);
  EXPECT_EQ(help->FindItemByPosition(0)->GetId(), contents);
  wxCommandEvent event(wxEVT_MENU, contents);
  m_dialog->GetEventHandler()->ProcessEvent(event);
  CHyperLink::s_open = savedOpen;
  EXPECT_EQ(opened, std::vector<std::string>{ManualAddress()});

  EXPECT_EQ(ManualAddressFor("/usr/bin/velmo", kManualDrivesSection),
            "file:///usr/share/doc/velmo/manual.md#using-a-real-drive");
  EXPECT_EQ(ManualAddressFor("/opt/my velmo/bin/velmo"),
            "file:///opt/my%20velmo/share/doc/velmo/manual.md");
  std::ifstream built(ManualPathFor(velmo_test::AppBinary()));
  std::ifstream source(std::string(velmo_test::SourceDir()) + "/docs/manual.md");
  std::stringstream builtText, sourceText;
  builtText << built.rdbuf();
  sourceText << source.rdbuf();
  EXPECT_FALSE(builtText.str().empty()) << ManualPathFor(velmo_test::AppBinary());
  EXPECT_TRUE(builtText.str() == sourceText.str())
      << ManualPathFor(velmo_test::AppBinary()) << " is not docs/manual.md";
}

TEST(ScanDlgCommands, AboutIgnoresTheLowFourBits) {
  EXPECT_TRUE(CScanDlg::IsAboutCommand(16));
  EXPECT_TRUE(CScanDlg::IsAboutCommand(31));
  EXPECT_FALSE(CScanDlg::IsAboutCommand(32));
  EXPECT_FALSE(CScanDlg::IsAboutCommand(15));
}

}  // namespace
