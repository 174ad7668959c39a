// Waiting for the window system in the window tests, and reading what it
// shows.
#pragma once

#include <gtk/gtk.h>
#include <wx/app.h>
#include <wx/bitmap.h>
#include <wx/dcclient.h>
#include <wx/dcmemory.h>
#include <wx/utils.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>

inline void Pump() {
  wxYield();
  wxTheApp->ProcessPendingEvents();
  wxTheApp->ProcessIdle();
}

inline bool WaitFor(const std::function<bool()>& done, int timeoutMs = 10000) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (std::chrono::steady_clock::now() < until) {
    Pump();
    if (done()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return done();
}

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// Red text pixels in a window's client area, as painted.
inline int RedPixels(wxWindow* window) {
  const wxSize size = window->GetClientSize();
  wxBitmap bitmap(size.x, size.y, 24);
  {
    wxMemoryDC memory(bitmap);
    wxClientDC client(window);
    memory.Blit(0, 0, size.x, size.y, &client, 0, 0);
  }
  const wxImage image = bitmap.ConvertToImage();
  int red = 0;
  for (int y = 0; y < image.GetHeight(); ++y) {
    for (int x = 0; x < image.GetWidth(); ++x) {
      if (image.GetRed(x, y) > 160 && image.GetGreen(x, y) < 90 && image.GetBlue(x, y) < 90) ++red;
    }
  }
  return red;
}

// Presses Print in GTK's print dialog (a g_timeout_add source): GTK prints
// to its file printer only from there.
inline gboolean PressPrintInGtkDialog(gpointer) {
  GList* windows = gtk_window_list_toplevels();
  for (GList* at = windows; at != nullptr; at = at->next) {
    if (std::string(G_OBJECT_TYPE_NAME(at->data)) == "GtkPrintUnixDialog") {
      gtk_dialog_response(GTK_DIALOG(at->data), GTK_RESPONSE_OK);
    }
  }
  g_list_free(windows);
  return G_SOURCE_REMOVE;
}
