#include "app/lab_settings.h"

#include <cstdlib>

LabChoice ChooseLabHistory(const std::string& optionUrl, const std::string& settingsUrl) {
  if (!optionUrl.empty()) return {optionUrl, LabUrlFrom::kOption};
  const char* environment = std::getenv("VELMO_HISTORY");
  if (environment != nullptr && environment[0] != '\0')
    return {environment, LabUrlFrom::kEnvironment};
  if (!settingsUrl.empty()) return {settingsUrl, LabUrlFrom::kSettings};
  return {};
}

const char* LabUrlOrigin(LabUrlFrom from) {
  switch (from) {
    case LabUrlFrom::kOption: return "--history";
    case LabUrlFrom::kEnvironment: return "VELMO_HISTORY";
    case LabUrlFrom::kSettings: return "the settings file";
    case LabUrlFrom::kNone: break;
  }
  return "";
}
