// Desktop entries: where this desktop keeps the command line of the program
// that opens web pages. An entry is found by its id under the applications/
// folder of each data directory; its Exec line is the registered command.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The file of the entry with this id: the first data directory whose
// applications/ folder holds it wins. A dash in the id may stand for a
// subfolder ("kde-browser.desktop" can be applications/kde/browser.desktop).
// Empty when no folder holds it, or when the id could name a file outside
// those folders.
std::string FindDesktopEntry(const std::string& id, const std::vector<std::string>& dataDirs);

// The Exec value of the [Desktop Entry] group of an entry's text, with the
// value escapes (\s \n \t \r \\) undone and its quoting left in place.
// Empty when there is no such group or key, or the entry is Hidden.
std::optional<std::string> DesktopEntryExec(std::string_view entryText);

// An Exec command line split into the program's argument vector by the
// desktop-entry quoting rules: arguments are separated by blanks; a double-
// quoted argument may hold blanks, and inside quotes a backslash escapes
// " ` $ and \. Field codes are dropped (%i %c %k and the URL and file ones
// are not expanded), "%%" is a percent sign. Empty on an unbalanced quote.
std::optional<std::vector<std::string>> SplitExecLine(std::string_view line);
