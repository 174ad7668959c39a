// Build-time helper, not installed: writes the application icon as PNG files
// for the desktop's icon theme, and turns the BMP pictures the programs save
// into PNG for the README. Runs without a display.
#include <wx/image.h>
#include <wx/init.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/app_art.h"

namespace {

int Usage() {
  std::fputs(
      "usage: velmo-art icon SIZE FILE.png\n"
      "       velmo-art png FILE.bmp FILE.png\n",
      stderr);
  return 64;
}

}  // namespace

int main(int argc, char** argv) {
  // A console initialiser: the GUI toolkit, and with it the display, stays
  // untouched.
  wxInitializer init;
  if (!init.IsOk()) {
    std::fputs("velmo-art: cannot initialise wxWidgets\n", stderr);
    return 1;
  }
  wxImage::AddHandler(new wxPNGHandler);
  if (argc != 4) return Usage();
  const std::string verb = argv[1];
  wxImage image;
  if (verb == "icon") {
    const int size = std::atoi(argv[2]);
    if (size < 8 || size > 1024) return Usage();
    image = MakeAppIconImage(size);
  } else if (verb == "png") {
    if (!image.LoadFile(wxString::FromUTF8(argv[2]), wxBITMAP_TYPE_BMP)) {
      std::fprintf(stderr, "velmo-art: cannot read %s\n", argv[2]);
      return 1;
    }
  } else {
    return Usage();
  }
  if (!image.IsOk() || !image.SaveFile(wxString::FromUTF8(argv[3]), wxBITMAP_TYPE_PNG)) {
    std::fprintf(stderr, "velmo-art: cannot write %s\n", argv[3]);
    return 1;
  }
  return 0;
}
