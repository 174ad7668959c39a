// The picture of a top-level window for Save: on X11 read from the screen,
// frame and title included, so the file shows the window as the user sees
// it (with whatever lies over it); where the screen cannot be read (Wayland)
// the window renders itself, without the frame the compositor draws.
//
// UI thread only.
#pragma once

#include <wx/window.h>

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "snapshot/bmp_file.h"

struct WindowImage {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> rgb;  // top row first, 3 bytes a pixel
  bool fromScreen = false;   // false: rendered by the window itself
};

// whole: the window with its frame (where it can be read), else the client
// area.
std::optional<WindowImage> CaptureWindowImage(wxWindow* window, bool whole);

// Bits per pixel of the screen window is on (32 on a depth-24 X screen).
int ScreenBitsPerPixel(wxWindow* window);

// Red, green and blue masks of the screen's pixels (0xF800, 0x07E0, 0x001F
// on a 16-bit X screen).
std::array<uint32_t, 3> ScreenPixelMasks(wxWindow* window);

// Writes the picture of window to path as a BMP of the screen's pixel format
// (32 bits on a 32-bit screen, 16 with its masks on a 16-bit one, else 24). Returns 0 when there
// is no window, else 1, as callers have always relied on; *result says
// whether the file was really written.
int SaveWindowBitmap(wxWindow* window, const std::string& path, SnapshotResult* result);
