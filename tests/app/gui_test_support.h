// Waiting for the window system in the window tests.
#pragma once

#include <wx/app.h>
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
