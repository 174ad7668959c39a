#include "app/side_window.h"

#include <wx/accel.h>
#include <wx/display.h>

#include <algorithm>

void CloseByKeys(wxDialog& dialog) {
  dialog.SetEscapeId(wxID_CLOSE);
  wxAcceleratorEntry closeKey(wxACCEL_CTRL, 'W', wxID_CLOSE);
  dialog.SetAcceleratorTable(wxAcceleratorTable(1, &closeKey));
  dialog.Bind(
      wxEVT_BUTTON, [&dialog](wxCommandEvent&) { dialog.Destroy(); }, wxID_CLOSE);
  dialog.Bind(
      wxEVT_MENU, [&dialog](wxCommandEvent&) { dialog.Destroy(); }, wxID_CLOSE);
}

wxRect ScreenAreaOf(wxWindow* window) {
  const int display = window != nullptr ? wxDisplay::GetFromWindow(window) : wxNOT_FOUND;
  return wxDisplay(display == wxNOT_FOUND ? 0u : static_cast<unsigned>(display)).GetClientArea();
}

void SizeWithinScreen(wxDialog& dialog, wxWindow* parent, const wxSize& wanted) {
  const wxRect area = ScreenAreaOf(parent != nullptr ? parent : &dialog);
  dialog.SetSize(std::min(wanted.x, area.width), std::min(wanted.y, area.height));
}
