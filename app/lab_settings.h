// The lab history as the window chooses it: --history, else VELMO_HISTORY,
// else the settings file's history= line. What a lab history's URL may be,
// and the URL without its password as the settings file keeps it, are the
// history's (history/lab_history.h).
#pragma once

#include <string>

#include "history/lab_history.h"

enum class LabUrlFrom { kNone, kOption, kEnvironment, kSettings };

struct LabChoice {
  std::string url;  // empty: runs stay in this station's history alone
  LabUrlFrom from = LabUrlFrom::kNone;
};

// optionUrl: --history's; settingsUrl: the settings file's.
LabChoice ChooseLabHistory(const std::string& optionUrl, const std::string& settingsUrl);

// Where a URL from kOption or kEnvironment came from, in a user's words.
const char* LabUrlOrigin(LabUrlFrom from);
