// The window's keys as a person presses them, through the X server: Escape
// closes an open menu or list and nothing more, Escape with nothing open
// closes the window as the close box does (a run going on kept as
// aborted), and Tab visits only the template's tab stops.
#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <wx/choice.h>
#include <wx/menu.h>
#include <wx/uiaction.h>
#include <wx/weakref.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "app/scan_dlg.h"
#include "chart/graph_ctrl.h"
#include "history/history.h"
#include "res/resource_ids.h"
#include "tests/app/window_test.h"

namespace {

class KeyboardTest : public WindowTest {
 protected:
  // The window in front with the focus on control, so the keys reach it.
  void FocusOn(wxWindow* control) {
    m_dialog->Raise();
    control->SetFocus();
    ASSERT_TRUE(WaitFor([&] { return wxWindow::FindFocus() == control; }, 3000));
  }
  void Press(int key) {
    wxUIActionSimulator keys;
    keys.Char(key);
    for (int i = 0; i < 10; ++i) {
      Pump();
      wxMilliSleep(20);
    }
  }
  // True once the window has been destroyed; the fixture then has none to close.
  bool WaitClosed(wxWeakRef<wxWindow>& window, int timeoutMs = 10000) {
    if (!WaitFor([&] { return window.get() == nullptr; }, timeoutMs)) return false;
    m_dialog = nullptr;
    return true;
  }
  static size_t KeptRunCount(std::vector<HistoryEntry>* entries = nullptr) {
    CHistory history;
    std::string error, notice;
    std::vector<HistoryEntry> listed;
    if (history.Open(DefaultHistoryPath(), &error, &notice))
      history.List(HistoryFilter{}, &listed, &error);
    if (entries != nullptr) *entries = listed;
    return listed.size();
  }
};

// A menu opened from the bar, or a list's popup: one Escape closes it and
// the window stays; the next Escape, with nothing open, closes the window.
TEST_F(KeyboardTest, EscapeClosesAnOpenMenuOrListAndNothingMore) {
  Open("dvd+r-good");
  ASSERT_TRUE(WaitStatus("Ready."));
  FocusOn(Choice(IDC_DRIVE));
  int menusShown = 0;
  m_dialog->Bind(wxEVT_MENU_OPEN, [&](wxMenuEvent& event) {
    ++menusShown;
    event.Skip();
  });
  wxWeakRef<wxWindow> window(m_dialog);

  for (int attempt = 0; attempt < 3; ++attempt) {
    SCOPED_TRACE(attempt);
    // F10 opens the bar's first menu, as a click on "File" does.
    const int before = menusShown;
    Press(WXK_F10);
    ASSERT_TRUE(
        WaitFor([&] { return menusShown > before && gtk_grab_get_current() != nullptr; }, 3000))
        << "no menu opened";
    Press(WXK_ESCAPE);
    ASSERT_TRUE(WaitFor([&] { return gtk_grab_get_current() == nullptr; }, 3000))
        << "the menu stayed open";
    for (int i = 0; i < 10; ++i) Pump();
    if (window.get() == nullptr) {
      m_dialog = nullptr;
      FAIL() << "Escape in the menu closed the window";
    }
    EXPECT_TRUE(m_dialog->IsShown());
  }

  // The density list dropped down, then Escape.
  GtkWidget* density = Choice(IDC_DENSITY)->GetHandle();
  gtk_combo_box_popup(GTK_COMBO_BOX(density));
  ASSERT_TRUE(WaitFor([&] { return gtk_grab_get_current() != nullptr; }, 3000)) << "no popup";
  Press(WXK_ESCAPE);
  ASSERT_TRUE(WaitFor([&] { return gtk_grab_get_current() == nullptr; }, 3000));
  for (int i = 0; i < 10; ++i) Pump();
  if (window.get() == nullptr) {
    m_dialog = nullptr;
    FAIL() << "Escape in the list closed the window";
  }
  EXPECT_EQ(Choice(IDC_DENSITY)->GetSelection(), 0) << "Escape chose nothing";

  // Nothing open: Escape is the dialog's Cancel.
  FocusOn(Choice(IDC_DRIVE));
  Press(WXK_ESCAPE);
  EXPECT_TRUE(WaitClosed(window));
}

// Escape, and Ctrl+Q as File, Exit, in the middle of a scan close the window
// as the close box does: the run is stopped and kept in the history as
// aborted.
TEST_F(KeyboardTest, EscapeOrCtrlQDuringAScanKeepsTheRunAsAborted) {
  for (const bool ctrlQ : {false, true}) {
    SCOPED_TRACE(ctrlQ ? "Ctrl+Q" : "Escape");
    Open("dvd+r-good", 100);
    ASSERT_TRUE(WaitStatus("Ready."));
    const size_t before = KeptRunCount();
    Click(IDC_START);
    ASSERT_TRUE(WaitStatus("Testing..."));
    ASSERT_TRUE(WaitFor([&] { return m_dialog->ScanWorker()->Samples().size() >= 3; }, 10000));
    FocusOn(m_dialog->Layout().Control(IDC_STOP));
    wxWeakRef<wxWindow> window(m_dialog);
    if (ctrlQ) {
      wxUIActionSimulator keys;
      keys.Char('q', wxMOD_CONTROL);
    } else {
      Press(WXK_ESCAPE);
    }
    ASSERT_TRUE(WaitClosed(window));
    std::vector<HistoryEntry> entries;
    ASSERT_EQ(KeptRunCount(&entries), before + 1) << "the stopped run is not in the history";
    // The one added last (other tests keep runs with times of their own).
    const auto newest =
        std::max_element(entries.begin(), entries.end(),
                         [](const HistoryEntry& a, const HistoryEntry& b) { return a.id < b.id; });
    EXPECT_EQ(newest->outcome, RunOutcome::kAborted);
  }
}

// Tab goes round the buttons, lists and check boxes in the template's
// order, and never to the disc fields, the status line or the chart.
TEST_F(KeyboardTest, TabVisitsExactlyTheTemplatesTabStops) {
  Open("dvd+r-good");
  ASSERT_TRUE(WaitStatus("Ready."));
  ASSERT_NE(m_dialog->Graph(), nullptr);
  // From START round again to it; STOP is disabled until a run starts.
  std::vector<wxWindow*> expected;
  for (int id :
       {IDC_START, IDC_DENSITY, IDC_FE_CHECK, IDC_TE_CHECK, IDC_SMART_SCAN, IDC_DRIVE, IDC_SPEED})
    expected.push_back(m_dialog->Layout().Control(id));
  std::vector<wxWindow*> candidates = expected;
  for (int id : {IDC_DISC_TYPE, IDC_MANUFACTURER_ID, IDC_MEDIA_TYPE_ID, IDC_CAPACITY, IDC_STATUS,
                 IDC_ELAPSED, IDC_STOP})
    candidates.push_back(m_dialog->Layout().Control(id));
  candidates.push_back(m_dialog->Graph());
  // The control the toolkit's focus is in (a list's focus is on a button
  // inside it, which wx does not know as a window).
  const auto focused = [&]() -> wxWindow* {
    GtkWidget* focus = gtk_window_get_focus(GTK_WINDOW(m_dialog->GetHandle()));
    if (focus == nullptr) return nullptr;
    for (wxWindow* control : candidates) {
      GtkWidget* widget = control->GetHandle();
      if (focus == widget || gtk_widget_is_ancestor(focus, widget)) return control;
    }
    return m_dialog;  // somewhere else
  };
  const auto name = [&](wxWindow* w) -> std::string {
    if (w == nullptr) return "(none)";
    if (w == m_dialog) return "(another widget)";
    if (w == m_dialog->Graph()) return "chart";
    return std::to_string(w->GetId());
  };
  FocusOn(m_dialog->Layout().Control(IDC_START));
  for (size_t i = 0; i < 2 * expected.size() + 1; ++i) {
    wxWindow* at = focused();
    EXPECT_EQ(at, expected[i % expected.size()])
        << "stop " << i << ": " << name(at) << " instead of "
        << name(expected[i % expected.size()]);
    Press(WXK_TAB);
  }
}

}  // namespace
