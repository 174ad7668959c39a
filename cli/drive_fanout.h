// `--drive all` for scan, smart and watch: one velmo-cli process per
// supported drive (the device manager is one per process), each started with
// --drive N in a folder of its own named after the drive's index and product
// (relative output paths land there), its lines passed on prefixed by the
// drive. A drive that refuses the diagnostic mode is named and left out.
// Ctrl-C reaches every run through the terminal; SIGTERM, SIGHUP and SIGINT
// sent to this process alone are passed on, and each run stops as a scan
// is stopped. The exit code is the worst (highest) of the runs' codes.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

class CDriveSession;
struct CliOptions;

// args: the command line as given (without the program name); "--drive all"
// (or --drive=all) is replaced by the drive's own index in each run.
int RunOnEveryDrive(CDriveSession& session, const CliOptions& options,
                    const std::vector<std::string>& args, std::FILE* out, std::FILE* err);

// The folder of a drive's run: "N-PRODUCT", safe on any file system.
std::string DriveFolderName(int index, const std::string& product);
