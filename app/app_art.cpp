#include "app/app_art.h"

#include <wx/dcmemory.h>
#include <wx/font.h>
#include <wx/graphics.h>
#include <wx/icon.h>

#include <algorithm>
#include <cmath>
#include <memory>

namespace {

// A recordable disc seen from above: silver data side, a dye ring and the
// clamping hole; the two curves of the test run across it.
void DrawDisc(wxGraphicsContext& gc, double cx, double cy, double r) {
  gc.SetPen(wxPen(wxColour(70, 80, 96), std::max(1.0, r / 24)));
  gc.SetBrush(gc.CreateRadialGradientBrush(cx - r / 3, cy - r / 3, cx, cy, r,
                                           wxColour(250, 250, 255), wxColour(150, 160, 190)));
  gc.DrawEllipse(cx - r, cy - r, 2 * r, 2 * r);
  gc.SetPen(wxPen(wxColour(120, 90, 200), std::max(1.0, r / 10)));
  gc.SetBrush(*wxTRANSPARENT_BRUSH);
  gc.DrawEllipse(cx - r * 0.72, cy - r * 0.72, r * 1.44, r * 1.44);
  gc.SetPen(wxPen(wxColour(70, 80, 96), std::max(1.0, r / 24)));
  gc.SetBrush(wxBrush(wxColour(235, 238, 245)));
  gc.DrawEllipse(cx - r * 0.3, cy - r * 0.3, r * 0.6, r * 0.6);
  gc.SetBrush(wxBrush(wxColour(40, 44, 60)));
  gc.DrawEllipse(cx - r * 0.12, cy - r * 0.12, r * 0.24, r * 0.24);
}

void DrawCurve(wxGraphicsContext& gc, const wxColour& colour, double x0, double x1, double y,
               double amplitude, double phase) {
  wxGraphicsPath path = gc.CreatePath();
  const int steps = 48;
  for (int i = 0; i <= steps; ++i) {
    const double t = static_cast<double>(i) / steps;
    const double x = x0 + (x1 - x0) * t;
    const double wobble = std::sin(t * 9.0 + phase) * 0.6 + std::sin(t * 23.0 + phase * 2) * 0.4;
    const double yy = y - amplitude * wobble - amplitude * 1.5 * t * t;
    if (i == 0) {
      path.MoveToPoint(x, yy);
    } else {
      path.AddLineToPoint(x, yy);
    }
  }
  gc.SetPen(wxPen(colour, 2));
  gc.StrokePath(path);
}

wxImage RenderImage(const wxSize& size, void (*draw)(wxGraphicsContext&, const wxSize&)) {
  wxImage image(size);
  image.InitAlpha();
  std::fill_n(image.GetAlpha(), size.x * size.y, 0);
  {
    std::unique_ptr<wxGraphicsContext> gc(wxGraphicsContext::Create(image));
    if (gc) {
      gc->SetAntialiasMode(wxANTIALIAS_DEFAULT);
      draw(*gc, size);
    }
  }
  return image;
}

wxBitmap Render(const wxSize& size, void (*draw)(wxGraphicsContext&, const wxSize&)) {
  return wxBitmap(RenderImage(size, draw));
}

}  // namespace

wxImage MakeAppIconImage(int size) {
  return RenderImage(wxSize(size, size), [](wxGraphicsContext& gc, const wxSize& s) {
    const double r = s.x / 2.0 - 1;
    DrawDisc(gc, s.x / 2.0, s.y / 2.0, r);
    DrawCurve(gc, wxColour(227, 28, 187), s.x * 0.12, s.x * 0.88, s.y * 0.78, s.y * 0.05, 0.0);
  });
}

wxBitmap MakeAppIconBitmap(int size) { return wxBitmap(MakeAppIconImage(size)); }

wxIconBundle MakeAppIcons() {
  wxIconBundle icons;
  for (int size : {16, 32, 48, 64}) {
    wxIcon icon;
    icon.CopyFromBitmap(MakeAppIconBitmap(size));
    icons.AddIcon(icon);
  }
  return icons;
}

wxBitmap MakeBanner(const wxSize& size) {
  return Render(size, [](wxGraphicsContext& gc, const wxSize& s) {
    gc.SetPen(*wxTRANSPARENT_PEN);
    gc.SetBrush(
        gc.CreateLinearGradientBrush(0, 0, s.x, s.y, wxColour(16, 28, 64), wxColour(40, 72, 140)));
    gc.DrawRectangle(0, 0, s.x, s.y);

    // The two curves of a run, TE above FE, across the width.
    DrawCurve(gc, wxColour(227, 28, 187), s.y * 1.1, s.x - 8, s.y * 0.80, s.y * 0.06, 0.3);
    DrawCurve(gc, wxColour(18, 237, 221), s.y * 1.1, s.x - 8, s.y * 0.92, s.y * 0.04, 1.7);

    const double r = s.y * 0.42;
    DrawDisc(gc, s.y * 0.5, s.y * 0.5, r);

    wxFont title(wxFontInfo(static_cast<double>(s.y) * 0.36).FaceName("Arial").Bold());
    gc.SetFont(gc.CreateFont(title, wxColour(255, 255, 255)));
    gc.DrawText("Velmo", s.y * 1.1, s.y * 0.08);
    wxFont line(wxFontInfo(static_cast<double>(s.y) * 0.13).FaceName("Arial"));
    gc.SetFont(gc.CreateFont(line, wxColour(200, 215, 240)));
    gc.DrawText("TE/FE test of blank DVD media", s.y * 1.12, s.y * 0.52);
  });
}
