#include "cli/doctor_command.h"

#include <dirent.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>
#include <thread>

#include <nlohmann/json.hpp>

#include "cli/doctor_bundle.h"
#include "commands/drive_commands.h"
#include "console/disc_identification.h"
#include "device/linux_host.h"
#include "files/input_file.h"
#include "history/history.h"
#include "history/lab_history.h"
#include "records/drive_facts_text.h"
#include "session/drive_session.h"
#include "session/output_file.h"
#include "session/run_options.h"
#include "session/terminal_text.h"

namespace {

std::string ModeText(mode_t mode) {
  std::string text = S_ISCHR(mode) ? "c" : S_ISBLK(mode) ? "b" : "-";
  const char* letters = "rwxrwxrwx";
  for (int i = 0; i < 9; ++i) text += (mode & (0400 >> i)) ? letters[i] : '-';
  return text;
}

std::string GroupName(gid_t gid) {
  if (const group* entry = ::getgrgid(gid)) return entry->gr_name;
  return std::to_string(gid);
}

std::string UserName(uid_t uid) {
  if (const passwd* entry = ::getpwuid(uid)) return entry->pw_name;
  return std::to_string(uid);
}

// A sysfs attribute: a page at most. The root may be a folder a test made,
// so it is read as any file we did not write.
std::string ReadLine(const std::string& path) {
  std::string text, message;
  InputFileError kind = InputFileError::kNone;
  if (!ReadInputFile(path, 4096, &text, &kind, &message)) return "";
  return text.substr(0, text.find('\n'));
}

bool NodeExists(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0;
}

std::vector<std::string> ListDir(const std::string& path) {
  std::vector<std::string> names;
  if (DIR* dir = ::opendir(path.c_str())) {
    while (dirent* entry = ::readdir(dir)) {
      if (entry->d_name[0] != '.') names.emplace_back(entry->d_name);
    }
    ::closedir(dir);
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::vector<gid_t> UserGroups() {
  std::vector<gid_t> groups(static_cast<size_t>(std::max(::getgroups(0, nullptr), 0)) + 1);
  const int count = ::getgroups(static_cast<int>(groups.size()), groups.data());
  groups.resize(static_cast<size_t>(std::max(count, 0)));
  groups.push_back(::getegid());
  return groups;
}

// The optical drives of this machine as sysfs shows them: block name (or
// the generic one for a drive sr has not bound) and generic name.
struct SysDrive {
  std::string block;    // "sr0"; empty for a generic-only drive
  std::string generic;  // "sg1"; empty when sysfs shows none
};

std::vector<SysDrive> SysDrives(const std::string& sysfsRoot) {
  std::vector<SysDrive> drives;
  CLinuxHost host(sysfsRoot, "/dev");
  for (const VolumeCandidate& volume : host.VolumeCandidates()) {
    if (host.DriveTypeOf(volume.typePath) != kDriveTypeCdRom) continue;
    SysDrive drive;
    if (volume.typePath.rfind("sg", 0) == 0) {
      drive.generic = volume.typePath;
    } else {
      drive.block = volume.typePath;
      const auto generic =
          ListDir(sysfsRoot + "/class/block/" + volume.typePath + "/device/scsi_generic");
      if (!generic.empty()) drive.generic = generic.front();
    }
    drives.push_back(drive);
  }
  return drives;
}

// Other programs that hold the node open (this one has it open itself).
std::vector<NodeHolder> OtherHolders(const std::string& node) {
  std::vector<NodeHolder> holders = FindNodeHolders(node);
  const int self = static_cast<int>(::getpid());
  holders.erase(std::remove_if(holders.begin(), holders.end(),
                               [self](const NodeHolder& h) { return h.pid == self; }),
                holders.end());
  return holders;
}

std::string Holders(const std::vector<NodeHolder>& holders) {
  std::string text;
  for (const NodeHolder& holder : holders) {
    text += text.empty() ? "" : ", ";
    text += holder.program.empty() ? "pid " + std::to_string(holder.pid)
                                   : holder.program + " (pid " + std::to_string(holder.pid) + ")";
  }
  return text;
}

void AddCheck(std::vector<DoctorCheck>& checks, std::string name, bool ok, std::string text,
              std::string fix = "") {
  checks.push_back({std::move(name), ok, std::move(text), ok ? std::string() : std::move(fix)});
}

}  // namespace

bool DoctorReport::AnyScannable() const {
  return std::any_of(drives.begin(), drives.end(),
                     [](const DoctorDrive& d) { return d.scannable; });
}

DoctorCheck CheckNodeAccess(const std::string& node, uid_t uid, const std::vector<gid_t>& groups) {
  DoctorCheck check;
  check.name = "node";
  struct stat info {};
  if (::stat(node.c_str(), &info) != 0) {
    check.text = node + " does not exist";
    return check;
  }
  const std::string owner = UserName(info.st_uid) + ":" + GroupName(info.st_gid);
  const std::string shown = node + " " + ModeText(info.st_mode) + " " + owner;
  const bool inGroup = std::find(groups.begin(), groups.end(), info.st_gid) != groups.end();
  const mode_t need = uid == 0             ? 0
                      : info.st_uid == uid ? (S_IRUSR | S_IWUSR)
                      : inGroup            ? (S_IRGRP | S_IWGRP)
                                           : (S_IROTH | S_IWOTH);
  check.ok = (info.st_mode & need) == need;
  if (check.ok) {
    check.text = shown + ": you may open it";
    return check;
  }
  const std::string group = GroupName(info.st_gid);
  if (info.st_gid != 0 && !inGroup && (info.st_mode & (S_IRGRP | S_IWGRP)) == (S_IRGRP | S_IWGRP)) {
    check.text = shown + ": you are not in the group '" + group + "'";
    check.fix = "sudo usermod -aG " + group + " $USER   (then log in again)";
  } else {
    check.text = shown + ": its group may not read and write it, or it belongs to root alone";
    check.fix =
        "sudo chgrp cdrom " + node + " && sudo chmod 660 " + node + "   (a udev rule keeps it so)";
  }
  return check;
}

namespace {

// What the session could open, by the node it used, and what it could not.
struct SessionDrives {
  CDeviceManager* manager = nullptr;  // none when the drive layer is down
  int count = 0;
  std::map<std::string, int> byNode;
  std::map<std::string, std::string> skipped;  // node -> what went wrong
};

SessionDrives SessionDrivesOf(CDriveSession& session) {
  SessionDrives drives;
  if (!session.Initialized()) return drives;
  drives.manager = &session.Manager();
  drives.count = drives.manager->GetDriveCount();
  for (int i = 0; i < drives.count; ++i)
    drives.byNode[drives.manager->GetDrivePath(static_cast<uint8_t>(i))] = i;
  for (const SkippedVolume& volume : drives.manager->GetSkippedVolumes()) {
    drives.skipped[volume.path] = DescribeSkippedVolume(volume);
  }
  return drives;
}

// The selected drive's diagnostic mode; true when it accepts it.
bool CheckDiagnosticMode(DoctorDrive& drive) {
  ScsiExchange enter;
  if (SetDiagnosticMode(kDiagnosticEnter, &enter)) {
    SetDiagnosticMode(kDiagnosticLeave);
    AddCheck(drive.checks, "diagnostic-mode", true, "the drive accepts the diagnostic mode");
    return true;
  }
  const std::string why = DescribeVendorCommandFailure(enter.hostError, drive.node);
  if (why.empty()) {
    AddCheck(drive.checks, "diagnostic-mode", false,
             "the drive refuses the diagnostic mode: it is not a supported drive", "");
  } else {
    AddCheck(drive.checks, "diagnostic-mode", false, why,
             drive.node.rfind("/dev/sr", 0) == 0 ? "sudo modprobe sg" : "");
  }
  return false;
}

// The selected drive's disc; true when there is one.
bool CheckDisc(DoctorDrive& drive) {
  // A disc that is still landing or spinning up gets a few seconds.
  bool notReady = DriveNotReady();
  for (int wait = 0; notReady && wait < 12; ++wait) {
    std::this_thread::sleep_for(std::chrono::milliseconds(250));
    notReady = DriveNotReady();
  }
  if (notReady) {
    AddCheck(drive.checks, "disc", false, "no disc in the drive (or it is not ready yet)",
             "insert a blank DVD+R or DVD-R and close the tray");
    return false;
  }
  const DiscTypeCode type = GetCurrentProfile();
  AddCheck(drive.checks, "disc", true, std::string("disc: ") + DiscTypeText(type));
  return true;
}

// Asks one opened drive: the diagnostic mode, then the disc.
void AskDrive(CDeviceManager& manager, int index, DoctorDrive& drive) {
  manager.SelectDrive(static_cast<uint8_t>(index));
  char name[100] = {};
  manager.GetDriveName(name);
  drive.name = name;
  drive.node = manager.GetDrivePath(static_cast<uint8_t>(index));
  // Asked before the diagnostic mode, as `drives --long` asks: a drive that
  // refuses that mode still tells what it is.
  drive.facts = ReadDriveFacts();
  const bool accepted = CheckDiagnosticMode(drive);
  const bool disc = CheckDisc(drive);
  drive.scannable = accepted && disc;
}

// Who may open the drive's nodes, who holds them, and which are missing.
void CheckNodes(DoctorDrive& drive, const std::string& sg, const std::string& sr, uid_t uid,
                const std::vector<gid_t>& groups) {
  for (const std::string& node : {sg, sr}) {
    if (node.empty() || !NodeExists(node)) continue;
    drive.checks.push_back(CheckNodeAccess(node, uid, groups));
    const std::vector<NodeHolder> holders = OtherHolders(node);
    if (!holders.empty()) {
      AddCheck(drive.checks, "holder", false, node + " is held open by " + Holders(holders),
               "close " + (holders[0].program.empty() ? "it" : holders[0].program) + ", or: kill " +
                   std::to_string(holders[0].pid));
    }
  }
  if (!sg.empty() && !NodeExists(sg)) {
    AddCheck(drive.checks, "node", false, sg + " is missing although sysfs knows it",
             "sudo modprobe sg");
  }
  if (sg.empty() && uid != 0) {
    AddCheck(drive.checks, "filter", false,
             "only " + sr +
                 " is there: the kernel's command filter on it refuses vendor "
                 "commands to anyone but root",
             "sudo modprobe sg");
  }
}

// A drive sysfs shows: its nodes, then what the session found on them.
// *asked: the session's drive it was, if any.
DoctorDrive SysDriveReport(const SysDrive& sys, const SessionDrives& session,
                           const std::string& sysfsRoot, const std::string& devRoot, uid_t uid,
                           const std::vector<gid_t>& groups, int* asked) {
  DoctorDrive drive;
  const std::string sg = sys.generic.empty() ? "" : devRoot + "/" + sys.generic;
  const std::string sr = sys.block.empty() ? "" : devRoot + "/" + sys.block;
  drive.node = !sg.empty() && NodeExists(sg) ? sg : sr;
  CheckNodes(drive, sg, sr, uid, groups);
  // Why the drive could not be opened, unless a check above says it.
  const bool explained = std::any_of(drive.checks.begin(), drive.checks.end(),
                                     [](const DoctorCheck& c) { return !c.ok; });
  for (const std::string& node : {sg, sr}) {
    auto it = session.skipped.find(node);
    if (it != session.skipped.end() && !explained)
      AddCheck(drive.checks, "open", false, it->second);
  }
  const auto found = session.byNode.find(drive.node);
  const auto viaBlock = session.byNode.find(sr);
  *asked = found != session.byNode.end()      ? found->second
           : viaBlock != session.byNode.end() ? viaBlock->second
                                              : -1;
  if (*asked >= 0) {
    AskDrive(*session.manager, *asked, drive);
  } else if (drive.name.empty()) {
    const std::string device =
        sysfsRoot + "/class/" +
        (sys.block.empty() ? "scsi_generic/" + sys.generic : "block/" + sys.block) + "/device";
    drive.name = ReadLine(device + "/vendor") + ReadLine(device + "/model");
  }
  return drive;
}

}  // namespace

DoctorReport BuildDoctorReport(CDriveSession& session, bool realHost, const std::string& sysfsRoot,
                               const std::string& devRoot) {
  DoctorReport report;
  const uid_t uid = ::geteuid();
  const std::vector<gid_t> groups = UserGroups();
  std::vector<SysDrive> sysDrives;
  if (realHost) {
    const bool sgLoaded =
        NodeExists(sysfsRoot + "/module/sg") || NodeExists(sysfsRoot + "/class/scsi_generic");
    AddCheck(report.system, "module", sgLoaded,
             sgLoaded ? "the sg module is loaded: drives have /dev/sgN nodes"
                      : "the sg module is not loaded: drives have no /dev/sgN node",
             "sudo modprobe sg   (and add 'sg' to /etc/modules to keep it)");
    sysDrives = SysDrives(sysfsRoot);
  }
  const SessionDrives drives = SessionDrivesOf(session);
  std::vector<bool> asked(static_cast<size_t>(drives.count), false);
  for (const SysDrive& sys : sysDrives) {
    int index = -1;
    report.drives.push_back(SysDriveReport(sys, drives, sysfsRoot, devRoot, uid, groups, &index));
    if (index >= 0) asked[static_cast<size_t>(index)] = true;
  }
  // The drives sysfs did not show (the simulator's, or another host's).
  for (int i = 0; i < drives.count; ++i) {
    if (asked[static_cast<size_t>(i)]) continue;
    DoctorDrive drive;
    AskDrive(*drives.manager, i, drive);
    report.drives.push_back(std::move(drive));
  }
  if (drives.manager != nullptr && drives.count > 0) drives.manager->SelectDrive(0);
  return report;
}

void AddLabHistoryCheck(std::vector<DoctorCheck>& checks, const std::string& url,
                        const std::string& localPath) {
  const int64_t waiting = WaitingRunCount(localPath);
  const std::string station =
      "station " + StationName() + ", " +
      (waiting < 0 ? std::string("runs waiting not known")
                   : std::to_string(waiting) + (waiting == 1 ? " run waits" : " runs wait") +
                         " to be pushed");
  if (url.empty()) {
    AddCheck(checks, "lab-history", true,
             "lab history: none set; runs are kept on this station only (" + station + ")", "");
    return;
  }
  const LabStatus status = LabHistoryStatus(url, 5000);
  const std::string shown = ShownUrl(url);
  if (status.failure == HistoryFailure::kNone) {
    AddCheck(checks, "lab-history", true,
             "lab history: " + shown + " answers, " +
                 (status.schemaVersion == 0
                      ? std::string("no tables yet (its owner role makes them on first use)")
                      : "schema version " + std::to_string(status.schemaVersion)) +
                 "; " + station,
             "");
    return;
  }
  const char* fix = "";
  if (status.failure == HistoryFailure::kUnreachable)
    fix = "the runs wait here; velmo-cli history push sends them once the server answers";
  else if (status.failure == HistoryFailure::kNewer)
    fix = "a newer Velmo on this station reads and writes it";
  else if (status.failure == HistoryFailure::kRefused)
    fix = "the lab's administrator grants this role velmo_station (see docs/lab-history.md)";
  AddCheck(checks, "lab-history", false,
           "lab history: " + shown + (status.answers ? ": " : " does not answer: ") + status.error +
               "; " + station,
           fix);
}

// Drive names are INQUIRY bytes, and checks quote nodes and the names of
// the programs holding them: all shown through TerminalText.
// A check's label: FIX only where there is something to run; a failed
// check without a fix is a fact about the drive or system.
const char* CheckLabel(const DoctorCheck& check) {
  if (check.ok) return "ok    ";
  return check.fix.empty() ? "no    " : "FIX   ";
}

std::string DoctorText(const DoctorReport& report) {
  std::string text;
  for (const DoctorCheck& check : report.system) {
    text += std::string(CheckLabel(check)) + TerminalText(check.text) + "\n";
    if (!check.fix.empty()) text += "      fix: " + TerminalText(check.fix) + "\n";
  }
  if (report.drives.empty()) text += "No optical drive found.\n";
  for (size_t i = 0; i < report.drives.size(); ++i) {
    const DoctorDrive& drive = report.drives[i];
    // Blocks apart by a blank line; none before the first thing said.
    text += std::string(text.empty() ? "" : "\n") + "Drive " + std::to_string(i) + ": " +
            TerminalText(drive.name) + " (" + TerminalText(drive.node) + ")\n";
    if (drive.facts) {
      for (const DriveFactLine& line : DriveFactLines(*drive.facts)) {
        char label[24];
        std::snprintf(label, sizeof label, "  %-16s", line.label);
        text += label + TerminalText(line.value) + "\n";
      }
    }
    for (const DoctorCheck& check : drive.checks) {
      text += "  " + std::string(CheckLabel(check)) + TerminalText(check.text) + "\n";
      if (!check.fix.empty()) text += "        fix: " + TerminalText(check.fix) + "\n";
    }
    text += drive.scannable ? "  => ready to scan\n" : "  => cannot be scanned now\n";
  }
  return text;
}

std::string DoctorJson(const DoctorReport& report) {
  const auto checks = [](const std::vector<DoctorCheck>& list) {
    nlohmann::json array = nlohmann::json::array();
    for (const DoctorCheck& c : list) {
      array.push_back({{"check", c.name}, {"ok", c.ok}, {"text", c.text}, {"fix", c.fix}});
    }
    return array;
  };
  nlohmann::json drives = nlohmann::json::array();
  for (size_t i = 0; i < report.drives.size(); ++i) {
    const DoctorDrive& d = report.drives[i];
    drives.push_back(
        {{"index", i},
         {"name", d.name},
         {"node", d.node},
         {"scannable", d.scannable},
         {"facts", d.facts ? nlohmann::json(DriveFactsJson(*d.facts)) : nlohmann::json(nullptr)},
         {"checks", checks(d.checks)}});
  }
  const nlohmann::json json = {
      {"system", checks(report.system)}, {"drives", drives}, {"scannable", report.AnyScannable()}};
  // Drive names are the drive's own bytes: anything not UTF-8 is replaced.
  return TerminalJson(json.dump(2, ' ', false, nlohmann::json::error_handler_t::replace)) + "\n";
}

bool IsDoctorCommand(const std::vector<std::string>& args) {
  // Help and version are main's, whatever the command.
  for (const std::string& arg : args) {
    if (arg == "--help" || arg == "-h" || arg == "--version") return false;
  }
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "doctor") return true;
    // A run option's separate value (--history URL, --trace FILE) is no command.
    RunOptions passed;
    std::string ignored;
    if (TakeRunOption(args, &i, &passed, &ignored)) continue;
    if (args[i] == "-d") {
      ++i;
      continue;
    }
    if (!args[i].empty() && args[i][0] != '-') return false;  // another command came first
  }
  return false;
}

