// `velmo-cli smart`: Smart Scan, one TE/FE sample near the rim at every
// write speed of the disc, one line a speed with the Smart Mode Report's
// verdict text. Exit code: 0 every speed "OK.", 1 some "Not recommended.",
// 2 some "TE/FE fail.", 3 no drive, unsupported drive or disc, 130 Ctrl-C.
#pragma once

#include <cstdio>

#include "cli/disc_preparation.h"

class CDriveSession;
struct CliOptions;

int RunSmartCommand(CDriveSession& session, const CliOptions& options, std::FILE* out,
                    std::FILE* err, const DiscWait& wait = {});
