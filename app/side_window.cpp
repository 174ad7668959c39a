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

void SizeWithinScreen(wxDialog& dialog, wxWindow* parent, const wxSize& wanted) {
  const int display = wxDisplay::GetFromWindow(parent != nullptr ? parent : &dialog);
  const wxRect area =
      wxDisplay(display == wxNOT_FOUND ? 0u : static_cast<unsigned>(display)).GetClientArea();
  dialog.SetSize(std::min(wanted.x, area.width), std::min(wanted.y, area.height));
}
