#include "app/scan_app.h"

#include <wx/filename.h>
#include <wx/image.h>
#include <wx/timer.h>

#include <gdk/gdk.h>
#include <gtk/gtk.h>
#include <wx/dialog.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iterator>

#include "app/command_ids.h"
#include "app/scan_dlg.h"
#include "app/user_prompts.h"
#include "res/resource_ids.h"
#include "session/drive_session.h"
#include "session/interrupt_watch.h"
#include "session/sim_catalogue.h"
#include "session/standard_fds.h"
#include "session/terminal_text.h"
#include "snapshot/bmp_file_name.h"

wxIMPLEMENT_APP_NO_MAIN(CScanApp);

namespace {

const auto g_started = std::chrono::steady_clock::now();

std::atomic<int> g_signalExitCode{0};

long MillisSinceStart() {
  return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                               std::chrono::steady_clock::now() - g_started)
                               .count());
}

constexpr char kDemoOption[] = "--demo-snapshot=";

// Boxes up when a signal comes are answered as Escape answers them, so the
// close does not wait for a person: wx's own dialogs, and the native GTK
// ones (the message boxes, the file and print dialogs) that wx runs with
// gtk_dialog_run. True while one is still up.
bool EndModalBoxes() {
  bool ended = false;
  for (wxWindow* window : wxTopLevelWindows) {
    auto* dialog = dynamic_cast<wxDialog*>(window);
    if (dialog != nullptr && dialog->IsModal() && !GTK_IS_DIALOG(dialog->GetHandle())) {
      dialog->EndModal(wxID_CANCEL);
      ended = true;
    }
  }
  GList* windows = gtk_window_list_toplevels();
  for (GList* at = windows; at != nullptr; at = at->next) {
    if (GTK_IS_DIALOG(at->data) && gtk_widget_get_visible(GTK_WIDGET(at->data)) &&
        gtk_window_get_modal(GTK_WINDOW(at->data))) {
      gtk_dialog_response(GTK_DIALOG(at->data), GTK_RESPONSE_CANCEL);
      ended = true;
    }
  }
  g_list_free(windows);
  return ended;
}

// How long a close waits between looks at the boxes it ended.
constexpr int kBoxWaitMs = 20;

// velmo-cli's exit codes for a usage error and for help or version.
constexpr int kAppExitUsage = 64;
constexpr int kAppExitOk = 0;
constexpr int kAppExitBadRecording = 65;
constexpr int kAppExitNoRecording = 66;

// velmo-cli's options with a value that the window takes from its controls.
constexpr const char* kCliOnlyValueOptions[] = {"--speed", "--density", "--log",
                                                "--csv",   "--json",    "--chart"};

// The documentation run answers every prompt on standard error, so nothing
// waits for a person; File, Save writes to savePath.
class CDemoPrompts : public CWxPrompts {
 public:
  void Message(wxWindow*, const std::string& text, const std::string&) override {
    std::fprintf(stderr, "velmo: %s\n", text.c_str());
    ++messages;
  }
  void DriveNotice(wxWindow*) override {
    std::fputs("velmo: the drive refuses the diagnostic mode\n", stderr);
  }
  void About(wxWindow*) override {}
  bool SavePicturePath(wxWindow*, std::string* path) override {
    *path = savePath;
    return true;
  }
  int messages = 0;
  std::string savePath;
};

// Waits for the disc, presses START, and once the verdict is in saves the
// window through File, Save and closes it.
class CDemoDriver : public wxTimer {
 public:
  CDemoDriver(CScanDlg* dialog, CDemoPrompts* prompts, std::string path, int* exitCode)
      : m_dialog(dialog), m_prompts(prompts), m_path(std::move(path)), m_exitCode(exitCode) {}

  void Notify() override {
    m_ticks++;
    if (m_ticks > kTimeoutTicks) return Finish("no verdict in time", 1);
    wxWindow* start = m_dialog->Layout().Control(IDC_START);
    if (m_step == Step::kWaitDisc && start->IsEnabled()) {
      m_messagesBefore = m_prompts->messages;
      wxCommandEvent click(wxEVT_BUTTON, IDC_START);
      click.SetEventObject(start);
      start->GetEventHandler()->ProcessEvent(click);
      m_step = Step::kWaitVerdict;
    } else if (m_step == Step::kWaitVerdict && m_dialog->ScanWorker() != nullptr &&
               m_dialog->ScanWorker()->Finished() && m_prompts->messages > m_messagesBefore) {
      m_step = Step::kSave;
    } else if (m_step == Step::kSave) {
      const int before = m_prompts->messages;
      m_prompts->savePath = m_path;
      wxCommandEvent save(wxEVT_MENU, ToWxId(ID_FILE_SAVE));
      m_dialog->GetEventHandler()->ProcessEvent(save);
      const bool saved = m_prompts->messages > before && wxFileExists(wxString::FromUTF8(m_path));
      Finish(saved ? "" : "the window could not be saved", saved ? 0 : 1);
    }
  }

