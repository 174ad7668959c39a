// `velmo-cli drives`: every drive with its display name, device path and
// whether it accepts the diagnostic mode, then every drive that could not be
// used and what to do about it.
#pragma once

#include <cstdio>

class CDriveSession;

int RunDrivesCommand(CDriveSession& session, std::FILE* out, std::FILE* err);
