// A sunken, centred text field drawn by ourselves: the disc fields and the
// status line. Drawing it here (not through the toolkit's label) is what lets
// the status line take a colour for its next painting only, and lets tests
// read back what was painted.
//
// UI thread only.
#pragma once

#include <wx/window.h>

#include <cstdint>
#include <functional>

class CSunkenText : public wxWindow {
 public:
  // colourSource, when set, is asked for the text colour (0x00BBGGRR) at
  // every painting.
  CSunkenText(wxWindow* parent, wxWindowID id, const wxString& text, const wxPoint& pos,
              const wxSize& size);

  void SetLabel(const wxString& text) override;
  wxString GetLabel() const override { return m_text; }
  // A static, as the template's: never a tab stop, never focused.
  bool AcceptsFocus() const override { return false; }
  bool AcceptsFocusFromKeyboard() const override { return false; }
  void SetColourSource(std::function<uint32_t()> source) { m_colourSource = std::move(source); }

  // Paintings since creation; tests wait on it.
  int Paintings() const { return m_paintings; }
  // What is painted: the text, or when it does not fit the field its
  // beginning and "…", with the whole text in the tooltip.
  const wxString& ShownText() const { return m_shown; }

 private:
  void OnPaint(wxPaintEvent& event);
  void FitText();

  wxString m_text;
  wxString m_shown;
  wxString m_tip;  // the tooltip set here (a shortened text's whole), if any
  std::function<uint32_t()> m_colourSource;
  int m_paintings = 0;
};
