#include "commands/disc_globals.h"

#include <cstring>

std::atomic<DiscTypeCode> g_discType{kDiscUnknown};
std::mutex g_discLock;
char g_manufacturerId[9] = "";
char g_mediaTypeId[7] = "";
int32_t g_lastLba = kDefaultLastLba;
int32_t g_layer0Sectors = 0;
SpeedCode g_speedCodes[kMaxSpeedCodes] = {};
int32_t g_speedCount = 0;

void ResetDiscGlobals() {
  g_discType = kDiscUnknown;
  std::lock_guard<std::mutex> hold(g_discLock);
  g_manufacturerId[0] = '\0';
  g_mediaTypeId[0] = '\0';
  g_lastLba = kDefaultLastLba;
  g_layer0Sectors = 0;
  std::memset(g_speedCodes, 0, sizeof g_speedCodes);
  g_speedCount = 0;
}
