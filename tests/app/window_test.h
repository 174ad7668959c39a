// The main window on a simulated scenario, as every window test opens it:
// whatever it would ask a person is answered by TestPrompts, and the window
// is closed after each test.
#pragma once

#include <gtest/gtest.h>
#include <wx/choice.h>
#include <wx/event.h>
#include <wx/image.h>
#include <wx/imagpng.h>

#include <filesystem>
#include <optional>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/lab_history_dlg.h"
#include "app/scan_dlg.h"
#include "app/user_prompts.h"
#include "app/window_capture.h"
#include "res/resource_ids.h"
#include "session/run_options.h"
#include "simulator/sim_drive.h"
#include "tests/app/gui_test_support.h"
#include "tests/support/test_paths.h"

// What the window asked, and the answers a test gives. A dialog without an
// answer set is the real one (a test may answer GTK's own dialog).
struct Prompted {
  std::vector<std::string> messages;
  // Every confirmation asked, and the answer (none set: the real box).
  std::vector<std::string> questions;
  std::function<bool(const std::string& question)> confirm;
  int notices = 0;
  bool keepDriveNotice = false;  // a notice is also kept as "(drive notice)"
  // Runs while the box would be up (the user has not closed it yet).
  std::function<void(const std::string&)> whileShown;
  std::function<bool(std::string*)> savePath;
  std::function<bool(std::string*)> openRecordPath;
  std::function<bool(const std::string& defaultName, std::string*)> reportPath;
  std::function<bool(std::string*)> reportFolder;
  // Instead of the print dialog.
  std::function<void(wxPrintout&, wxPrintDialogData&)> print;
  // Instead of ShowModal: the test drives the dialog.
  std::function<void(CSmartModeDlg&)> smartDialog;
  // Instead of Run, Lab History…'s ShowModal: true for Set.
  std::function<bool(CLabHistoryDlg&)> labDialog;
  // Told every status text as it is set.
  std::function<void(const std::string&)> statusShown;
};

class TestPrompts : public CWxPrompts {
 public:
  explicit TestPrompts(Prompted& seen) : m_seen(seen) {}
  void Message(wxWindow*, const std::string& text, const std::string&) override {
    m_seen.messages.push_back(text);
    if (m_seen.whileShown) m_seen.whileShown(text);
  }
  bool Confirm(wxWindow* parent, const std::string& question, const std::string& detail,
               const std::string& action) override {
    m_seen.questions.push_back(question);
    return m_seen.confirm ? m_seen.confirm(question)
                          : CWxPrompts::Confirm(parent, question, detail, action);
  }
  void DriveNotice(wxWindow*) override {
    ++m_seen.notices;
    if (m_seen.keepDriveNotice) m_seen.messages.push_back("(drive notice)");
  }
  void About(wxWindow*) override {}
  bool SavePicturePath(wxWindow* parent, std::string* path) override {
    return m_seen.savePath ? m_seen.savePath(path) : CWxPrompts::SavePicturePath(parent, path);
  }
  bool OpenRecordPath(wxWindow* parent, std::string* path) override {
    return m_seen.openRecordPath ? m_seen.openRecordPath(path)
                                 : CWxPrompts::OpenRecordPath(parent, path);
  }
  bool ReportPath(wxWindow* parent, const std::string& name, std::string* path) override {
    return m_seen.reportPath ? m_seen.reportPath(name, path)
                             : CWxPrompts::ReportPath(parent, name, path);
  }
  bool ReportFolder(wxWindow* parent, std::string* folder) override {
    return m_seen.reportFolder ? m_seen.reportFolder(folder)
                               : CWxPrompts::ReportFolder(parent, folder);
  }
  void Print(wxWindow* parent, wxPrintout& printout, wxPrintDialogData& data) override {
    if (m_seen.print) return m_seen.print(printout, data);
    CWxPrompts::Print(parent, printout, data);
  }
  void SmartDialog(CSmartModeDlg& dialog) override {
    if (m_seen.smartDialog) return m_seen.smartDialog(dialog);
    CWxPrompts::SmartDialog(dialog);
  }
  bool LabHistoryDialog(CLabHistoryDlg& dialog) override {
    return m_seen.labDialog ? m_seen.labDialog(dialog) : CWxPrompts::LabHistoryDialog(dialog);
  }
  void StatusShown(const std::string& text) override {
    if (m_seen.statusShown) m_seen.statusShown(text);
  }

 private:
  Prompted& m_seen;
};

// A window as it is on screen, for a person to look at: NAME.png among the
// tests' artefacts.
inline void SaveScreenshot(wxWindow* window, const std::string& name) {
  window->Update();
  for (int i = 0; i < 10; ++i) {  // what was drawn last reaches the screen
    Pump();
    wxMilliSleep(20);
  }
  const std::optional<WindowImage> image = CaptureWindowImage(window, true);
  if (!image) return;
  std::filesystem::create_directories(velmo_test::ArtefactDir());
  if (wxImage::FindHandler(wxBITMAP_TYPE_PNG) == nullptr) wxImage::AddHandler(new wxPNGHandler);
  wxImage picture(image->width, image->height, const_cast<unsigned char*>(image->rgb.data()), true);
  picture.SaveFile(std::string(velmo_test::ArtefactDir()) + "/" + name + ".png", wxBITMAP_TYPE_PNG);
}

class WindowTest : public ::testing::Test {
 protected:
  // Opens the window on the scenario and lets its first events run;
  // m_opened is what OnInitDialog said.
  // insertDelayMs: when the simulated disc lands (-1: the simulator's own).
  void Open(const std::string& scenario, int latencyMs = 0, bool aspi = false,
            int insertDelayMs = -1) {
    RunOptions options;
    options.simulate = true;
    options.scenario = scenario;
    options.simLatencyMs = latencyMs;
    options.aspi = aspi;
    options.simInsertDelayMs = insertDelayMs;
    m_dialog = new CScanDlg(options, std::make_unique<TestPrompts>(m_seen));
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
  bool Enabled(int id) const { return m_dialog->Layout().Control(id)->IsEnabled(); }
  wxChoice* Choice(int id) const { return m_dialog->Layout().Get<wxChoice>(id); }
  // A button as a click sends it.
  void Click(int id) {
    wxCommandEvent event(wxEVT_BUTTON, id);
    event.SetEventObject(m_dialog->Layout().Control(id));
    m_dialog->Layout().Control(id)->GetEventHandler()->ProcessEvent(event);
  }
  // A list entry as the user picks it.
  void Choose(int id, int index) {
    Choice(id)->SetSelection(index);
    wxCommandEvent event(wxEVT_CHOICE, id);
    event.SetInt(index);
    event.SetEventObject(Choice(id));
    Choice(id)->GetEventHandler()->ProcessEvent(event);
  }
  // Waits for the run that ends as "ok" to be the window's last run.
  bool WaitForOkRun(int timeoutMs = 10000) {
    return WaitFor(
        [&] {
          return m_dialog->LastRunRecord() && m_dialog->LastRunRecord()->outcome == RunOutcome::kOk;
        },
        timeoutMs);
  }
  CSimDrive& SimDrive(size_t i) { return *m_dialog->Session()->SimDrives().at(i); }

  Prompted m_seen;
  CScanDlg* m_dialog = nullptr;
  bool m_opened = false;
};
