#include "tests/app/x11_map_state.h"

#include <X11/Xlib.h>
#include <gdk/gdkx.h>
#include <gtk/gtk.h>

CX11MapState::CX11MapState() : m_display(XOpenDisplay(nullptr)) {}

CX11MapState::~CX11MapState() {
  if (m_display != nullptr) XCloseDisplay(static_cast<Display*>(m_display));
}

bool CX11MapState::Unmapped(unsigned long window) const {
  if (m_display == nullptr) return false;
  XWindowAttributes attributes{};
  if (XGetWindowAttributes(static_cast<Display*>(m_display), window, &attributes) == 0) return true;
  return attributes.map_state == IsUnmapped;
}

std::vector<std::string> CX11MapState::MappedTitles() const {
  std::vector<std::string> titles;
  if (m_display == nullptr) return titles;
  auto* display = static_cast<Display*>(m_display);
  Window root = 0, parent = 0;
  Window* children = nullptr;
  unsigned int count = 0;
  if (XQueryTree(display, DefaultRootWindow(display), &root, &parent, &children, &count) == 0)
    return titles;
  for (unsigned int i = 0; i < count; ++i) {
    XWindowAttributes attributes{};
    if (XGetWindowAttributes(display, children[i], &attributes) == 0) continue;
    if (attributes.map_state != IsViewable) continue;
    char* name = nullptr;
    if (XFetchName(display, children[i], &name) != 0 && name != nullptr) {
      titles.emplace_back(name);
      XFree(name);
    }
  }
  if (children != nullptr) XFree(children);
  return titles;
}

unsigned long XWindowOf(void* gtkWidget) {
  return GDK_WINDOW_XID(gtk_widget_get_window(static_cast<GtkWidget*>(gtkWidget)));
}