int RunDoctorMain(const std::vector<std::string>& args, std::FILE* out, std::FILE* err) {
  // --json takes no file here: the report goes to standard output.
  bool json = false;
  BundleRequest bundle;
  std::vector<std::string> rest;
  std::string error;
  for (size_t i = 0; i < args.size(); ++i) {
    std::string value;
    if (args[i] == "--json") {
      json = true;
    } else if (args[i] == "--with-scan") {
      bundle.withScan = true;
    } else if (TakeValue(args, &i, "--bundle", &value)) {
      bundle.path = value;
      if (value.empty() || value == "-") error = "--bundle needs a file name (FILE.tar.gz)";
    } else if (args[i] == "--bundle") {
      error = "option '--bundle' needs a value";
    } else {
      rest.push_back(args[i]);
      // What the bundle's own runs take: the drive options, not the command
      // nor this run's trace.
      // Nor the lab history's URL, which may hold a password: the bundle's
      // runs keep nothing.
      if ((args[i] == "--trace" || args[i] == "--history") && i + 1 < args.size()) {
        rest.push_back(args[++i]);
      } else if (args[i] != "doctor" && args[i].rfind("--trace=", 0) != 0 &&
                 args[i].rfind("--history=", 0) != 0) {
        bundle.driveArgs.push_back(ArgumentForAnotherFolder(args[i]));
      }
    }
  }
  if (error.empty() && bundle.withScan && bundle.path.empty())
    error = "--with-scan needs --bundle FILE";
  if (!error.empty()) {
    return CliUsageError(err, "doctor", error);
  }
  auto options = ParseCliOptions(rest, &error);
  if (!options) {
    return CliUsageError(err, "doctor", error);
  }
  // A trace on standard output keeps it: the text goes to standard error,
  // and the JSON, which is the command's output, cannot share it.
  if (!options->traceFile.empty() && IsStandardOutput(options->traceFile)) {
    if (json) {
      return CliUsageError(err, "doctor", "--json and --trace both go to standard output");
    }
    out = err;
  }
  CDriveSession session;
  std::vector<std::string> messages;
  const SessionOpening opening = session.Open(
      *options, [&](const std::string& text, const std::string&) { messages.push_back(text); });
  if (!opening.Opened()) {
    std::fprintf(err, "velmo-cli: %s\n", opening.error.c_str());
    return opening.outcome == SessionOpenOutcome::kTraceNotWritable ? kExitCannotWrite : kExitUsage;
  }
  DoctorReport report = BuildDoctorReport(session, !options->simulate);
  AddLabHistoryCheck(report.system, ChosenLabUrl(*options), DefaultHistoryPath());
  std::fputs(json ? DoctorJson(report).c_str() : DoctorText(report).c_str(), out);
  const int code = report.AnyScannable() ? kExitOk : kExitNoDrive;
  if (bundle.path.empty()) return code;
  // The bundle's runs open the drives themselves: this session lets go first.
  session.Manager().Release();
  bundle.doctorText = DoctorText(report);
  bundle.doctorJson = DoctorJson(report);
  std::vector<std::string> files;
  if (!WriteDoctorBundle(bundle, &files, &error)) {
    std::fprintf(err, "velmo-cli: %s\n", error.c_str());
    return kExitCannotWrite;
  }
  std::fputs(BundleWrittenText(bundle.path, files).c_str(), json ? err : out);
  return code;
}
