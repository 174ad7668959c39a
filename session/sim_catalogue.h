// What the simulator offers a front end by name: its scenarios (--simulate)
// and the discs its tray can insert. Any thread; the lists never change.
#pragma once

#include <string>
#include <vector>

// A scenario --simulate=NAME accepts (a replay:FILE included).
bool IsSimScenario(const std::string& name);

// One line per scenario, "  NAME  DESCRIPTION" with the names in a column,
// the default first.
std::string SimScenarioLines();

// The discs the tray can insert, in catalogue order, each "NAME  (DESCRIPTION)".
std::vector<std::string> SimDiscLabels();
