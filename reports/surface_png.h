// A cairo image surface as PNG bytes, for report pages and charts alike.
#pragma once

#include <cairo.h>

#include <string>

// The picture as an 8-bit RGB PNG appended to *out.
cairo_status_t SurfacePng(cairo_surface_t* surface, std::string* out);
