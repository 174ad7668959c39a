// The Run menu's choices (start on a blank disc, eject when done, a folder
// for a report of every run, the lab history), kept between launches in
// ~/.config/velmo/velmo.conf ($XDG_CONFIG_HOME when set).
#pragma once

#include <cstddef>
#include <optional>
#include <string>

struct RunChoices {
  bool autostart = false;
  bool eject = false;
  std::string reportDir;  // empty: no report
  // The lab history's URL (the file's history= line); empty: none. A
  // password is neither written to the file nor read from it (it belongs
  // in ~/.pgpass); one given in Run, Lab History… lasts the session.
  std::string historyUrl{};
  bool fitChart = false;  // View, Fit the chart to the readings
  bool operator==(const RunChoices&) const = default;
};

std::string RunChoicesPath();

// velmo.conf holds a few short lines; a file far larger is not one.
inline constexpr size_t kRunChoicesMaxBytes = 64 * 1024;

// The choices in a file's text; false when it is damaged: a line that is
// neither blank, a comment, a [group] nor key=value, or a value of the wrong
// kind.
bool ParseRunChoices(const std::string& text, RunChoices* choices);

// The file's text for the choices, as SaveRunChoices writes it; none when
// wxFileConfig cannot put them into words.
std::optional<std::string> RunChoicesText(const RunChoices& choices);

// The choices in path; defaults when it does not exist. A damaged file is
// renamed to PATH.damaged so the next save starts clean, and *message tells
// the user. What is not a regular file (a FIFO, a device, a folder), is
// larger than kRunChoicesMaxBytes or cannot be read is left where it is, not
// read, and *message says why. Otherwise *message is left empty.
RunChoices LoadRunChoices(const std::string& path, std::string* message);

// Written whole (the output writer's rules); the folder is made if missing.
// Something in its place that is not a regular file is not written into.
bool SaveRunChoices(const std::string& path, const RunChoices& choices, std::string* error);
