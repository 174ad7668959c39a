// `velmo-cli doctor --bundle FILE.tar.gz [--with-scan]`: one archive a user
// attaches to a report, written with the system's tar:
//   velmo-bundle/doctor.txt, doctor.json   the doctor report
//   velmo-bundle/drives.txt, identify.txt  those commands' output (and .err)
//   velmo-bundle/probe.trace               identify's trace with data: INQUIRY,
//       GET CONFIGURATION, the diagnostic mode's enter and leave, GET
//       PERFORMANCE, READ DVD STRUCTURE; replayable (--simulate=replay:)
//   velmo-bundle/scan.trace, TEFE.txt      only with --with-scan
//   velmo-bundle/versions.txt              program, kernel and machine
//   velmo-bundle/devices.txt               /dev/sg* and /dev/sr*, modes, owners by
//                                          number, and what sysfs says of each
// The commands run as children of this same program with the same drive
// options. Nothing names the user: the login name, the host name and the
// home folder are replaced in every file.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

struct BundleRequest {
  std::string path;  // the .tar.gz to write
  bool withScan = false;
  std::vector<std::string> driveArgs;  // --simulate, --transport, --drive ... as given
  std::string doctorText;
  std::string doctorJson;
};

// Writes the archive; false with *error when it could not be made. *files
// gets the names in it.
bool WriteDoctorBundle(const BundleRequest& request, std::vector<std::string>* files,
                       std::string* error);

// What a user is told after the bundle was written.
std::string BundleWrittenText(const std::string& path, const std::vector<std::string>& files);
