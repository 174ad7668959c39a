// wx accepts menu ids only below 0x8000; the commands of the menu keep their
// own numbers and reach wx through this mapping.
#pragma once

inline constexpr int ToWxId(int command) {
  return command >= 0x8000 ? command - 0x8000 + 0x6000 : command;
}
inline constexpr int FromWxId(int id) {
  return id >= 0x6000 && id < 0x7000 ? id - 0x6000 + 0x8000 : id;
}
