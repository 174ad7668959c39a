#include "app/run_choices.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>

#include <wx/fileconf.h>
#include <wx/sstream.h>

#include "app/lab_settings.h"
#include "files/input_file.h"
#include "session/output_file.h"

namespace {

constexpr char kAutostart[] = "/Run/StartOnBlankDisc";
constexpr char kEject[] = "/Run/EjectWhenDone";
constexpr char kReportDir[] = "/Run/ReportFolder";
constexpr char kFitChart[] = "/View/FitChartToReadings";
// A line of its own before the groups: history=URL.
constexpr char kHistoryUrl[] = "/history";

// What wxFileConfig would silently skip or half-read.
bool LooksDamaged(const std::string& text) {
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const size_t first = line.find_first_not_of(" \t");
    if (first == std::string::npos) continue;
    const char c = line[first];
    if (c == '#' || c == ';') continue;
    if (c == '[') {
      if (line.find(']', first) == std::string::npos) return true;
      continue;
    }
    if (line.find('=') == std::string::npos || line.find('\0') != std::string::npos) return true;
  }
  return false;
}

bool IsBool(const wxString& value) { return value == "0" || value == "1"; }

std::string Folder(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

}  // namespace

std::string RunChoicesPath() {
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  std::string base;
  if (xdg != nullptr && xdg[0] == '/') {
    base = xdg;
  } else {
    const char* home = std::getenv("HOME");
    base = std::string(home != nullptr ? home : ".") + "/.config";
  }
  return base + "/velmo/velmo.conf";
}

bool ParseRunChoices(const std::string& text, RunChoices* choices) {
  *choices = RunChoices{};
  if (LooksDamaged(text)) return false;
  wxStringInputStream stream(wxString::FromUTF8(text));
  wxFileConfig config(stream);
  wxString autostart = "0", eject = "0", folder, fitChart = "0";
  config.Read(kFitChart, &fitChart);
  config.Read(kAutostart, &autostart);
  config.Read(kEject, &eject);
  config.Read(kReportDir, &folder);
  // A URL's '$' is no variable of ours.
  config.SetExpandEnvVars(false);
  wxString url;
  config.Read(kHistoryUrl, &url);
  if (!IsBool(autostart) || !IsBool(eject) || !IsBool(fitChart)) return false;
  choices->fitChart = fitChart == "1";
  choices->autostart = autostart == "1";
  choices->eject = eject == "1";
  choices->reportDir = folder.utf8_string();
  // A password written into the file by hand is not taken either: the file
  // is no place for one, and what is read is what a save writes back.
  choices->historyUrl = UrlWithoutPassword(url.Strip(wxString::both).utf8_string());
  return true;
}

std::optional<std::string> RunChoicesText(const RunChoices& choices) {
  wxFileConfig config(wxEmptyString, wxEmptyString, wxEmptyString, wxEmptyString, 0);
  config.Write(kAutostart, choices.autostart ? "1" : "0");
  config.Write(kEject, choices.eject ? "1" : "0");
  config.Write(kReportDir, wxString::FromUTF8(choices.reportDir));
  if (choices.fitChart) config.Write(kFitChart, "1");
  // The password stays where libpq keeps it (~/.pgpass), never here.
  if (!choices.historyUrl.empty())
    config.Write(kHistoryUrl, wxString::FromUTF8(UrlWithoutPassword(choices.historyUrl)));
  wxStringOutputStream stream;
  if (!config.Save(stream)) return std::nullopt;
  return stream.GetString().utf8_string();
}

RunChoices LoadRunChoices(const std::string& path, std::string* message) {
  message->clear();
  RunChoices choices;
  std::string content, error;
  InputFileError kind = InputFileError::kNone;
  if (!ReadInputFile(path, kRunChoicesMaxBytes, &content, &kind, &error)) {
    // Not set aside: a FIFO or a device is not ours to move, and a file we
    // cannot read may be fine for its owner.
    if (kind != InputFileError::kMissing) {
      *message = "The settings file " + error +
                 "; it was left as it is and the Run menu starts from its defaults.";
    }
    return choices;
  }
  if (!ParseRunChoices(content, &choices)) {
    const std::string aside = path + ".damaged";
    std::rename(path.c_str(), aside.c_str());
    *message = "The settings file " + path + " was damaged; it was moved to " + aside +
               " and the Run menu starts from its defaults.";
    return RunChoices{};
  }
  return choices;
}

bool SaveRunChoices(const std::string& path, const RunChoices& choices, std::string* error) {
  // ~/.config, then ~/.config/velmo.
  const std::string folder = Folder(path);
  const std::string parent = Folder(folder);
  if (!parent.empty()) mkdir(parent.c_str(), 0700);
  if (!folder.empty() && mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
    *error = folder + ": " + std::strerror(errno);
    return false;
  }
  // The output writer would write a FIFO or a device in place, and a FIFO
  // without a reader would hold the window.
  struct stat info {};
  if (stat(path.c_str(), &info) == 0 && !S_ISREG(info.st_mode)) {
    *error = path + ": not a regular file; it is left as it is";
    return false;
  }
  const std::optional<std::string> text = RunChoicesText(choices);
  if (!text) {
    *error = path + ": the settings could not be put into words";
    return false;
  }
  COutputFile file;
  return file.Open(path, error) && file.Commit(*text, error);
}
