#include "app/scan_app.h"

#include <wx/image.h>

#include <cstdio>

#include "app/scan_dlg.h"
#include "app/user_prompts.h"
#include "simulator/sim_scenarios.h"

wxIMPLEMENT_APP_NO_MAIN(CScanApp);

std::string AppUsage() {
  return "usage: velmo [--simulate[=SCENARIO]] [--transport=spti|aspi] [--sim-latency=MS]\n"
         "             [--trace=FILE]\n"
         "\n"
         "  --simulate[=SCENARIO]  run on the built-in drive simulator instead of this\n"
         "                         machine's drives (velmo-cli --simulate=help lists scenarios)\n"
         "  --transport=spti|aspi  pass-through (default) or the ASPI layer (simulator only)\n"
         "  --sim-latency=MS       simulated time per TE/FE sample\n"
         "  --trace=FILE           write every command sent to the drive, with its answer\n"
         "  --help, --version\n";
}

std::optional<CliOptions> ParseAppOptions(const std::vector<std::string>& args,
                                          std::string* error) {
  auto options = ParseCliOptions(args, error);
  if (!options) return std::nullopt;
  if (!options->command.empty()) {
    *error = "unexpected argument '" + options->command + "'";
    return std::nullopt;
  }
  // The window takes its run settings from its own controls.
  const CliOptions defaults;
  if (options->speed || options->density != defaults.density || options->logFile != defaults.logFile ||
      !options->csvFile.empty() || !options->jsonFile.empty() || !options->chartFile.empty() ||
      options->drive != defaults.drive) {
    *error = "--drive, --speed, --density, --log, --csv, --json and --chart are velmo-cli's";
    return std::nullopt;
  }
  if (options->simulate && !options->scenario.empty() &&
      FindSimScenario(options->scenario) == nullptr) {
    *error = "unknown scenario '" + options->scenario + "' (velmo-cli --simulate=help lists them)";
    return std::nullopt;
  }
  return options;
}

bool CScanApp::OnInit() {
  SetAppName(kAppName);
  wxInitAllImageHandlers();
  auto* dialog = new CScanDlg(m_options, std::make_unique<CWxPrompts>());
  SetTopWindow(dialog);
  dialog->Show();
  dialog->OnInitDialog();
  return true;
}

// The command line is read before wx starts, so --help and option errors
// need no display.
int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  std::string error;
  auto options = ParseAppOptions(args, &error);
  if (!options) {
    std::fprintf(stderr, "velmo: %s\n\n%s", error.c_str(), AppUsage().c_str());
    return kExitUsage;
  }
  if (options->help) {
    std::fputs(AppUsage().c_str(), stdout);
    return kExitOk;
  }
  if (options->version) {
    std::puts("velmo 1.0.0");
    return kExitOk;
  }
  if (options->listScenarios) {
    for (const SimScenario& scenario : SimScenarios()) {
      std::printf("  %-20s %s\n", scenario.name.c_str(), scenario.description.c_str());
    }
    return kExitOk;
  }
  auto* app = new CScanApp(*options);
  wxApp::SetInstance(app);
  int wxArgc = 1;
  char* wxArgv[] = {argv[0], nullptr};
  return wxEntry(wxArgc, wxArgv);
}
