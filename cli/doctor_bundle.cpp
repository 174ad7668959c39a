#include "cli/doctor_bundle.h"

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "session/output_file.h"

namespace fs = std::filesystem;

namespace {

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string FirstLine(const std::string& path) {
  std::string text = ReadText(path);
  const size_t end = text.find('\n');
  return end == std::string::npos ? text : text.substr(0, end);
}

bool WriteText(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
  return static_cast<bool>(out);
}

// Runs argv (argv[0] looked up on PATH unless it has a slash) in dir with
// standard output and error to the files given (or /dev/null); its exit
// status, -1 when it could not be started.
int RunChild(const std::vector<std::string>& argv, const std::string& dir,
             const std::string& outPath, const std::string& errPath) {
  std::vector<char*> args;
  std::vector<std::string> copy = argv;
  for (std::string& arg : copy) args.push_back(arg.data());
  args.push_back(nullptr);
  const pid_t pid = fork();
  if (pid < 0) return -1;
  if (pid == 0) {
    if (chdir(dir.c_str()) != 0) _exit(126);
    const int in = open("/dev/null", O_RDONLY);
    const int out =
        open(outPath.empty() ? "/dev/null" : outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int err =
        open(errPath.empty() ? "/dev/null" : errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (in < 0 || out < 0 || err < 0) _exit(126);
    dup2(in, 0);
    dup2(out, 1);
    dup2(err, 2);
    execvp(args[0], args.data());
    _exit(127);
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

std::string SelfPath() {
  std::error_code ignored;
  const fs::path self = fs::read_symlink("/proc/self/exe", ignored);
  return self.empty() ? "velmo-cli" : self.string();
}

std::string Versions() {
  std::string text = "velmo-cli " VELMO_VERSION "\n";
  utsname uts{};
  if (uname(&uts) == 0) {
    // Not the node name: that is the user's machine's.
    text += std::string("kernel ") + uts.sysname + " " + uts.release + " " + uts.version + " " +
            uts.machine + "\n";
  }
  std::ifstream release("/etc/os-release");
  for (std::string line; std::getline(release, line);)
    if (line.rfind("PRETTY_NAME=", 0) == 0) text += "system " + line.substr(12) + "\n";
  return text;
}

// One line per /dev/sgN and /dev/srN: mode, owner and group by number (a
// name may be the user's own), and the drive sysfs sees behind it.
std::string Devices() {
  std::vector<std::string> names;
  if (DIR* dev = opendir("/dev")) {
    while (const dirent* entry = readdir(dev)) {
      const std::string name = entry->d_name;
      if (name.rfind("sg", 0) == 0 || name.rfind("sr", 0) == 0) names.push_back(name);
    }
    closedir(dev);
  }
  std::sort(names.begin(), names.end());
  std::string text;
  for (const std::string& name : names) {
    struct stat info {};
    if (stat(("/dev/" + name).c_str(), &info) != 0) continue;
    char line[160];
    std::snprintf(line, sizeof line, "/dev/%s %c%04o uid=%u gid=%u", name.c_str(),
                  S_ISCHR(info.st_mode)   ? 'c'
                  : S_ISBLK(info.st_mode) ? 'b'
                                          : '-',
                  static_cast<unsigned>(info.st_mode & 07777), static_cast<unsigned>(info.st_uid),
                  static_cast<unsigned>(info.st_gid));
    text += line;
    const std::string sys =
        (name.rfind("sg", 0) == 0 ? "/sys/class/scsi_generic/" : "/sys/class/block/") + name +
        "/device/";
    text += " type=" + FirstLine(sys + "type") + " [" + FirstLine(sys + "vendor") + "|" +
            FirstLine(sys + "model") + "|" + FirstLine(sys + "rev") + "]\n";
  }
  return text.empty() ? "no /dev/sg* or /dev/sr* node\n" : text;
}

void ReplaceAll(std::string& text, const std::string& from, const std::string& to) {
  if (from.size() < 3) return;  // too short to tell from other words
  for (size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size())
    text.replace(at, from.size(), to);
}

// The home folder, login name and host name out of a text.
std::string Anonymous(std::string text) {
  if (const char* home = std::getenv("HOME"); home != nullptr && std::strlen(home) > 1)
    ReplaceAll(text, home, "~");
  if (getuid() != 0) {
    if (const passwd* user = getpwuid(getuid())) ReplaceAll(text, user->pw_name, "<user>");
  }
  char host[256] = {};
  if (gethostname(host, sizeof host - 1) == 0) ReplaceAll(text, host, "<host>");
  return text;
}

}  // namespace

bool WriteDoctorBundle(const BundleRequest& request, std::vector<std::string>* files,
                       std::string* error) {
  // As every output: a place that cannot take it is known before the drive
  // is probed, and the archive appears whole or not at all, never half a
  // file over one the user had.
  COutputFile bundle;
  if (std::string why; !bundle.Open(request.path, &why)) {
    *error = "cannot write the bundle " + why;
    return false;
  }
  const char* tmp = std::getenv("TMPDIR");
  std::string scratch =
      std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/velmo-bundle-XXXXXX";
  if (mkdtemp(scratch.data()) == nullptr) {
    *error = "cannot make a scratch folder: " + std::string(std::strerror(errno));
    return false;
  }
  struct Scratch {
    std::string path;
    ~Scratch() {
      std::error_code ignored;
      fs::remove_all(path, ignored);
    }
  } cleanup{scratch};
  const std::string dir = scratch + "/velmo-bundle";
  fs::create_directory(dir);

  const std::string self = SelfPath();
  auto velmo = [&](std::vector<std::string> tail) {
    std::vector<std::string> argv = {self};
    argv.insert(argv.end(), request.driveArgs.begin(), request.driveArgs.end());
    argv.insert(argv.end(), tail.begin(), tail.end());
    return argv;
  };
  RunChild(velmo({"drives"}), dir, dir + "/drives.txt", dir + "/drives.err");
  RunChild(velmo({"--trace=probe.trace", "identify"}), dir, dir + "/identify.txt",
           dir + "/identify.err");
  if (request.withScan) {
    RunChild(velmo({"--trace=scan.trace", "scan", "--no-history", "--log", "TEFE.txt"}), dir,
             dir + "/scan.txt", dir + "/scan.err");
  }
  bool written = WriteText(dir + "/doctor.txt", request.doctorText) &&
                 WriteText(dir + "/doctor.json", request.doctorJson) &&
                 WriteText(dir + "/versions.txt", Versions()) &&
                 WriteText(dir + "/devices.txt", Devices());
  // What a program printed may name the user (a path, a group hint): not
  // the traces, which hold what the drive sent.
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir)) {
    const std::string name = entry.path().filename().string();
    names.push_back(name);
    if (entry.path().extension() != ".trace")
      written = written && WriteText(entry.path().string(), Anonymous(ReadText(entry.path())));
  }
  if (!written) {
    *error = "cannot write into the scratch folder " + scratch;
    return false;
  }
  std::sort(names.begin(), names.end());

  const std::string packed = scratch + "/velmo-bundle.tar.gz";
  const std::string tarErr = scratch + "/tar.err";
  // Every header names its file's owner: 0 and no names, so that the archive
  // carries no user's name or id, as its files do not.
  const int tar = RunChild({"tar", "-czf", packed, "--owner=0", "--group=0", "--numeric-owner",
                            "-C", scratch, "velmo-bundle"},
                           scratch, "", tarErr);
  if (tar != 0) {
    // tar's first line says why; the rest is how it gave up.
    const std::string why = FirstLine(tarErr);
    *error = "cannot write the bundle " + request.path +
             (tar == 127 ? ": the tar program was not found" : ": " + why);
    return false;
  }
  const std::string archive = ReadText(packed);
  if (archive.empty()) {
    *error = "cannot write the bundle " + request.path + ": tar wrote no archive";
    return false;
  }
  if (std::string why; !bundle.Commit(archive, &why)) {
    *error = "cannot write the bundle " + why;
    return false;
  }
  for (const std::string& name : names) files->push_back("velmo-bundle/" + name);
  return true;
}

std::string BundleWrittenText(const std::string& path, const std::vector<std::string>& files) {
  return "Wrote " + path + " (" + std::to_string(files.size()) +
         " files). Attach it to your report. To replay the drive's answers:\n"
         "  tar -xzf " +
         path +
         "\n"
         "  velmo-cli --simulate=replay:velmo-bundle/probe.trace identify\n"
         "  velmo --simulate=replay:velmo-bundle/probe.trace\n";
}
