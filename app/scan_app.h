// The application object: reads the command line, builds the test console
// and ends when it closes.
#pragma once

#include <wx/app.h>

#include <optional>
#include <string>
#include <vector>

#include "cli/cli_options.h"

class CScanApp : public wxApp {
 public:
  explicit CScanApp(CliOptions options = {}) : m_options(std::move(options)) {}
  bool OnInit() override;

 private:
  CliOptions m_options;
};

// velmo's command line: velmo-cli's device and simulator options, no command.
std::optional<CliOptions> ParseAppOptions(const std::vector<std::string>& args,
                                          std::string* error);
std::string AppUsage();
