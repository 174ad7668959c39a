#include "session/sim_catalogue.h"

#include <cstdio>

#include "simulator/sim_disc_catalogue.h"
#include "simulator/sim_scenarios.h"

bool IsSimScenario(const std::string& name) {
  return FindSimScenario(name) != nullptr || (name.rfind("replay:", 0) == 0 && name.size() > 7);
}

std::string SimScenarioLines() {
  std::string lines;
  for (const SimScenario& scenario : SimScenarios()) {
    const int size = std::snprintf(nullptr, 0, "  %-20s %s\n", scenario.name.c_str(),
                                   scenario.description.c_str());
    std::string line(static_cast<size_t>(size) + 1, '\0');
    std::snprintf(line.data(), line.size(), "  %-20s %s\n", scenario.name.c_str(),
                  scenario.description.c_str());
    line.pop_back();
    lines += line;
  }
  return lines;
}

std::vector<std::string> SimDiscLabels() {
  std::vector<std::string> labels;
  for (const SimDisc& disc : SimDiscCatalogue()) {
    labels.push_back(disc.name + "  (" + disc.description + ")");
  }
  return labels;
}