 private:
  enum class Step { kWaitDisc, kWaitVerdict, kSave };
  static constexpr int kTimeoutTicks = 1200;  // two minutes at 100 ms

  void Finish(const char* error, int code) {
    Stop();
    if (*error != 0) std::fprintf(stderr, "velmo: --demo-snapshot: %s\n", error);
    *m_exitCode = code;
    m_dialog->Close();
  }

  CScanDlg* m_dialog;
  CDemoPrompts* m_prompts;
  std::string m_path;
  int* m_exitCode;
  Step m_step = Step::kWaitDisc;
  int m_ticks = 0;
  int m_messagesBefore = 0;
};

}  // namespace

std::string AppUsage() {
  return "usage: velmo [--simulate[=SCENARIO]] [--transport=spti|aspi] [--sim-latency=MS]\n"
         "             [--trace=FILE] [--no-history] [--history URL] [RECORD.json]\n"
         "\n"
         "  RECORD.json            show a scan record (velmo-cli scan --json) as a\n"
         "                         recorded run; START leaves it\n"
         "  --simulate[=SCENARIO]  run on the built-in drive simulator instead of this\n"
         "                         machine's drives (velmo-cli --simulate=help lists scenarios)\n"
         "  --transport=spti|aspi  pass-through (default) or the ASPI layer (simulator only)\n"
         "  --simulate=replay:FILE answer from a trace written with --trace\n"
         "  --sim-latency=MS       simulated time per TE/FE sample (recorded: a replay's\n"
         "                         recorded times)\n"
         "  --trace=FILE           write every command sent to the drive, with its answer\n"
         "  --no-history           keep none of this session's runs in the history\n"
         "  --history URL          a lab's shared history (postgresql://...): read it and\n"
         "                         send runs there (else VELMO_HISTORY, else Run, Lab History)\n"
         "  --demo-snapshot=FILE   for documentation screenshots: wait for the disc, run\n"
         "                         one scan, save the window to FILE (BMP) and quit; prompts\n"
         "                         go to standard error and the start-up time is printed\n"
         "  --help, --version\n";
}

std::optional<RunOptions> ParseAppOptions(const std::vector<std::string>& args, std::string* error,
                                          std::string* demoSnapshot, std::string* recordFile) {
  RunOptions options;
  std::string command;  // a record file to show, where one is taken
  bool cliOnly = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    std::string value;
    if (arg.rfind(kDemoOption, 0) == 0) {
      const std::string path = arg.substr(sizeof(kDemoOption) - 1);
      if (path.empty() || demoSnapshot == nullptr) {
        *error = "--demo-snapshot needs a file name";
        return std::nullopt;
      }
      *demoSnapshot = path;
    } else if (TakeRunOption(args, &i, &options, error)) {
      if (!error->empty()) return std::nullopt;
    } else if (std::any_of(std::begin(kCliOnlyValueOptions), std::end(kCliOnlyValueOptions),
                           [&](const char* name) { return TakeValue(args, &i, name, &value); })) {
      cliOnly = true;
    } else if (!arg.empty() && arg[0] == '-') {
      // A value option as the last word: TakeValue found no value for it.
      for (const char* name : {"--transport", "--sim-latency", "--drive", "--trace"}) {
        if (arg == name) {
          *error = "option '" + arg + "' needs a value";
          return std::nullopt;
        }
      }
      for (const char* name : kCliOnlyValueOptions) {
        if (arg == name) {
          *error = "option '" + arg + "' needs a value";
          return std::nullopt;
        }
      }
      *error = "unknown option '" + arg + "'";
      return std::nullopt;
    } else if (command.empty() && recordFile != nullptr) {
      command = arg;
    } else {
      *error = "unexpected argument '" + arg + "'";
      return std::nullopt;
    }
  }
  if (const std::string run = CheckRunOptions(options); !run.empty()) {
    *error = run;
    return std::nullopt;
  }
  if (!command.empty()) *recordFile = command;
  // The window takes its run settings from its own controls.
  if (cliOnly || options.drive != RunOptions().drive || options.driveAll) {
    *error = "--drive, --speed, --density, --log, --csv, --json and --chart are velmo-cli's";
    return std::nullopt;
  }
  if (options.simulate && !options.scenario.empty() && !IsSimScenario(options.scenario)) {
    *error = "unknown scenario '" + options.scenario + "' (velmo-cli --simulate=help lists them)";
    return std::nullopt;
  }
  return options;
}

int AppSignalExitCode() { return g_signalExitCode.load(); }

CScanApp::CScanApp(RunOptions options) : m_options(std::move(options)) {}

CScanApp::~CScanApp() = default;

