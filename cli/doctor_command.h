// `velmo-cli doctor [--json]`: for each optical drive, what stands between
// the user and a scan (node permissions against the user's groups, the sg
// module, the kernel's filter on /dev/srN, another program holding the
// drive, the diagnostic mode, the disc), each with the command that fixes
// it. Exit 0 when at least one drive can be scanned, 3 otherwise.
#pragma once

#include <sys/types.h>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "cli/cli_options.h"
#include "commands/drive_facts.h"

class CDriveSession;

struct DoctorCheck {
  std::string name;  // node, module, filter, holder, open, diagnostic-mode, disc
  bool ok = false;
  std::string text;  // plain words
  std::string fix;   // the command that fixes it; empty when ok or nothing to run
};

struct DoctorDrive {
  std::string name;  // vendor, product, revision; empty when the drive cannot be asked
  std::string node;  // the node Velmo uses or tried
  std::vector<DoctorCheck> checks;
  bool scannable = false;
  // What the drive told of itself; none for a drive that could not be asked.
  std::optional<DriveFacts> facts;
};

struct DoctorReport {
  std::vector<DoctorCheck> system;
  std::vector<DoctorDrive> drives;
  bool AnyScannable() const;
};

// The lab history's check (url empty: none set): whether its server
// answers, its schema's version, the station and how many runs wait to be
// pushed from localPath. Never a password.
void AddLabHistoryCheck(std::vector<DoctorCheck>& checks, const std::string& url,
                        const std::string& localPath);

// Whether a user (uid, groups) may open a device node for reading and
// writing, from its mode and owner; with the fix when not.
DoctorCheck CheckNodeAccess(const std::string& node, uid_t uid, const std::vector<gid_t>& groups);

// Builds the report: the session's drives (diagnostic mode, disc) and, on
// this machine's own host, the nodes, module and holders from sysfs, /dev
// and /proc under the given roots.
DoctorReport BuildDoctorReport(CDriveSession& session, bool realHost,
                               const std::string& sysfsRoot = "/sys",
                               const std::string& devRoot = "/dev");

std::string DoctorText(const DoctorReport& report);
std::string DoctorJson(const DoctorReport& report);

// velmo-cli ... doctor [--json]: true when args name the doctor command.
bool IsDoctorCommand(const std::vector<std::string>& args);
int RunDoctorMain(const std::vector<std::string>& args, std::FILE* out, std::FILE* err);
