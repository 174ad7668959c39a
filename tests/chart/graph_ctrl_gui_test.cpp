// The chart window under a real display (on a display of its own): what reaches
// the screen must be exactly the composed layers, both after UI-thread
// drawing and after a worker drew and handed the invalidation over.
#include <gtest/gtest.h>
#include <wx/app.h>
#include <wx/bitmap.h>
#include <wx/dcclient.h>
#include <wx/dcmemory.h>
#include <wx/frame.h>
#include <wx/image.h>
#include <wx/init.h>
#include <wx/panel.h>
#include <wx/utils.h>

#include <chrono>
#include <cmath>
#include <string>
#include <thread>

#include "chart/graph_ctrl.h"
#include "chart/scan_series.h"

namespace {

constexpr COLORREF kTe = 12262627;
constexpr COLORREF kFe = 14544146;

// Idle processing too: a destroyed frame is only deleted at idle time, and
// until then it would still cover the next test's window.
void Pump() {
  wxYield();
  if (wxTheApp != nullptr) {
    wxTheApp->ProcessPendingEvents();
    wxTheApp->ProcessIdle();
  }
}

// The chart's client area as the X server holds it, read from the window
// itself (wxScreenDC on GTK 3 keeps serving its first snapshot).
CSurface ReadBack(wxWindow* window) {
  const wxSize size = window->GetClientSize();
  wxBitmap bitmap(size.GetWidth(), size.GetHeight(), 24);
  {
    wxMemoryDC memory(bitmap);
    wxClientDC client(window);
    memory.Blit(0, 0, size.GetWidth(), size.GetHeight(), &client, 0, 0);
  }
  const wxImage image = bitmap.ConvertToImage();
  CSurface shown(image.GetWidth(), image.GetHeight());
  for (int y = 0; y < shown.Height(); ++y) {
    for (int x = 0; x < shown.Width(); ++x) {
      shown.SetPixel(x, y, Rgb(image.GetRed(x, y), image.GetGreen(x, y), image.GetBlue(x, y)));
    }
  }
  return shown;
}

// Empty when the screen shows exactly `expected`.
std::string Difference(const CSurface& shown, const CSurface& expected) {
  if (shown.Width() != expected.Width() || shown.Height() != expected.Height()) {
    return "size " + std::to_string(shown.Width()) + "x" + std::to_string(shown.Height()) + " vs " +
           std::to_string(expected.Width()) + "x" + std::to_string(expected.Height());
  }
  for (int y = 0; y < expected.Height(); ++y) {
    for (int x = 0; x < expected.Width(); ++x) {
      const COLORREF want = expected.GetPixel(x, y);
      const COLORREF got = shown.GetPixel(x, y);
      if (got != want) {
        char text[96];
        std::snprintf(text, sizeof text, "at %d,%d: screen %06X, layers %06X", x, y, got, want);
        return text;
      }
    }
  }
  return {};
}

// Pumps events until the window shows the chart's composed layers, or times
// out with the last difference.
std::string WaitUntilShown(CGraphCtrl* chart) {
  std::string difference = "never painted";
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (std::chrono::steady_clock::now() < deadline) {
    Pump();
    difference = Difference(ReadBack(chart), chart->Model().Compose());
    if (difference.empty()) return {};
    wxMilliSleep(20);
  }
  return difference;
}

class ChartWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_frame = new wxFrame(nullptr, wxID_ANY, "Velmo chart", wxPoint(0, 0), wxSize(520, 320));
    auto* panel = new wxPanel(m_frame);
    m_chart = new CGraphCtrl;
    ASSERT_TRUE(m_chart->Create(panel, wxRect(16, 16, 452, 228), 0));
    AddScanSeries(*m_chart);
    SetScanRange(*m_chart, 2086912);
    m_frame->Show();
  }

  void TearDown() override {
    if (m_frame != nullptr) m_frame->Destroy();
    Pump();
  }

  static void Feed(CGraphCtrl* chart, int from, int to) {
    for (int i = from; i < to; ++i) {
      chart->AppendPoint(2, 300 + 250 * std::sin(i / 9.0), i * 10000.0);
      chart->AppendPoint(3, 200 + 150 * std::cos(i / 7.0), i * 10000.0);
      chart->Refresh();
    }
  }

  wxFrame* m_frame = nullptr;
  CGraphCtrl* m_chart = nullptr;
};

TEST_F(ChartWindowTest, WindowShowsTheComposedLayers) {
  m_chart->DrawLimitLine(1, 450, 1);
  m_chart->DrawLimitLine(0, 500, 1);
  Feed(m_chart, 0, 100);
  const std::string difference = WaitUntilShown(m_chart);
  EXPECT_EQ(difference, "");
  const wxSize client = m_chart->GetClientSize();
  EXPECT_EQ(m_chart->Model().Compose().Width(), client.GetWidth());
}

TEST_F(ChartWindowTest, WorkerDrawingIsHandedToTheUiThread) {
  ASSERT_EQ(WaitUntilShown(m_chart), "");
  const CSurface before = m_chart->Model().Compose();
  std::thread worker([this] {
    m_chart->ClearData();
    m_chart->DrawLimitLine(1, 450, 1);
    Feed(m_chart, 0, 150);
  });
  worker.join();
  ASSERT_NE(m_chart->Model().Compose(), before);
  EXPECT_EQ(WaitUntilShown(m_chart), "");

  // Blanking from the UI thread shows on the next paint too.
  m_chart->DrawLimitLine(1, 450, 0);
  EXPECT_EQ(WaitUntilShown(m_chart), "");
}

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  wxApp::SetInstance(new wxApp);
  if (!wxEntryStart(argc, argv)) {
    std::fprintf(stderr, "cannot start wx (no display?)\n");
    return 1;
  }
  const int result = RUN_ALL_TESTS();
  wxEntryCleanup();
  return result;
}
