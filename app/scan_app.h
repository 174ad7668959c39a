// The application object: reads the command line, builds the test console
// and ends when it closes.
#pragma once

#include <wx/app.h>
#include <wx/timer.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "session/run_options.h"

class CInterruptWatch;

class CScanApp : public wxApp {
 public:
  explicit CScanApp(RunOptions options = {});
  ~CScanApp() override;
  bool OnInit() override;
  int OnExit() override;

  // --demo-snapshot: an absolute path; the run's result goes to *exitCode,
  // which outlives the app (wxEntry deletes the app before it returns).
  void SetDemoSnapshot(std::string path, int* exitCode) {
    m_demoSnapshot = std::move(path);
    m_exitCode = exitCode;
  }
  // A record file to show once the window is up; empty for none.
  void SetRecordFile(std::string path) { m_recordFile = std::move(path); }

 private:
  void CloseOnSignal();

  RunOptions m_options;
  std::string m_demoSnapshot;
  std::string m_recordFile;
  std::unique_ptr<wxTimer> m_demo;
  int* m_exitCode = nullptr;
  std::unique_ptr<CInterruptWatch> m_interrupt;
  std::unique_ptr<wxTimer> m_boxWait;  // a signal's close waits for the boxes it ended
};

// 128 + the signal that closed the window (SIGTERM, SIGINT, SIGHUP, SIGPIPE),
// 0 when none did: velmo's exit code then, as a shell reports a process
// the signal ended.
int AppSignalExitCode();

// velmo's command line: the run options velmo-cli takes too, no command,
// --demo-snapshot=FILE (refused when demoSnapshot is null) and one record
// file to show (refused when recordFile is null).
std::optional<RunOptions> ParseAppOptions(const std::vector<std::string>& args, std::string* error,
                                          std::string* demoSnapshot = nullptr,
                                          std::string* recordFile = nullptr);
std::string AppUsage();
