// What the last disc identification found. Written only by the
// identification on the poll worker; read by the scan, Smart Scan and the
// speed selection. g_discType is read on its own by the sample commands, so
// it is atomic; the rest is read and written under g_discLock.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>

#include "commands/disc_type.h"
#include "commands/speed_codes.h"

inline constexpr int kMaxSpeedCodes = 10;
inline constexpr int32_t kDefaultLastLba = 2295103;

extern std::atomic<DiscTypeCode> g_discType;
extern std::mutex g_discLock;
extern char g_manufacturerId[9];
extern char g_mediaTypeId[7];
extern int32_t g_lastLba;
extern int32_t g_layer0Sectors;  // a DL disc's own layer 0; 0: not known
extern SpeedCode g_speedCodes[kMaxSpeedCodes];
extern int32_t g_speedCount;

// Start values, as the main window's construction sets them.
void ResetDiscGlobals();
