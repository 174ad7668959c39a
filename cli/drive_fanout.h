// `--drive all` for scan, smart and watch: one velmo-cli process per
// supported drive (the device manager is one per process), each started with
// --drive N in a folder of its own named after the drive's index and product
// (relative output paths land there), its lines passed on prefixed by the
// drive. A drive that refuses the diagnostic mode is named and left out.
// Ctrl-C reaches every run through the terminal; SIGTERM, SIGHUP and SIGINT
// sent to this process alone are passed on, and each run stops as a scan
// is stopped. The exit code is the worst (highest) of the runs' codes.
// Records sent to standard output (--json -) are passed on as JSON lines.
// At the end, a table: each drive's device, disc, outcome, max TE and FE and
// the files its run wrote.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

class CDriveSession;
struct CliOptions;

// args: the command line as given (without the program name); "--drive all"
// (or --drive=all) is replaced by the drive's own index in each run.
// With --json on standard output, each run's record goes to records as one
// compact JSON line, written whole when its run ends; out then takes only
// what a person reads (main passes standard error).
int RunOnEveryDrive(CDriveSession& session, const CliOptions& options,
                    const std::vector<std::string>& args, std::FILE* out, std::FILE* err,
                    std::FILE* records);

// Standard output under --drive all carries --json's records as JSON lines
// and nothing else: any other output named so is refused (the message), as
// several runs' CSV, charts or logs cannot share it. Empty when none is.
std::string DriveAllOutputError(const CliOptions& options);

// A run started by RunOnEveryDrive hands its record back for the closing
// table (through a descriptor the parent names); no-op in any other run.
struct ScanRecord;
void HandRecordToParent(const ScanRecord& record);
// A run of several records (watch) hands none back.
void ForgoRecordHandBack();

// The folder of a drive's run: "N-PRODUCT", safe on any file system.
std::string DriveFolderName(int index, const std::string& product);