// A signal takes the close box's path: the window goes at once, the run
// stops once its pending command has returned, the drive leaves its
// diagnostic mode, the run is kept as stopped and the locks are let go.
void CScanApp::CloseOnSignal() {
  g_signalExitCode = m_interrupt->ExitCode();
  // Closed once every box has returned, not from inside a box's own loop
  // with the code after it still to run (the box is the window's child).
  // A timer, not CallAfter: pending calls would all run within the box's
  // loop before it can return.
  if (EndModalBoxes()) {
    if (!m_boxWait) {
      m_boxWait = std::make_unique<wxTimer>(this);
      Bind(
          wxEVT_TIMER, [this](wxTimerEvent&) { CloseOnSignal(); }, m_boxWait->GetId());
    }
    m_boxWait->StartOnce(kBoxWaitMs);
    return;
  }
  if (wxWindow* top = GetTopWindow()) {
    top->Close(true);
  } else {
    ExitMainLoop();
  }
}

bool CScanApp::OnInit() {
  SetAppName(kAppName);
  wxInitAllImageHandlers();
  const bool demo = !m_demoSnapshot.empty();
  auto demoPrompts = std::make_unique<CDemoPrompts>();
  CDemoPrompts* demoSeen = demoPrompts.get();
  std::unique_ptr<UserPrompts> prompts;
  if (demo) {
    prompts = std::move(demoPrompts);
  } else {
    prompts = std::make_unique<CWxPrompts>();
  }
  auto* dialog = new CScanDlg(m_options, std::move(prompts));
  SetTopWindow(dialog);
  // The handler only wakes the watcher; the window is closed on the UI
  // thread, as a click on the close box would be.
  m_interrupt = std::make_unique<CInterruptWatch>();
  m_interrupt->OnInterrupt([this] { CallAfter([this] { CloseOnSignal(); }); });
  m_interrupt->OnAgain([] {
    std::fputs(
        "velmo: closing: waiting for the drive to answer its pending command, then "
        "leaving the diagnostic mode\n",
        stderr);
  });
  dialog->Show();
  dialog->OnInitDialog();
  // From the main loop: a box saying why it cannot be read closes as any
  // other (a signal's close answers it).
  if (!m_recordFile.empty())
    dialog->CallAfter([dialog, path = m_recordFile] { dialog->OpenRecordOrSay(path); });
  if (demo) {
    // The first idle comes once the shown window has painted.
    dialog->Bind(wxEVT_IDLE, [shown = false](wxIdleEvent& event) mutable {
      if (!shown)
        std::fprintf(stderr, "velmo: window shown %ld ms after start\n", MillisSinceStart());
      shown = true;
      event.Skip();
    });
    m_demo = std::make_unique<CDemoDriver>(dialog, demoSeen, m_demoSnapshot, m_exitCode);
    m_demo->Start(100);
  }
  return true;
}

int CScanApp::OnExit() {
  m_demo.reset();
  m_interrupt.reset();
  m_boxWait.reset();
  return wxApp::OnExit();
}

// The command line is read before wx starts, so --help and option errors
// need no display.
int main(int argc, char** argv) {
  ReopenClosedStandardDescriptors();
  std::vector<std::string> args(argv + 1, argv + argc);
  std::string error;
  std::string demoSnapshot;
  std::string recordFile;
  auto options = ParseAppOptions(args, &error, &demoSnapshot, &recordFile);
  if (!options) {
    std::fprintf(stderr, "velmo: %s; try 'velmo --help'\n", error.c_str());
    return kAppExitUsage;
  }
  if (options->help) {
    std::fputs(AppUsage().c_str(), stdout);
    return kAppExitOk;
  }
  if (options->version) {
    std::puts("velmo " VELMO_VERSION);
    return kAppExitOk;
  }
  if (options->listScenarios) {
    std::fputs(SimScenarioLines().c_str(), stdout);
    return kAppExitOk;
  }
  // A recording that cannot be replayed is said as velmo-cli says it, with
  // no window to hide it behind.
  bool unreadable = false;
  if (const std::string refused = CheckReplayRecording(*options, &unreadable); !refused.empty()) {
    std::fprintf(stderr, "velmo: %s\n", TerminalText(refused).c_str());
    return unreadable ? kAppExitNoRecording : kAppExitBadRecording;
  }
  // Without a display GTK would abort the process; one line says why instead.
  if (!gdk_init_check(nullptr, nullptr)) {
    const char* display = std::getenv("DISPLAY");
    std::fprintf(stderr, "velmo: cannot open display '%s'; use velmo-cli for headless use\n",
                 display != nullptr ? display : "");
    return 1;
  }
  int demoExitCode = 1;
  auto* app = new CScanApp(*options);
  app->SetRecordFile(recordFile);
  if (!demoSnapshot.empty()) {
    // Save changes the working directory to the picture's folder.
    app->SetDemoSnapshot(
        WithBmpExtension(
            wxFileName(wxString::FromUTF8(demoSnapshot)).GetAbsolutePath().utf8_string()),
        &demoExitCode);
  }
  wxApp::SetInstance(app);
  int wxArgc = 1;
  char* wxArgv[] = {argv[0], nullptr};
  const int status = wxEntry(wxArgc, wxArgv);
  if (AppSignalExitCode() != 0) return AppSignalExitCode();
  return demoSnapshot.empty() ? status : demoExitCode;
}
