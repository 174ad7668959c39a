// `velmo-cli drives`: every drive with its display name, device path and
// whether it accepts the diagnostic mode, then every drive that could not be
// used and what to do about it. --long adds each drive's own facts
// (firmware, serial number, loader, buffer, profiles); --json FILE writes
// the list with those facts as JSON.
#pragma once

#include <cstdio>
#include <string>

class CDriveSession;

struct DrivesListing {
  bool facts = false;    // --long
  std::string jsonFile;  // --json: empty for none, "-" for standard output
};

int RunDrivesCommand(CDriveSession& session, std::FILE* out, std::FILE* err,
                     const DrivesListing& listing = {});
