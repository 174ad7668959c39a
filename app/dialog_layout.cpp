#include "app/dialog_layout.h"

#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/choice.h>
#include <wx/gauge.h>
#include <wx/listctrl.h>
#include <wx/statbmp.h>
#include <wx/statbox.h>
#include <wx/statline.h>
#include <wx/stattext.h>

#include <algorithm>
#include <map>
#include <mutex>
#include <string>
#include <utility>

#include <gtk/gtk.h>
#include <pango/pangocairo.h>

#include "app/app_art.h"
#include "app/sunken_text.h"

#include <wx/dcclient.h>

wxFont TemplateFont(const DialogTemplate& dialog) {
  return wxFont(wxFontInfo(dialog.fontPoints).FaceName(dialog.fontFace));
}

wxSize DialogBaseUnits(const char* face, int points) {
  // Measured once a font: every new font map starts Pango's font-loading
  // thread again, and the answer cannot change within a process.
  static std::mutex lock;
  static std::map<std::pair<std::string, int>, wxSize> measured;
  std::lock_guard<std::mutex> hold(lock);
  const auto key = std::make_pair(std::string(face), points);
  if (auto found = measured.find(key); found != measured.end()) return found->second;
  // The template's font as a 96-dpi screen draws it, whatever resolution
  // the desktop reports: a pango context of its own at 96 dpi, kept for
  // the life of the process.
  static PangoFontMap* fonts = [] {
    PangoFontMap* map = pango_cairo_font_map_new();
    pango_cairo_font_map_set_resolution(PANGO_CAIRO_FONT_MAP(map), 96.0);
    return map;
  }();
  PangoContext* context = pango_font_map_create_context(fonts);
  PangoFontDescription* description = pango_font_description_new();
  pango_font_description_set_family(description, face);
  pango_font_description_set_size(description, points * PANGO_SCALE);
  PangoFontMetrics* metrics = pango_context_get_metrics(context, description, nullptr);
  // Ascent and descent each rounded up to whole pixels, as a 96-dpi screen
  // font has them.
  const int ascent = PANGO_PIXELS_CEIL(pango_font_metrics_get_ascent(metrics));
  const int descent = PANGO_PIXELS_CEIL(pango_font_metrics_get_descent(metrics));
  pango_font_metrics_unref(metrics);
  PangoLayout* layout = pango_layout_new(context);
  pango_layout_set_font_description(layout, description);
  pango_layout_set_text(layout, "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz", -1);
  int width = 0;
  pango_layout_get_pixel_size(layout, &width, nullptr);
  g_object_unref(layout);
  pango_font_description_free(description);
  g_object_unref(context);
  // The average letter width rounded as the dialog framework rounds it.
  const int average = (width / 26 + 1) / 2;
  const int height = ascent + descent;
  const wxSize units = average <= 0 || height <= 0 ? wxSize(6, 13) : wxSize(average, height);
  measured.emplace(key, units);
  return units;
}

