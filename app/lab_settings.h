// The lab history as the window chooses it: --history, else VELMO_HISTORY,
// else the settings file's history= line; what the window takes for a lab
// history's URL; and a URL without its password, as the settings file keeps
// it (passwords belong in ~/.pgpass).
#pragma once

#include <string>

enum class LabUrlFrom { kNone, kOption, kEnvironment, kSettings };

struct LabChoice {
  std::string url;  // empty: runs stay in this station's history alone
  LabUrlFrom from = LabUrlFrom::kNone;
};

// optionUrl: --history's; settingsUrl: the settings file's.
LabChoice ChooseLabHistory(const std::string& optionUrl, const std::string& settingsUrl);

// Where a URL from kOption or kEnvironment came from, in a user's words.
const char* LabUrlOrigin(LabUrlFrom from);

// Empty when url is a lab history's URL (postgresql://... or
// postgres://...); otherwise why it is none, in one sentence.
std::string LabUrlProblem(const std::string& url);

bool UrlHasPassword(const std::string& url);
// The URL with its password (user:PASSWORD@, ?password=...) taken out
// (ShownUrl, history/lab_history.h, shows it as *** instead).
std::string UrlWithoutPassword(const std::string& url);
