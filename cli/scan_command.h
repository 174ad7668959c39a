// `velmo-cli scan`: the window's TE/FE scan of the disc at one write speed
// and density, with TEFE.txt written by the run itself, a progress bar, the
// window's verdict text and, on request, the samples as CSV and JSON.
// Exit code: 0 ok, 1 not recommended, 2 a sample command failed, 3 no
// drive, unsupported drive or disc, 64 a speed the disc does not offer, a
// part outside the disc or a run that cannot go on, 65 another disc than
// the resumed run's, 73 an output file cannot be written, 130 stopped by
// Ctrl-C.
#pragma once

#include <cstdio>

#include "cli/disc_preparation.h"

class CDriveSession;
struct CliOptions;

int RunScanCommand(CDriveSession& session, const CliOptions& options, std::FILE* out,
                   std::FILE* err, const DiscWait& wait = {});
