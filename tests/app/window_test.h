// The main window on a simulated scenario, as the window tests open it: the
// message boxes it would show are kept as texts instead, and the window is
// closed after each test.
#pragma once

#include <gtest/gtest.h>
#include <wx/event.h>

#include <memory>
#include <string>
#include <vector>

#include "app/scan_dlg.h"
#include "app/user_prompts.h"
#include "res/resource_ids.h"
#include "session/run_options.h"
#include "tests/app/gui_test_support.h"

// Keeps the text of every message box; a drive notice is kept as
// "(drive notice)" when asked for, else it passes unseen.
class KeptPrompts : public UserPrompts {
 public:
  KeptPrompts(std::vector<std::string>& seen, bool keepDriveNotice)
      : m_seen(seen), m_keepDriveNotice(keepDriveNotice) {}
  void Message(wxWindow*, const std::string& text, const std::string&) override {
    m_seen.push_back(text);
  }
  void DriveNotice(wxWindow*) override {
    if (m_keepDriveNotice) m_seen.push_back("(drive notice)");
  }
  void About(wxWindow*) override {}

 private:
  std::vector<std::string>& m_seen;
  bool m_keepDriveNotice;
};

class WindowTest : public ::testing::Test {
 protected:
  // Opens the window on the scenario and lets its first events run;
  // m_opened is what OnInitDialog said.
  void OpenWindow(const std::string& scenario, int latencyMs = 0, bool keepDriveNotice = false) {
    RunOptions options;
    options.simulate = true;
    options.scenario = scenario;
    options.simLatencyMs = latencyMs;
    m_dialog = new CScanDlg(options, std::make_unique<KeptPrompts>(m_messages, keepDriveNotice));
    m_dialog->Show();
    m_opened = m_dialog->OnInitDialog();
    Pump();
  }
  void TearDown() override {
    if (m_dialog != nullptr) m_dialog->Close(true);
    for (int i = 0; i < 5; ++i) Pump();
  }
  std::string Text(int id) const {
    return m_dialog->Layout().Control(id)->GetLabel().utf8_string();
  }
  std::string Status() const { return Text(IDC_STATUS); }
  bool WaitStatus(const std::string& text, int timeoutMs = 10000) {
    return WaitFor([&] { return Status() == text; }, timeoutMs);
  }
  // A button as a click sends it.
  void Click(int id) {
    wxCommandEvent event(wxEVT_BUTTON, id);
    event.SetEventObject(m_dialog->Layout().Control(id));
    m_dialog->Layout().Control(id)->GetEventHandler()->ProcessEvent(event);
  }

  std::vector<std::string> m_messages;
  CScanDlg* m_dialog = nullptr;
  bool m_opened = false;
};
