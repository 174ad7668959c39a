#include "app/sunken_text.h"

#include <wx/dcclient.h>
#include <wx/settings.h>

CSunkenText::CSunkenText(wxWindow* parent, wxWindowID id, const wxString& text, const wxPoint& pos,
                         const wxSize& size)
    : wxWindow(parent, id, pos, size, wxBORDER_NONE | wxFULL_REPAINT_ON_RESIZE), m_text(text) {
  SetBackgroundStyle(wxBG_STYLE_PAINT);
  Bind(wxEVT_PAINT, &CSunkenText::OnPaint, this);
}

void CSunkenText::SetLabel(const wxString& text) {
  if (text == m_text) return;
  m_text = text;
  Refresh();
}

void CSunkenText::OnPaint(wxPaintEvent&) {
  wxPaintDC dc(this);
  const wxSize size = GetClientSize();
  dc.SetBackground(wxBrush(wxSystemSettings::GetColour(wxSYS_COLOUR_BTNFACE)));
  dc.Clear();

  // The sunken edge: shadow above and left, light below and right.
  const int right = size.x - 1;
  const int bottom = size.y - 1;
  dc.SetPen(wxPen(wxColour(128, 128, 128)));
  dc.DrawLine(0, 0, right, 0);
  dc.DrawLine(0, 0, 0, bottom);
  dc.SetPen(wxPen(wxColour(255, 255, 255)));
  dc.DrawLine(0, bottom, right + 1, bottom);
  dc.DrawLine(right, 0, right, bottom);

  const uint32_t colour = m_colourSource ? m_colourSource() : 0;
  dc.SetTextForeground(wxColour(colour & 0xFF, (colour >> 8) & 0xFF, (colour >> 16) & 0xFF));
  dc.SetFont(GetFont());
  dc.SetClippingRegion(1, 1, size.x - 2, size.y - 2);
  const wxSize extent = dc.GetTextExtent(m_text);
  dc.DrawText(m_text, (size.x - extent.x) / 2, (size.y - extent.y) / 2);
  ++m_paintings;
}
