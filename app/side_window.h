// What the History and compare windows share: they close as GNOME windows
// close, and never open larger than the screen.
//
// UI thread only.
#pragma once

#include <wx/dialog.h>

// Escape, Ctrl+W, the close box and a wxID_CLOSE button all destroy dialog.
void CloseByKeys(wxDialog& dialog);

// The work area of the display window is on (the first display's without one).
wxRect ScreenAreaOf(wxWindow* window);

// Sizes dialog to wanted, cut to the work area of the display parent is on.
void SizeWithinScreen(wxDialog& dialog, wxWindow* parent, const wxSize& wanted);
