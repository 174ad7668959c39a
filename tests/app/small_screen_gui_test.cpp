// The main window on a 1024x600 screen (Xvfb "-screen 0 1024x600x24"), and
// its chart fitted to a bad disc's readings.
#include <gtest/gtest.h>
#include <wx/display.h>
#include <wx/menu.h>
#include <wx/settings.h>

#include <algorithm>
#include <optional>
#include <string>

#include "app/history_dlg.h"
#include "app/history_list.h"
#include "app/scan_dlg.h"
#include "chart/graph_ctrl.h"
#include "chart/scan_series.h"
#include "res/resource_ids.h"
#include "tests/app/window_test.h"

namespace {

class SmallScreenTest : public WindowTest {
 protected:
  void FitChart(bool on) {
    wxMenuBar* bar = m_dialog->GetMenuBar();
    const int view = bar->FindMenu("View");
    ASSERT_NE(view, wxNOT_FOUND);
    const int item =
        bar->GetMenu(static_cast<size_t>(view))->FindItem("Fit the chart to the readings");
    ASSERT_NE(item, wxNOT_FOUND);
    bar->Check(item, on);
    wxCommandEvent event(wxEVT_MENU, item);
    event.SetInt(on ? 1 : 0);
    m_dialog->GetEventHandler()->ProcessEvent(event);
  }
  // Whether a control's whole rectangle is on the screen and in the part of
  // the window that shows.
  bool InView(wxWindow* control) const {
    const wxRect screen = wxDisplay(0u).GetGeometry();
    const wxRect onScreen(control->GetScreenPosition(), control->GetSize());
    const wxRect client(m_dialog->ClientToScreen(wxPoint(0, 0)), m_dialog->GetClientSize());
    return screen.Contains(onScreen) && client.Contains(onScreen);
  }
};

// The window is taller than the screen: its content scrolls, and it starts
// with the status line in view; the controls above are reached by
// scrolling, as focus moving to them does.
TEST_F(SmallScreenTest, StatusLineIsOnTheScreenAndEveryControlCanBeReached) {
  ASSERT_EQ(wxDisplay(0u).GetGeometry().GetHeight(), 600);
  Open("dvd+r-good");
  ASSERT_TRUE(WaitStatus("Ready."));
  for (int i = 0; i < 5; ++i) Pump();
  wxWindow* status = m_dialog->Layout().Control(IDC_STATUS);
  EXPECT_TRUE(InView(status)) << "status line at " << status->GetScreenPosition().y << ", "
                              << status->GetSize().y << " tall";
  for (int id : {IDC_DRIVE, IDC_SPEED, IDC_SMART_SCAN, IDC_START, IDC_STOP, IDC_TE_CHECK,
                 IDC_FE_CHECK, IDC_DENSITY}) {
    wxWindow* control = m_dialog->Layout().Control(id);
    control->SetFocus();
    for (int i = 0; i < 3; ++i) Pump();
    EXPECT_TRUE(InView(control)) << id << " at " << control->GetScreenPosition().y;
  }
}

// "Fit the chart to the readings" on a disc whose TE goes far over 600: the
// range grows to a round value over the highest reading and the TE curve
// shows above the place of 600; off again, the fixed 0 to 600 is back.
TEST_F(SmallScreenTest, FittedChartShowsTheReadingsOverSixHundred) {
  Open("dvd+r-bad");
  ASSERT_TRUE(WaitStatus("Ready."));
  FitChart(true);
  Click(IDC_START);
  ASSERT_TRUE(WaitFor([&] { return !m_seen.messages.empty(); }, 30000));
  ASSERT_TRUE(WaitFor([&] { return Enabled(IDC_START); }));
  const std::optional<ScanRecord> run = m_dialog->LastRunRecord();
  ASSERT_TRUE(run);
  int highest = 0, highestTe = 0;
  for (const RecordSample& sample : run->samples) {
    highestTe = std::max<int>(highestTe, sample.te);
    highest = std::max<int>({highest, sample.te, sample.fe});
  }
  ASSERT_GT(highestTe, 600);
  CGraphModel& chart = m_dialog->Graph()->Model();
  EXPECT_EQ(chart.YMax(), FittedChartTop(highest));
  const RECT plot = chart.PlotRect();
  const int row600 =
      plot.bottom - static_cast<int>(600 * ((plot.bottom - plot.top) / chart.YMax()));
  const CSurface curve = chart.CurveLayer();
  int above = 0;
  for (int y = plot.top + 1; y < row600; ++y) {
    for (int x = plot.left; x < plot.right; ++x) above += curve.GetPixel(x, y) == kTeColour;
  }
  EXPECT_GT(above, 0);

  FitChart(false);
  EXPECT_EQ(chart.YMax(), kScanChartYMax);
  EXPECT_FALSE(m_dialog->Choices().fitChart);
}

// The History window on a 1024-pixel screen: the name columns give way, so
// every column, TE, FE and Station among them, lies in the list, in the
// window and on the screen.
TEST_F(SmallScreenTest, HistoryColumnsReachStationOnA1024PixelScreen) {
  Open("empty");
  wxMenu* file = m_dialog->GetMenuBar()->GetMenu(0);
  wxCommandEvent event(wxEVT_MENU, file->FindItem("History..."));
  m_dialog->GetEventHandler()->ProcessEvent(event);
  CHistoryDlg* history = m_dialog->HistoryWindow();
  ASSERT_NE(history, nullptr);
  WaitFor([&] { return history->IsShownOnScreen(); }, 3000);
  for (int i = 0; i < 5; ++i) Pump();
  CHistoryList* list = history->List();
  const int scrollBar = wxSystemSettings::GetMetric(wxSYS_VSCROLL_X, list);
  EXPECT_LE(list->ColumnsWidth() + scrollBar, list->GetClientSize().x)
      << "Station runs past the list";
  const wxRect screen = wxDisplay(0u).GetGeometry();
  const wxRect inside(history->ClientToScreen(wxPoint(0, 0)), history->GetClientSize());
  EXPECT_TRUE(inside.Contains(list->GetScreenRect())) << "the list is cut by the window";
  EXPECT_TRUE(screen.Contains(history->GetScreenRect())) << "the window runs off the screen";
  EXPECT_GE(list->GetColumnWidth(static_cast<int>(HistoryColumn::kTime)),
            list->GetTextExtent("2026-12-08 14:05").x + 8);
}

}  // namespace
