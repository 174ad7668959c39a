// `velmo-cli watch`: unattended runs over a spindle of discs. Waits for a
// disc, scans (or Smart Scans) every blank, supported one with the scan and
// smart commands themselves, keeps its log and record side by side under a
// name of its own, writes its report, prints one line for it, ejects it on
// request and waits for the next. Ends after --count discs, at Ctrl-C or
// SIGTERM (with a summary), or when the drive is gone (exit 2).
// Exit code: the worst disc (0 ok, 1 not recommended, 2 failed or drive
// gone), 3 no usable drive, 73 a file cannot be written, 128+N a signal.
#pragma once

#include <cstdio>
#include <string>

#include "cli/disc_preparation.h"

class CDriveSession;
struct CliOptions;
struct ScanRecord;

int RunWatchCommand(CDriveSession& session, const CliOptions& options, std::FILE* out,
                    std::FILE* err, const DiscWait& wait = {});
