// The X server's view of a window, on a connection of the caller's own (so
// another thread may ask while the UI thread is busy). Kept apart from the
// test files: the X headers' macros clash with gtest's and wx's names.
#pragma once

#include <string>
#include <vector>

class CX11MapState {
 public:
  CX11MapState();
  ~CX11MapState();
  bool Connected() const { return m_display != nullptr; }
  // True once the window is no longer mapped (hidden or gone).
  bool Unmapped(unsigned long window) const;
  // The titles of the screen's mapped top-level windows (another process's
  // included).
  std::vector<std::string> MappedTitles() const;

 private:
  void* m_display = nullptr;
};

// The X window id of a GTK widget's window.
unsigned long XWindowOf(void* gtkWidget);
