#include "app/hyper_link.h"

#include <wx/dcclient.h>
#include <wx/stattext.h>
#include <wx/utils.h>

#include "app/user_prompts.h"
#include "links/open_address.h"
#include "links/open_error.h"

#include <wx/msgdlg.h>

namespace {

constexpr int kShowNormally = 5;  // SW_SHOW

wxColour LinkColourOf(uint32_t colorref) {
  return wxColour(colorref & 0xFF, (colorref >> 8) & 0xFF, (colorref >> 16) & 0xFF);
}

}  // namespace

wxCursor* CHyperLink::s_handCursor = nullptr;

std::function<int(const std::string&)> CHyperLink::s_open = [](const std::string& address) {
  return OpenAddress(address, kShowNormally);
};

std::function<void(wxWindow*, int)> CHyperLink::s_showOpenError = [](wxWindow* parent, int code) {
  wxMessageDialog box(parent, wxString::FromUTF8(OpenErrorMessage(code)), kAppName,
                      wxOK | wxICON_EXCLAMATION);
  box.ShowModal();
};

CHyperLink::~CHyperLink() {
  if (HasCapture()) ReleaseMouse();
}

void CHyperLink::LoadHandCursor() {
  // Loaded once and kept for the life of the process.
  if (s_handCursor != nullptr) return;
  auto* cursor = new wxCursor(wxCURSOR_HAND);
  if (cursor->IsOk()) {
    s_handCursor = cursor;
  } else {
    delete cursor;
  }
}

void CHyperLink::Subclass(wxWindow* staticControl) {
  wxWindow* parent = staticControl->GetParent();
  const wxRect rect = staticControl->GetRect();
  const long style = staticControl->GetWindowStyleFlag();
  m_alignment = style & (wxALIGN_CENTRE_HORIZONTAL | wxALIGN_RIGHT);
  const wxString text = staticControl->GetLabel();
  const wxWindowID id = staticControl->GetId();
  const wxFont font = staticControl->GetFont();
  Create(parent, id, text, rect.GetPosition(), rect.GetSize(), m_alignment | wxST_NO_AUTORESIZE);
  SetFont(font);
  MoveAfterInTabOrder(staticControl);
  staticControl->Destroy();

  Bind(wxEVT_MOTION, &CHyperLink::OnMouseMove, this);
  Bind(wxEVT_LEFT_DOWN, &CHyperLink::OnLeftDown, this);
  Bind(wxEVT_LEFT_UP, &CHyperLink::OnLeftUp, this);
  Bind(wxEVT_MOUSE_CAPTURE_LOST, &CHyperLink::OnCaptureLost, this);
  Bind(wxEVT_SET_FOCUS, &CHyperLink::OnSetFocus, this);
  Bind(wxEVT_KILL_FOCUS, &CHyperLink::OnKillFocus, this);
  Bind(wxEVT_KEY_DOWN, &CHyperLink::OnKeyDown, this);
  PreSubclassWindow();
}

void CHyperLink::PreSubclassWindow() {
  if (m_address.empty()) m_address = GetLabel().utf8_string();
  if (GetLabel().empty()) SetLabel(wxString::FromUTF8(m_address));

  wxFont font = GetFont();
  if (font.IsOk()) {
    font.SetUnderlined((m_flags & kLinkUnderline) != 0);
    m_underlineFont = font;
    SetFont(m_underlineFont);
    FitToText();
  } else {
    m_flags &= ~kLinkFitToText;
  }
  if ((m_flags & kLinkNoHandCursor) == 0) LoadHandCursor();
  if (s_handCursor != nullptr) SetCursor(*s_handCursor);
  SetToolTip(wxString::FromUTF8(m_address));
  ApplyColour();
}

void CHyperLink::FitToText() {
  if ((m_flags & kLinkFitToText) == 0) return;
  wxRect window = GetRect();
  const wxSize client = GetClientSize();
  const int dx = window.width - client.x;
  const int dy = window.height - client.y;
  wxClientDC dc(this);
  dc.SetFont(m_underlineFont.IsOk() ? m_underlineFont : GetFont());
  const wxSize extent = dc.GetTextExtent(GetLabel());

  // Our statics have no centre-image style: the top stays.
  window.height = extent.y;
  if (m_alignment & wxALIGN_CENTRE_HORIZONTAL) {
    const int inward = (window.width - extent.x) / 2;
    window.x += inward;
    window.width -= 2 * inward;
  } else if (m_alignment & wxALIGN_RIGHT) {
    window.x = window.GetRight() + 1 - extent.x;
    window.width = extent.x;
  } else {
    window.width = extent.x;
  }
  SetSize(window.x, window.y, window.width + dx, window.height + dy);
  Refresh();
}

void CHyperLink::SetLinkAddress(const std::string& address) {
  m_address = address;
  // Before Subclass there is no window: the address waits for it.
  if (GetHandle() == nullptr) return;
  Hide();
  FitToText();
  SetToolTip(wxString::FromUTF8(m_address));
  Show();
}

void CHyperLink::SetLinkText(const std::string& text) {
  // No window yet: nothing to show it in, and nothing is kept.
  if (GetHandle() == nullptr) return;
  Hide();
  SetLabel(wxString::FromUTF8(text));
  FitToText();
  Show();
}

uint32_t CHyperLink::LinkColor() const {
  if (m_hovering && (m_flags & kLinkHoverColor)) return s_hoverColor;
  if ((m_flags & kLinkNoFocusColor) == 0 && m_focused) return s_focusColor;
  if (m_visited) return s_visitedColor;
  return s_linkColor;
}

void CHyperLink::ApplyColour() {
  SetForegroundColour(LinkColourOf(LinkColor()));
  Refresh();
}

void CHyperLink::OpenLink() {
  const int result = s_open(m_address);
  if (result <= 32) {
    wxBell();
    s_showOpenError(this, result);
    return;
  }
  m_visited = true;
  ApplyColour();
}

void CHyperLink::OnMouseMove(wxMouseEvent& event) {
  if (!m_hovering) {
    m_hovering = true;
    ApplyColour();
    if (!HasCapture()) CaptureMouse();
    return;
  }
  const wxSize size = GetClientSize();
  const wxPoint at = event.GetPosition();
  if (at.x < 0 || at.y < 0 || at.x >= size.x || at.y >= size.y) {
    m_hovering = false;
    if (HasCapture()) ReleaseMouse();
    ApplyColour();
  }
}

void CHyperLink::OnCaptureLost(wxMouseCaptureLostEvent&) {
  m_hovering = false;
  ApplyColour();
}

void CHyperLink::OnLeftDown(wxMouseEvent&) {
  if (m_flags & kLinkFocusOnClick) SetFocus();
  if (m_flags & kLinkOpenOnPress) OpenLink();
  m_focused = true;
  ApplyColour();
}

void CHyperLink::OnLeftUp(wxMouseEvent&) {
  if (m_focused && (m_flags & kLinkOpenOnPress) == 0) OpenLink();
}

void CHyperLink::OnSetFocus(wxFocusEvent& event) {
  m_focused = true;
  ApplyColour();
  event.Skip();
}

void CHyperLink::OnKillFocus(wxFocusEvent& event) {
  m_hovering = false;
  m_focused = false;
  ApplyColour();
  event.Skip();
}

void CHyperLink::OnKeyDown(wxKeyEvent& event) {
  if (event.GetKeyCode() == WXK_SPACE) {
    OpenLink();
    return;
  }
  event.Skip();
}
