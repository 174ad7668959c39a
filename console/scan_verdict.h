// How a scan run that reached its end judged the disc, and what the window
// shows for each judgement. The run hands out the judgement alone; the
// window (and velmo-cli, which prints the window's words) look the sentence
// and its colour up here where they show them.
#pragma once

#include <cstdint>

enum class ScanVerdict : uint8_t {
  kOk,              // no sample over either limit
  kNotRecommended,  // at least one TE or FE sample over its limit
};

// Status colours of the window (COLORREF values).
inline constexpr uint32_t kColorRed = 255;
inline constexpr uint32_t kColorGreen = 33280;

inline constexpr char kVerdictOk[] = "This disc is ok for writing under this speed setting.";
inline constexpr char kVerdictNotRecommended[] =
    "This disc is not recommended for writing under this speed setting.";

// The message box and status text of a verdict.
constexpr const char* VerdictText(ScanVerdict verdict) {
  return verdict == ScanVerdict::kOk ? kVerdictOk : kVerdictNotRecommended;
}

// The status colour of a verdict: green for ok, red otherwise.
constexpr uint32_t VerdictColour(ScanVerdict verdict) {
  return verdict == ScanVerdict::kOk ? kColorGreen : kColorRed;
}
