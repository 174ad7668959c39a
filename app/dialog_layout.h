// Builds a window's controls from its dialog template: every control of the
// table, in tab order, at its rectangle converted from dialog units with the
// template's font. Handlers find the controls by id afterwards.
//
// UI thread only.
#pragma once

#include <wx/font.h>
#include <wx/window.h>

#include <map>
#include <vector>

#include "res/dialog_template.h"

class CDialogLayout {
 public:
  // Sets the template's font on parent and creates the controls on it.
  void Build(wxWindow* parent, const DialogTemplate& dialog);

  // The control with a template id; null for -1 and unknown ids.
  wxWindow* Control(int id) const;
  template <typename T>
  T* Get(int id) const {
    return dynamic_cast<T*>(Control(id));
  }

  // A template rectangle in the parent's client coordinates.
  wxRect ToPixels(const ControlTemplate& control) const;
  wxSize ToPixels(int width, int height) const;
  wxPoint ToPixels(const wxPoint& units) const;
  // Pixels of 4 horizontal and 8 vertical dialog units.
  wxSize BaseUnits() const { return m_baseUnits; }

  // The client size the template asks for.
  wxSize ClientSize() const { return m_clientSize; }
  // The same before Build, for the window the controls go into.
  static wxSize ClientSizeOf(const DialogTemplate& dialog);
  const wxFont& Font() const { return m_font; }

  // The static bitmaps of the template, in order; the window fills them.
  const std::vector<wxWindow*>& Bitmaps() const { return m_bitmaps; }

 private:
  struct Frame {
    wxRect rect;
    bool black;
    bool sunken;  // a black frame with a sunken edge round it
  };
  void PaintFrames(wxPaintEvent& event);

  wxWindow* m_parent = nullptr;
  std::vector<Frame> m_frames;
  wxFont m_font;
  wxSize m_baseUnits{6, 13};
  wxSize m_clientSize;
  std::map<int, wxWindow*> m_controls;
  std::vector<wxWindow*> m_bitmaps;
};

// The template's font: its face at its point size.
wxFont TemplateFont(const DialogTemplate& dialog);

// Dialog base units of a template font, as the dialog framework takes them
// on a 96-dpi screen: the average letter width and the font height in
// pixels. A dialog unit is a quarter of the one across, an eighth of the
// other down.
wxSize DialogBaseUnits(const char* face, int points);

// Enables or disables a control. Disabling the control that has the focus
// moves the focus to the next enabled control in tab order, as a dialog
// does: GTK would leave none, and the window's keys (Escape, Ctrl+P) would
// stop reaching it.
void EnableKeepingFocus(wxWindow* control, bool enable);
