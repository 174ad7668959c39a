// `velmo-cli recover [--drive N|all]`: takes a drive out of the diagnostic
// mode a run left it in (a SIGKILL, a crash, the host losing power) and
// lets its tray open again: the vendor command's "leave", then PREVENT
// ALLOW MEDIUM REMOVAL with removal allowed, each on one line with what the
// drive answered. A drive another Velmo run holds is left alone; one that
// refuses the leave as an unknown command (ILLEGAL REQUEST) has no
// diagnostic mode and gets nothing more. Exit code 0 when the drive took
// both commands or has no diagnostic mode, 2 when it refused or failed one,
// 3 without a drive, 75 for a drive in use; with --drive all the highest of
// the drives' codes.
#pragma once

#include <cstdio>
#include <functional>
#include <string>

#include "session/run_lock.h"

class CDriveSession;
struct CliOptions;

// lockPathOf gives a drive node's lock file (empty: none to take).
int RunRecoverCommand(
    CDriveSession& session, const CliOptions& options, std::FILE* out, std::FILE* err,
    const std::function<std::string(const std::string&)>& lockPathOf = DriveLockPath);

std::string RecoverUsage();
