#include "app/lab_push.h"

wxDEFINE_EVENT(kLabPushedEvent, wxThreadEvent);

void CLabPusher::Push(const std::string& localPath, const std::string& url) {
  if (m_stopped || localPath.empty() || url.empty()) return;
  m_localPath = localPath;
  m_url = url;
  if (Busy()) {
    m_again = true;
    return;
  }
  Start();
}

void CLabPusher::Start() {
  m_again = false;
  m_thread = std::thread([this, local = m_localPath, url = m_url] {
    m_outcome = PushPendingRuns(local, url, false, &m_stop, kLabPushTimeoutMs);
    wxQueueEvent(m_sink, new wxThreadEvent(kLabPushedEvent));
  });
}

LabPush CLabPusher::Ended() {
  if (!Busy()) return {};
  m_thread.join();
  LabPush outcome = m_outcome;
  if (m_again && !m_stopped) Start();
  return outcome;
}

void CLabPusher::Stop() {
  m_stopped = true;
  m_stop = true;
  if (m_thread.joinable()) m_thread.join();
}
