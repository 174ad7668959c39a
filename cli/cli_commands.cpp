#include "cli/cli_commands.h"

#include <cstring>

#include "cli/cli_options.h"
#include "cli/doctor_command.h"
#include "cli/drives_command.h"
#include "cli/identify_command.h"
#include "cli/record_commands.h"
#include "cli/recover_command.h"
#include "cli/report_command.h"
#include "cli/scan_command.h"
#include "cli/smart_command.h"
#include "cli/watch_command.h"
#include "cli/watch_options.h"
#include "reports/report_format.h"
#include "session/drive_session.h"

namespace {

// The run options, as every drive command's help ends.
const char kCommonOptions[] =
    "\n"
    "options: --simulate[=SCENARIO] --transport=spti|aspi --sim-latency=MS --drive N\n"
    "         --trace=FILE (velmo-cli --help tells what each does)\n";

std::string DrivesUsage() {
  return std::string(
             "usage: velmo-cli [options] drives [--long] [--json FILE]\n"
             "\n"
             "Lists every optical drive: its index (for --drive), its name as the drive\n"
             "reports it, the device node it was opened on, and whether it accepts the\n"
             "diagnostic mode. Drives that cannot be opened are named on standard error\n"
             "with what to do about them.\n"
             "\n"
             "  --long       each drive's own facts as well: firmware revision and date,\n"
             "               serial number, loader type, buffer size, and the discs it\n"
             "               reads and writes; a fact the drive does not give is unknown\n"
             "  --json FILE  the list with those facts as JSON ('-': standard output)\n") +
         kCommonOptions;
}

std::string IdentifyUsage() {
  return std::string(
             "usage: velmo-cli [options] identify [--json FILE]\n"
             "\n"
             "Waits up to 15 s for a disc in the drive, then prints its type, manufacturer\n"
             "ID, media type ID, blank capacity and write speeds, and the drive's own\n"
             "facts (firmware, serial number, loader, buffer, the discs it reads and\n"
             "writes; unknown where the drive does not give one). For a DVD+R DL it also\n"
             "prints where the disc's layer 1 starts, with a warning when that is not\n"
             "where Velmo places it (sector 2086912).\n"
             "\n"
             "  --json FILE  the same as JSON ('-': standard output)\n") +
         kCommonOptions;
}

std::string Extension(const ReportFormatRow& row) { return row.extension; }

std::string ScanUsage() {
  const std::string extensions = ReportFormatWords(Extension, "|", "|");
  return "usage: velmo-cli [options] scan [--speed 2.4X|4X|6X|8X|10X|12X|16X]\n"
         "                 [--density normal|full|quick] [--log FILE] [--csv FILE]\n"
         "                 [--json FILE] [--chart FILE.bmp] [--report FILE." +
         extensions +
         "]\n"
         "                 [--chart-range fixed|readings] [--from POS] [--to POS]\n"
         "                 [--resume ID|FILE] [--no-history]\n"
         "\n"
         "Samples TE and FE across the whole disc at one write speed, writes every\n"
         "sample to the log and ends with the verdict (exit 0 ok, 1 not recommended).\n"
         "\n"
         "  --from POS, --to POS   only the sample positions from POS up to (not with)\n"
         "                         POS: an LBA (1000000), a size from the disc's start\n"
         "                         (2.5GB, 700MiB) or a share of the disc (50%); a range\n"
         "                         outside the disc or without a sample position: exit 64\n"
         "  --resume ID|FILE       go on with a kept run (history ID or record file) that\n"
         "                         ended by a fault or a stop, from its next sample, with\n"
         "                         its speed, density and range; the log is written again\n"
         "                         whole (the first part's lines, then the rest); another\n"
         "                         disc in the drive: exit 65\n"
         "\n"
         "  --speed SPEED          one of the disc's write speeds (default: the first it "
         "lists)\n"
         "  --density D            how closely the disc is sampled (default normal)\n"
         "  --log FILE             the scan log (default TEFE.txt)\n"
         "  --csv FILE             every sample as CSV\n"
         "  --json FILE            the run as a scan record: disc, settings, every sample,\n"
         "                         statistics and outcome as JSON\n"
         "  --chart FILE.bmp       the chart of the run as a 24-bit BMP\n"
         "  --chart-range fixed|readings\n"
         "                         its y axis: 0 to 600 (default), or up to a round value\n"
         "                         above the highest reading and limit, as reports draw it\n"
         "  --no-history           do not keep this run in the history\n"
         "  --report FILE." +
         extensions +
         "\n"
         "                         the run's report page; " +
         ReportFormatWords(Extension, ", ", " or ") +
         " alone gives\n"
         "                         velmo-YYYYMMDD-HHMMSS-MID-SPEED.EXT here\n" +
         kCommonOptions;
}

std::string SmartUsage() {
  return std::string(
             "usage: velmo-cli [options] smart [--json FILE] [--no-history]\n"
             "\n"
             "Takes one TE/FE sample near the rim at every write speed of the disc and\n"
             "prints one verdict per speed.\n"
             "\n"
             "  --json FILE            the run as a scan record (kind smart), readings and all\n"
             "  --no-history           do not keep this run in the history\n") +
         kCommonOptions;
}

std::string DoctorUsage() {
  return std::string(
             "usage: velmo-cli [options] doctor [--json] [--bundle FILE.tar.gz [--with-scan]]\n"
             "\n"
             "For each optical drive, says what stands between you and a scan, each with\n"
             "the command that fixes it: the drive's nodes, their modes and groups, the sg\n"
             "module, other programs holding a node, the diagnostic mode and the disc;\n"
             "and each drive's own facts (firmware, serial number, loader, buffer, the\n"
             "discs it reads and writes), unknown where the drive does not say.\n"
             "Exit 0 when at least one drive can be scanned, 3 otherwise.\n"
             "\n"
             "  --json                 the same as JSON on standard output\n"
             "  --bundle FILE.tar.gz   also one archive to attach to a report: the report,\n"
             "                         drives, identify and its trace, versions and nodes\n"
             "  --with-scan            the bundle holds a scan, its trace and its log too\n") +
         kCommonOptions;
}

std::string WatchCommandUsage() { return WatchUsage() + kCommonOptions; }

int RunDrives(const CliCall& call) {
  return RunDrivesCommand(*call.session, call.out, call.err,
                          {call.options->longListing, call.options->jsonFile});
}
int RunIdentify(const CliCall& call) {
  return RunIdentifyCommand(*call.session, *call.options, call.out, call.err);
}
int RunScan(const CliCall& call) {
  return RunScanCommand(*call.session, *call.options, call.out, call.err);
}
int RunSmart(const CliCall& call) {
  return RunSmartCommand(*call.session, *call.options, call.out, call.err);
}
int RunRecover(const CliCall& call) {
  return RunRecoverCommand(*call.session, *call.options, call.out, call.err);
}
int RunWatch(const CliCall& call) {
  return RunWatchCommand(*call.session, *call.options, call.out, call.err);
}
int RunDoctor(const CliCall& call) { return RunDoctorMain(call.args, call.out, call.err); }
int RunHistory(const CliCall& call) { return RunHistoryCommand(*call.options, call.out, call.err); }
int RunShow(const CliCall& call) { return RunShowCommand(*call.options, call.out, call.err); }
int RunCompare(const CliCall& call) { return RunCompareCommand(*call.options, call.out, call.err); }
int RunReport(const CliCall& call) { return RunReportCommand(*call.options, call.out, call.err); }

std::string UpperExtension(const ReportFormatRow& row) {
  std::string text = row.extension;
  for (char& c : text) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
  return text;
}

constexpr unsigned kScanOptions = kTakesSpeed | kTakesDensity | kTakesLog | kTakesCsv | kTakesJson |
                                  kTakesChart | kTakesReport | kTakesDriveAll | kTakesPart;

}  // namespace

