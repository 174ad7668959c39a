// How the window shows what it has: the View menu's chart range (kept with
// the Run menu's choices), and the window on a screen shorter than it.
#include <wx/display.h>
#include <wx/menu.h>
#include <wx/scrolwin.h>
#include <wx/settings.h>
#include <wx/statusbr.h>

#include <algorithm>

#include "app/scan_dlg.h"
#include "chart/graph_ctrl.h"
#include "chart/scan_series.h"

namespace {

constexpr int kViewFitChartId = 0x5110;
// A menu bar's height, for a frame whose own is not known before it shows.
constexpr int kMenuBarAllowance = 32;

}  // namespace

ScanChartRange CScanDlg::ChartRangeChoice() const {
  return m_runChoices.fitChart ? ScanChartRange::kReadings : ScanChartRange::kFixed;
}

void CScanDlg::BuildViewMenu() {
  auto* menu = new wxMenu();
  menu->AppendCheckItem(kViewFitChartId, "&Fit the chart to the readings");
  menu->Check(kViewFitChartId, m_runChoices.fitChart);
  // After File, where a view menu is looked for.
  GetMenuBar()->Insert(1, menu, "&View");
  Bind(
      wxEVT_MENU,
      [this](wxCommandEvent& event) {
        m_runChoices.fitChart = event.IsChecked();
        std::string error;
        if (!SaveRunChoices(RunChoicesPath(), m_runChoices, &error)) {
          m_prompts->Message(this, "The View menu's choice could not be kept: " + error);
        }
        // Both charts redraw what they show on the range chosen.
        for (CGraphCtrl* chart : {m_graph, m_recordGraph}) {
          if (chart != nullptr) SetScanChartRange(*chart, ChartRangeChoice());
        }
      },
      kViewFitChartId);
}

// On a screen shorter (or narrower) than the window, the window takes what
// the screen has and its content scrolls; it starts scrolled to the bottom,
// where the status line is, so what goes out of view is the banner.
wxWindow* CScanDlg::ContentHost(const wxSize& content) {
  const int display = wxDisplay::GetFromWindow(this);
  const wxRect area =
      wxDisplay(display == wxNOT_FOUND ? 0u : static_cast<unsigned>(display)).GetClientArea();
  // The frame's own parts: the menu bar and, under a window manager, the
  // title and borders as far as GTK knows them yet.
  const wxSize frame = GetSize() - GetClientSize();
  const int room = area.height - std::max(frame.y, kMenuBarAllowance);
  const int roomAcross = area.width - frame.x;
  if (room >= content.y && roomAcross >= content.x) return this;
  m_scroller = new wxScrolledWindow(this, wxID_ANY, wxPoint(0, 0), content,
                                    wxVSCROLL | wxHSCROLL | wxTAB_TRAVERSAL);
  m_scroller->SetScrollRate(8, 8);
  m_scroller->SetVirtualSize(content);
  const int bar = std::max(wxSystemSettings::GetMetric(wxSYS_VSCROLL_X, this), 0);
  m_shortScreenSize = wxSize(std::min(roomAcross, content.x + bar), std::min(room, content.y));
  return m_scroller;
}

void CScanDlg::FitToScreen() {
  if (m_scroller == nullptr) return;
  wxSize size = m_shortScreenSize;
  // The spindle's bar, when shown, stands below the content within the screen.
  if (const wxStatusBar* bar = GetStatusBar(); bar != nullptr && bar->IsShown())
    size.y = std::max(size.y - bar->GetSize().y, 1);
  SetClientSize(size);
  m_scroller->SetSize(GetClientSize());
  m_scroller->Scroll(0, m_scroller->GetVirtualSize().y);
}
