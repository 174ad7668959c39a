#include "app/sunken_text.h"

#include <wx/control.h>
#include <wx/dcclient.h>
#include <wx/settings.h>
#include <wx/tooltip.h>

namespace {

// Room kept clear inside the edge on either side of a shortened text.
constexpr int kSunkenTextMargin = 3;

}  // namespace

CSunkenText::CSunkenText(wxWindow* parent, wxWindowID id, const wxString& text, const wxPoint& pos,
                         const wxSize& size)
    : wxWindow(parent, id, pos, size, wxBORDER_NONE | wxFULL_REPAINT_ON_RESIZE), m_text(text) {
  SetBackgroundStyle(wxBG_STYLE_PAINT);
  Bind(wxEVT_PAINT, &CSunkenText::OnPaint, this);
  Bind(wxEVT_SIZE, [this](wxSizeEvent& event) {
    FitText();
    event.Skip();
  });
  FitText();
}

void CSunkenText::SetLabel(const wxString& text) {
  if (text == m_text) return;
  m_text = text;
  FitText();
  Refresh();
}

// A text wider than the field keeps its beginning, where a status says what
// happened, rather than showing its middle cut at both edges.
void CSunkenText::FitText() {
  wxClientDC dc(this);
  dc.SetFont(GetFont());
  const int room = GetClientSize().x - 2 * kSunkenTextMargin;
  m_shown = dc.GetTextExtent(m_text).x <= room || room <= 0
                ? m_text
                : wxControl::Ellipsize(m_text, dc, wxELLIPSIZE_END, room);
  // wx marks the cut with three dots; the one character is narrower still.
  if (m_shown != m_text && m_shown.EndsWith("...")) {
    m_shown.RemoveLast(3);
    m_shown += wxString::FromUTF8("…");
  }
  // A tooltip the window set for its own reasons (a maker's name) stays.
  if (m_shown != m_text) {
    SetToolTip(m_text);
    m_tip = m_text;
  } else if (!m_tip.empty()) {
    if (GetToolTipText() == m_tip) UnsetToolTip();
    m_tip.clear();
  }
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
  const wxSize extent = dc.GetTextExtent(m_shown);
  dc.DrawText(m_shown, (size.x - extent.x) / 2, (size.y - extent.y) / 2);
  ++m_paintings;
}