const std::vector<CliCommand>& CliCommands() {
  static const std::vector<CliCommand> commands = {
      {"drives", "list the optical drives and whether each accepts the diagnostic mode",
       DrivesUsage, kRunsOnDrive | kTakesLong | kTakesJson, RunDrives},
      {"identify", "wait for a disc and show its type, IDs, capacity and write speeds",
       IdentifyUsage, kRunsOnDrive | kTakesJson, RunIdentify},
      {"scan", "TE/FE scan of the whole disc at one write speed, with log and verdict", ScanUsage,
       kRunsOnDrive | kScanOptions, RunScan},
      {"smart", "one TE/FE sample near the rim at every write speed of the disc", SmartUsage,
       kRunsOnDrive | kTakesJson | kTakesDriveAll, RunSmart},
      {"doctor", "what stands between you and a scan, per drive, with the fixing command",
       DoctorUsage, kRunsOwnMain, RunDoctor, IsDoctorCommand},
      {"history", "the kept runs of velmo and velmo-cli, newest first, filtered",
       [] { return RecordCommandUsage("history"); }, kRunsOnRecords, RunHistory},
      {"show", "one kept run or record file: identity, settings, statistics, outcome",
       [] { return RecordCommandUsage("show"); }, kRunsOnRecords, RunShow},
      {"compare", "runs side by side, their differences, and an overlaid chart",
       [] { return RecordCommandUsage("compare"); }, kRunsOnRecords, RunCompare},
      {"report",
       "one page (" + ReportFormatWords(UpperExtension, ", ", " or ") +
           ") of recorded runs; several compare",
       ReportCommandUsage, kRunsOnRecords, RunReport},
      {"watch", "scan every blank disc that is inserted, one line each (watch --help)",
       WatchCommandUsage,
       kRunsOnDrive | kTakesSpeed | kTakesDensity | kTakesWatchOptions | kTakesDriveAll, RunWatch},
      {"recover", "take a drive out of the diagnostic mode a killed run left it in",
       [] { return RecoverUsage() + kCommonOptions; },
       kRunsOnDrive | kTakesDriveAll | kDriveAllItself, RunRecover},
  };
  return commands;
}

const CliCommand* FindCliCommand(const std::string& name) {
  for (const CliCommand& command : CliCommands()) {
    if (name == command.name) return &command;
  }
  return nullptr;
}

std::string CliCommandNames() {
  const std::vector<CliCommand>& commands = CliCommands();
  std::string names;
  for (size_t i = 0; i < commands.size(); ++i) {
    if (i > 0) names += i + 1 == commands.size() ? " or " : ", ";
    names += commands[i].name;
  }
  return names;
}

std::string CliCommandSynopses() {
  const std::string indent(std::strlen("usage: "), ' ');
  std::string text;
  for (const CliCommand& command : CliCommands()) {
    if (command.usage == nullptr) {
      // Without help of its own (doctor): it takes the drive options too.
      text += indent + "velmo-cli [options] " + command.name +
              (command.synopsis != nullptr ? std::string(" ") + command.synopsis : "") + "\n";
      continue;
    }
    // The usage's lines up to its first blank one, "usage: " taken off.
    const std::string usage = command.usage();
    const size_t end = usage.find("\n\n");
    text += indent +
            usage.substr(indent.size(), end == std::string::npos ? end : end + 1 - indent.size());
  }
  return text;
}
