#include "chart/graph_ctrl.h"

#include <wx/bitmap.h>
#include <wx/dcclient.h>

wxBEGIN_EVENT_TABLE(CGraphCtrl, wxWindow) EVT_PAINT(CGraphCtrl::OnPaint)
    EVT_SIZE(CGraphCtrl::OnSize) wxEND_EVENT_TABLE()

        CGraphCtrl::CGraphCtrl(std::string labelFontFile)
    : m_model(std::move(labelFontFile)) {
  // Workers and the UI thread alike only queue the invalidation; one pending
  // repaint covers any number of samples drawn before it runs.
  m_model.SetRepaintRequest([this] { QueueRepaint(); });
}

CGraphCtrl::~CGraphCtrl() { m_model.SetRepaintRequest({}); }

bool CGraphCtrl::Create(wxWindow* parent, const wxRect& rect, wxWindowID id) {
  // The paint covers the whole client area, so there is nothing to erase.
  // A simple edge rather than a sunken one: GTK themes draw the sunken frame
  // with rounded corners over the client area, and the client must show
  // exactly the composed layers (the saved picture included).
  SetBackgroundStyle(wxBG_STYLE_PAINT);
  if (!wxWindow::Create(parent, id, rect.GetPosition(), rect.GetSize(),
                        wxBORDER_SIMPLE | wxFULL_REPAINT_ON_RESIZE)) {
    return false;
  }
  const wxSize client = GetClientSize();
  m_model.Create(client.GetWidth(), client.GetHeight());
  return true;
}

void CGraphCtrl::QueueRepaint() {
  if (m_repaintQueued.exchange(true)) return;
  CallAfter([this] {
    m_repaintQueued = false;
    wxWindow::Refresh(false);
  });
}

void CGraphCtrl::OnSize(wxSizeEvent& event) {
  event.Skip();
  const wxSize client = GetClientSize();
  m_model.OnSize(client.GetWidth(), client.GetHeight());
}

void CGraphCtrl::OnPaint(wxPaintEvent&) {
  wxPaintDC dc(this);
  m_model.Compose(m_composed);
  const int width = m_composed.Width();
  const int height = m_composed.Height();
  if (width == 0 || height == 0) return;
  if (!m_image.IsOk() || m_image.GetWidth() != width || m_image.GetHeight() != height) {
    m_image.Create(width, height, false);
  }
  unsigned char* rgb = m_image.GetData();
  for (int y = 0; y < height; ++y) {
    const COLORREF* row = m_composed.Row(y);
    for (int x = 0; x < width; ++x) {
      *rgb++ = RedOf(row[x]);
      *rgb++ = GreenOf(row[x]);
      *rgb++ = BlueOf(row[x]);
    }
  }
  dc.DrawBitmap(wxBitmap(m_image), 0, 0, false);
}
