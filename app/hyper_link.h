// A static text that is a web link: underlined, in link colours, a hand
// cursor and a tooltip with its address; opens the address in the browser on
// click or Space, and shows the visited colour once it was opened.
//
// UI thread only.
#pragma once

#include <wx/cursor.h>
#include <wx/stattext.h>

// After wx/stattext.h: included first, it leaves wxStaticText undeclared for
// the files that include this one.
#include <wx/generic/stattextg.h>

#include <cstdint>
#include <functional>
#include <string>

inline constexpr uint32_t kLinkUnderline = 0x01;
inline constexpr uint32_t kLinkHoverColor = 0x02;
inline constexpr uint32_t kLinkFitToText = 0x04;
inline constexpr uint32_t kLinkOpenOnPress = 0x08;
inline constexpr uint32_t kLinkFocusOnClick = 0x10;
inline constexpr uint32_t kLinkNoHandCursor = 0x20;
inline constexpr uint32_t kLinkNoFocusColor = 0x40;
inline constexpr uint32_t kLinkDefaultFlags = 0x15;

class CHyperLink : public wxGenericStaticText {
 public:
  CHyperLink() = default;
  ~CHyperLink() override;

  // Takes the place of a static control of a dialog: its parent, id,
  // rectangle, alignment and text; the static itself is destroyed.
  void Subclass(wxWindow* staticControl);

  void SetLinkAddress(const std::string& address);
  void SetLinkText(const std::string& text);
  void OpenLink();

  // The text colour for the current state, 0x00BBGGRR.
  uint32_t LinkColor() const;
  bool Hovering() const { return m_hovering; }
  bool Focused() const { return m_focused; }
  bool Visited() const { return m_visited; }
  const std::string& Address() const { return m_address; }
  uint32_t Flags() const { return m_flags; }
  void SetFlags(uint32_t flags) { m_flags = flags; }

  bool AcceptsFocus() const override { return true; }

  // Opens an address: the links layer's OpenAddress unless a test replaced
  // it; the error box likewise.
  static std::function<int(const std::string&)> s_open;
  static std::function<void(wxWindow*, int)> s_showOpenError;

  static constexpr uint32_t s_linkColor = 0xFF0000;     // RGB(0, 0, 255)
  static constexpr uint32_t s_focusColor = 0x808000;    // RGB(0, 128, 128)
  static constexpr uint32_t s_visitedColor = 0x800080;  // RGB(128, 0, 128)
  static constexpr uint32_t s_hoverColor = 0x0000FF;    // RGB(255, 0, 0)

  static void LoadHandCursor();
  static const wxCursor* HandCursor() { return s_handCursor; }

 private:
  void PreSubclassWindow();
  void FitToText();
  void ApplyColour();

  void OnMouseMove(wxMouseEvent& event);
  void OnLeftDown(wxMouseEvent& event);
  void OnLeftUp(wxMouseEvent& event);
  void OnCaptureLost(wxMouseCaptureLostEvent& event);
  void OnSetFocus(wxFocusEvent& event);
  void OnKillFocus(wxFocusEvent& event);
  void OnKeyDown(wxKeyEvent& event);

  bool m_focused = false;
  bool m_hovering = false;
  bool m_visited = false;
  uint32_t m_flags = kLinkDefaultFlags;
  std::string m_address;
  wxFont m_underlineFont;
  long m_alignment = 0;  // wxALIGN_* of the static it replaced

  static wxCursor* s_handCursor;
};
