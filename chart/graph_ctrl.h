// The chart window: a wx child window that shows CGraphModel's composed
// layers. All drawing happens in the model; this class only sizes it, paints
// it (one copy of the composed picture to the window) and turns the model's
// repaint requests into invalidations on the UI thread.
//
// Threads: Create, OnSize and OnPaint run on the UI thread. The chart
// operations (SetRange, AppendPoint, Refresh, ...) may be called from
// workers: they go to the thread-safe model, and the invalidation they ask
// for is handed to the UI thread with CallAfter, never done on the worker.
// Workers must be stopped before the window is destroyed.
#pragma once

#include <wx/image.h>
#include <wx/window.h>

#include <atomic>
#include <string>
#include <utility>

#include "chart/graph_model.h"

class CGraphCtrl : public wxWindow {
 public:
  // labelFontFile as for CGraphModel.
  explicit CGraphCtrl(std::string labelFontFile = {});
  ~CGraphCtrl() override;

  // Creates the window at rect (parent client coordinates) with a one-pixel
  // edge, sizes the model to the client area and builds the layers.
  virtual bool Create(wxWindow* parent, const wxRect& rect, wxWindowID id);

  void SetRange(double yMin, double yMax, int xMin, int xMax, int decimals) {
    m_model.SetRange(yMin, yMax, xMin, xMax, decimals);
  }
  void SetTopFit(CGraphModel::TopFit fit) { m_model.SetTopFit(std::move(fit)); }
  int AddSeries(COLORREF colour) { return m_model.AddSeries(colour); }
  double AppendPoint(int series, double y, double x) { return m_model.AppendPoint(series, y, x); }
  void DrawLimitLine(int series, int value, int show) {
    m_model.DrawLimitLine(series, value, show);
  }
  void ClearData() { m_model.ClearData(); }

  // The chart's Refresh (extend the curves, then invalidate). It hides
  // wxWindow::Refresh for callers holding a CGraphCtrl; wx's own repaints go
  // through wxWindow and reach the base.
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Woverloaded-virtual"
#endif
  void Refresh() { m_model.Refresh(); }
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

  CGraphModel& Model() { return m_model; }
  const CGraphModel& Model() const { return m_model; }

 private:
  void OnPaint(wxPaintEvent& event);
  void OnSize(wxSizeEvent& event);
  void QueueRepaint();

  CGraphModel m_model;
  std::atomic<bool> m_repaintQueued{false};
  CSurface m_composed;  // UI thread only
  wxImage m_image;      // UI thread only

  wxDECLARE_EVENT_TABLE();
};
