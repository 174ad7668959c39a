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

unsigned long XWindowOf(void* gtkWidget) {
  return GDK_WINDOW_XID(gtk_widget_get_window(static_cast<GtkWidget*>(gtkWidget)));
}
