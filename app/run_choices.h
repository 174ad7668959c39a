// The Run menu's choices (start on a blank disc, eject when done, a folder
// for a report of every run), kept between launches in
// ~/.config/velmo/velmo.conf ($XDG_CONFIG_HOME when set).
#pragma once

#include <string>

struct RunChoices {
  bool autostart = false;
  bool eject = false;
  std::string reportDir;  // empty: no report
  bool operator==(const RunChoices&) const = default;
};

std::string RunChoicesPath();

// The choices in path; defaults when it does not exist. A damaged file (a
// line that is neither blank, a comment, a [group] nor key=value, or a value
// of the wrong kind) is renamed to PATH.damaged so the next save starts
// clean, and *message tells the user; otherwise *message is left empty.
RunChoices LoadRunChoices(const std::string& path, std::string* message);

// Written whole (the output writer's rules); the folder is made if missing.
bool SaveRunChoices(const std::string& path, const RunChoices& choices, std::string* error);
