// The runs kept here sent to the lab history by a worker thread, so a run
// never waits for the server: one push at a time, and one asked for while
// another goes runs after it. The worker touches no window: its outcome
// comes back as a kLabPushedEvent queued to the handler given, on the UI
// thread. Stopping (the window closing) sets the push's stop flag and joins.
//
// UI thread only (but for the worker itself).
#pragma once

#include <wx/event.h>

#include <atomic>
#include <string>
#include <thread>

#include "history/lab_history.h"

wxDECLARE_EVENT(kLabPushedEvent, wxThreadEvent);

class CLabPusher {
 public:
  // sink: told kLabPushedEvent when a push has ended; it outlives this.
  explicit CLabPusher(wxEvtHandler* sink) : m_sink(sink) {}
  ~CLabPusher() { Stop(); }
  CLabPusher(const CLabPusher&) = delete;
  CLabPusher& operator=(const CLabPusher&) = delete;

  // Sends localPath's pending runs to url: now, or after the push going.
  // Nothing after Stop.
  void Push(const std::string& localPath, const std::string& url);
  // On kLabPushedEvent: the ended push's outcome; a push asked for meanwhile
  // starts.
  LabPush Ended();
  bool Busy() const { return m_thread.joinable(); }
  // Ends the push going as soon as it can, and takes no more.
  void Stop();

 private:
  void Start();

  wxEvtHandler* m_sink;
  std::thread m_thread;
  std::atomic<bool> m_stop{false};
  bool m_stopped = false;
  bool m_again = false;
  std::string m_localPath;
  std::string m_url;
  LabPush m_outcome;  // the worker's, read once it is joined
};

// How long a push waits for the server before it gives up (the runs wait).
inline constexpr int kLabPushTimeoutMs = 5000;
