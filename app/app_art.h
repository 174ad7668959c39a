// The program's own pictures: the application icon (resource 128) and the
// banner above the drive list (resource 138), drawn at run time so that they
// scale with the dialog units of the machine.
//
// UI thread only.
#pragma once

#include <wx/bitmap.h>
#include <wx/iconbndl.h>
#include <wx/image.h>

wxIconBundle MakeAppIcons();  // 16, 32, 48 and 64 pixels
wxBitmap MakeAppIconBitmap(int size);
wxImage MakeAppIconImage(int size);  // needs no display: the install's icon files
wxBitmap MakeBanner(const wxSize& size);