namespace {

// GTK's drop-down button pads its text and arrow for a touch screen; in a
// box as wide as the template's, "12X => (16620 Kb/s)" would lose its end.
// The lists keep a plain list's padding instead.
void NarrowListPadding(wxChoice* choice) {
  static GtkCssProvider* provider = [] {
    GtkCssProvider* css = gtk_css_provider_new();
    gtk_css_provider_load_from_data(
        css,
        "combobox#velmo-list button.combo { padding-left: 4px; padding-right: 2px; }"
        "combobox#velmo-list arrow { min-width: 12px; }",
        -1, nullptr);
    gtk_style_context_add_provider_for_screen(gdk_screen_get_default(), GTK_STYLE_PROVIDER(css),
                                              GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
    return css;
  }();
  (void)provider;
  gtk_widget_set_name(choice->GetHandle(), "velmo-list");
}

// a x b / c rounded to the nearest, as the dialog framework scales.
int MulDiv(int a, int b, int c) { return (a * b + (a * b >= 0 ? c / 2 : -c / 2)) / c; }

}  // namespace

wxSize CDialogLayout::ClientSizeOf(const DialogTemplate& dialog) {
  const wxSize base = DialogBaseUnits(dialog.fontFace, dialog.fontPoints);
  return wxSize(MulDiv(dialog.width, base.x, 4), MulDiv(dialog.height, base.y, 8));
}

wxSize CDialogLayout::ToPixels(int width, int height) const {
  return wxSize(MulDiv(width, m_baseUnits.x, 4), MulDiv(height, m_baseUnits.y, 8));
}

wxPoint CDialogLayout::ToPixels(const wxPoint& units) const {
  return wxPoint(MulDiv(units.x, m_baseUnits.x, 4), MulDiv(units.y, m_baseUnits.y, 8));
}

wxRect CDialogLayout::ToPixels(const ControlTemplate& control) const {
  const wxPoint origin = ToPixels(wxPoint(control.x, control.y));
  return wxRect(origin, ToPixels(control.width, control.height));
}

wxWindow* CDialogLayout::Control(int id) const {
  auto found = m_controls.find(id);
  return found == m_controls.end() ? nullptr : found->second;
}

void CDialogLayout::Build(wxWindow* parent, const DialogTemplate& dialog) {
  m_parent = parent;
  m_font = TemplateFont(dialog);
  parent->SetFont(m_font);
  m_baseUnits = DialogBaseUnits(dialog.fontFace, dialog.fontPoints);
  m_clientSize = ToPixels(dialog.width, dialog.height);

  for (const ControlTemplate& control : dialog.controls) {
    const wxRect rect = ToPixels(control);
    // wx ids must not be 0 or collide with its own; -1 asks for a fresh one.
    const wxWindowID id = control.id >= 0 ? control.id : wxID_ANY;
    const wxString text = wxString::FromUTF8(control.text);
    const bool sunken = (control.style & kStyleSunken) != 0;
    wxWindow* window = nullptr;
    switch (control.kind) {
      case ControlKind::kStatic:
        if ((control.style & (kStyleSunkenFrame | kStyleBlackFrame)) && control.id < 0 &&
            control.height > 1 && control.width > 1) {
          // A frame without id is drawn on the parent: a window would hide
          // the controls that sit inside it.
          m_frames.push_back({rect, (control.style & kStyleBlackFrame) != 0, sunken});
        } else if (control.style & kStyleSunkenFrame) {
          if (control.height <= 1 || control.width <= 1) {
            window = new wxStaticLine(parent, id, rect.GetPosition(), wxSize(rect.width, 2),
                                      control.height <= 1 ? wxLI_HORIZONTAL : wxLI_VERTICAL);
          } else {
            window = new wxWindow(parent, id, rect.GetPosition(), rect.GetSize(), wxBORDER_SUNKEN);
          }
        } else if (sunken) {
          window = new CSunkenText(parent, id, text, rect.GetPosition(), rect.GetSize());
        } else {
          long style = wxST_NO_AUTORESIZE;
          if (control.style & kStyleCentred) style |= wxALIGN_CENTRE_HORIZONTAL;
          if (control.style & kStyleRight) style |= wxALIGN_RIGHT;
          if (control.style & kStyleStaticEdge) style |= wxBORDER_STATIC;
          window = new wxStaticText(parent, id, text, rect.GetPosition(), rect.GetSize(), style);
        }
        break;
      case ControlKind::kGroupBox:
        window = new wxStaticBox(parent, id, text, rect.GetPosition(), rect.GetSize());
        break;
      case ControlKind::kDropDownList: {
        // The template height is the dropped list's; the closed box keeps
        // its natural height.
        auto* choice = new wxChoice(parent, id, rect.GetPosition(), wxSize(rect.width, -1));
        NarrowListPadding(choice);
        window = choice;
        break;
      }
      case ControlKind::kPushButton: {
        long style = 0;
        window = new wxButton(parent, id, text, rect.GetPosition(), rect.GetSize(), style);
        if (control.style & kStyleDefault) static_cast<wxButton*>(window)->SetDefault();
        break;
      }
      case ControlKind::kAutoCheckBox: {
        // GTK draws its check mark larger than a dialog-unit line: keep the
        // natural size (GTK complains when given less), centred on the
        // template's row.
        auto* check = new wxCheckBox(parent, id, text, rect.GetPosition(), wxSize(rect.width, -1));
        const wxSize best = check->GetBestSize();
        const int height = std::max(rect.height, best.y);
        check->SetSize(rect.x, rect.y - (height - rect.height) / 2, std::max(rect.width, best.x),
                       height);
        window = check;
        break;
      }
      case ControlKind::kIcon:
        window = new wxStaticBitmap(parent, id, MakeAppIconBitmap(32), rect.GetPosition(),
                                    rect.GetSize());
        break;
      case ControlKind::kBitmap:
        window = new wxStaticBitmap(parent, id, wxNullBitmap, rect.GetPosition(), rect.GetSize());
        m_bitmaps.push_back(window);
        break;
      case ControlKind::kListView:
        window = new wxListCtrl(parent, id, rect.GetPosition(), rect.GetSize(),
                                wxLC_REPORT | wxBORDER_SUNKEN);
        break;
      case ControlKind::kProgressBar:
        window = new wxGauge(parent, id, 100, rect.GetPosition(), rect.GetSize());
        break;
    }
    if (window != nullptr && control.id >= 0) m_controls[control.id] = window;
  }
  if (!m_frames.empty()) parent->Bind(wxEVT_PAINT, &CDialogLayout::PaintFrames, this);
}

void CDialogLayout::PaintFrames(wxPaintEvent&) {
  wxPaintDC dc(m_parent);
  for (const Frame& frame : m_frames) {
    const wxRect& r = frame.rect;
    if (frame.black) {
      dc.SetPen(*wxBLACK_PEN);
      dc.SetBrush(*wxTRANSPARENT_BRUSH);
      dc.DrawRectangle(r);
      if (!frame.sunken) continue;
      // A sunken black frame: the black rectangle inside a sunken edge
      // (shadow above and left, light below and right) one pixel around it.
      const wxRect edge = r.Inflate(1, 1);
      dc.SetPen(wxPen(wxColour(128, 128, 128)));
      dc.DrawLine(edge.GetLeft(), edge.GetTop(), edge.GetRight(), edge.GetTop());
      dc.DrawLine(edge.GetLeft(), edge.GetTop(), edge.GetLeft(), edge.GetBottom());
      dc.SetPen(*wxWHITE_PEN);
      dc.DrawLine(edge.GetLeft(), edge.GetBottom(), edge.GetRight() + 1, edge.GetBottom());
      dc.DrawLine(edge.GetRight(), edge.GetTop(), edge.GetRight(), edge.GetBottom());
      continue;
    }
    // Sunken: shadow above and left, light below and right.
    dc.SetPen(wxPen(wxColour(128, 128, 128)));
    dc.DrawLine(r.GetLeft(), r.GetTop(), r.GetRight(), r.GetTop());
    dc.DrawLine(r.GetLeft(), r.GetTop(), r.GetLeft(), r.GetBottom());
    dc.SetPen(*wxWHITE_PEN);
    dc.DrawLine(r.GetLeft(), r.GetBottom(), r.GetRight() + 1, r.GetBottom());
    dc.DrawLine(r.GetRight(), r.GetTop(), r.GetRight(), r.GetBottom());
  }
}

void EnableKeepingFocus(wxWindow* control, bool enable) {
  if (control == nullptr) return;
  const bool hadFocus = !enable && wxWindow::FindFocus() == control;
  control->Enable(enable);
  if (!hadFocus || control->GetParent() == nullptr) return;
  const wxWindowList& siblings = control->GetParent()->GetChildren();
  auto at = siblings.Find(control);
  if (at == nullptr) return;
  // The ones after it, then from the start again.
  for (size_t step = 1; step < siblings.GetCount(); ++step) {
    at = at->GetNext() != nullptr ? at->GetNext() : siblings.GetFirst();
    wxWindow* next = at->GetData();
    if (next->IsShown() && next->IsEnabled() && next->CanAcceptFocus() && !next->IsTopLevel()) {
      next->SetFocus();
      return;
    }
  }
}
