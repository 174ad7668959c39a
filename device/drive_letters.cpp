#include "device/host.h"

std::vector<VolumeCandidate> DriveLetterVolumes() {
  // 'a' and 'b' are floppy letters and 'z' is left out, as the Windows
  // enumeration always did.
  std::vector<VolumeCandidate> volumes;
  for (char letter = 'c'; letter <= 'y'; ++letter) {
    char open[8] = {'\\', '\\', '.', '\\', letter, ':', 0};
    char type[3] = {letter, ':', 0};
    volumes.push_back({open, type});
  }
  return volumes;
}
