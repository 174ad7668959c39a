// `velmo-cli identify`: waits for a disc and shows what the window's "Disc
// Info" and "Setting" groups show after its identification: disc type, IDs,
// blank capacity, the write-speed list and the status line. Exit code 0 for
// a disc that can be tested, 3 otherwise (or without a usable drive), 130
// for Ctrl-C while waiting for the disc.
#pragma once

#include <cstdio>

#include "cli/disc_preparation.h"

class CDriveSession;
struct CliOptions;

int RunIdentifyCommand(CDriveSession& session, const CliOptions& options, std::FILE* out,
                       std::FILE* err, const DiscWait& wait = {});
