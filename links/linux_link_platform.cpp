#include "links/linux_link_platform.h"

#include <fcntl.h>
#include <strings.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <optional>
#include <sstream>

#include "links/child_process.h"
#include "links/desktop_entry.h"

namespace {

constexpr char kOpenCommandSuffix[] = "\\shell\\open\\command";
constexpr std::size_t kQueryOutputBytes = 4096;
constexpr std::size_t kEntryFileBytes = 1 << 20;

bool IsAbsolute(const std::string& path) { return !path.empty() && path.front() == '/'; }

std::string Trimmed(const std::string& text) {
  const std::size_t first = text.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return {};
  const std::size_t last = text.find_last_not_of(" \t\r\n");
  return text.substr(first, last - first + 1);
}

bool EndsWithNoCase(const std::string& text, const char* suffix, std::size_t suffixLength) {
  return text.size() >= suffixLength &&
         ::strcasecmp(text.c_str() + text.size() - suffixLength, suffix) == 0;
}

// The first maxBytes of a file; false with errno set when it cannot be read.
bool ReadHead(const std::string& path, std::size_t maxBytes, std::string* text) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  char chunk[4096];
  ssize_t got = 0;
  while (text->size() < maxBytes && (got = ::read(fd, chunk, sizeof chunk)) != 0) {
    if (got < 0) {
      if (errno == EINTR) continue;
      const int error = errno;
      ::close(fd);
      errno = error;
      return false;
    }
    text->append(chunk, std::min(maxBytes - text->size(), static_cast<std::size_t>(got)));
  }
  ::close(fd);
  return true;
}

}  // namespace

LinkEnvironment LinkEnvironmentFrom(const std::function<const char*(const char*)>& lookup) {
  auto value = [&](const char* name) -> std::string {
    const char* found = lookup(name);
    return found ? found : "";
  };
  LinkEnvironment environment;
  const char* path = lookup("PATH");
  environment.searchPath = path ? path : "/bin:/usr/bin";

  std::string dataHome = value("XDG_DATA_HOME");
  if (!IsAbsolute(dataHome)) {
    const std::string home = value("HOME");
    dataHome = IsAbsolute(home) ? home + "/.local/share" : "";
  }
  if (!dataHome.empty()) environment.dataDirs.push_back(dataHome);

  std::string dataDirs = value("XDG_DATA_DIRS");
  if (dataDirs.empty()) dataDirs = "/usr/local/share:/usr/share";
  std::stringstream folders(dataDirs);
  for (std::string folder; std::getline(folders, folder, ':');) {
    if (IsAbsolute(folder)) environment.dataDirs.push_back(folder);
  }
  return environment;
}

LinkEnvironment ProcessLinkEnvironment() {
  return LinkEnvironmentFrom([](const char* name) { return std::getenv(name); });
}

int ShellCodeFromOpenerStatus(int exitStatus) {
  switch (exitStatus) {
    case 0: return kOpenSucceeded;
    case 1:
    case 2: return kOpenFileNotFound;
    case 5: return kOpenAccessDenied;
    default: return kOpenNoAssociation;  // 3, 4, and killed by a signal
  }
}

CLinuxLinkPlatform::CLinuxLinkPlatform(LinkEnvironment environment)
    : m_environment(std::move(environment)) {}

int CLinuxLinkPlatform::ShellOpen(const std::string& address, int /*showCommand*/) {
  int error = 0;
  const std::string opener = FindProgram("xdg-open", m_environment.searchPath, &error);
  if (opener.empty()) return error;
  const pid_t child = StartChild(opener, {"xdg-open", address}, -1, false, &error);
  if (child < 0) return error;
  const std::optional<int> status = WaitForExit(child, m_environment.openerGrace);
  if (!status) return kOpenSucceeded;  // still running: it is showing the page itself
  return ShellCodeFromOpenerStatus(*status);
}

long CLinuxLinkPlatform::ReadClassesRootDefault(const std::string& key, std::string* value) {
  if (::strcasecmp(key.c_str(), ".htm") == 0) return DefaultHtmlHandler(value);
  const std::size_t suffixLength = sizeof kOpenCommandSuffix - 1;
  if (EndsWithNoCase(key, kOpenCommandSuffix, suffixLength)) {
    return HandlerCommand(key.substr(0, key.size() - suffixLength), value);
  }
  return kRegistryNotFound;
}

long CLinuxLinkPlatform::DefaultHtmlHandler(std::string* id) const {
  int error = 0;
  const std::string query = FindProgram("xdg-mime", m_environment.searchPath, &error);
  if (query.empty()) return kRegistryNotFound;
  const CapturedRun run = RunCaptured(query, {"xdg-mime", "query", "default", "text/html"},
                                      m_environment.queryLimit, kQueryOutputBytes);
  if (!run.finished || run.exitStatus != 0) return kRegistryNotFound;
  // One line; some versions list several ids, best first.
  std::stringstream ids(run.output.substr(0, run.output.find('\n')));
  for (std::string candidate; std::getline(ids, candidate, ';');) {
    candidate = Trimmed(candidate);
    if (!candidate.empty()) {
      *id = candidate;
      return kRegistryOk;
    }
  }
  return kRegistryNotFound;
}

long CLinuxLinkPlatform::HandlerCommand(const std::string& id, std::string* exec) const {
  const std::string path = FindDesktopEntry(id, m_environment.dataDirs);
  if (path.empty()) return kRegistryNotFound;
  std::string text;
  if (!ReadHead(path, kEntryFileBytes, &text)) {
    return errno == EACCES ? kRegistryAccessDenied : kRegistryNotFound;
  }
  const std::optional<std::string> found = DesktopEntryExec(text);
  if (!found) return kRegistryNotFound;
  *exec = *found;
  return kRegistryOk;
}

int CLinuxLinkPlatform::StartProgram(const LinkCommandLine& command, int /*showCommand*/) {
  const std::size_t addressAt = std::min(command.addressAt, command.text.size());
  std::optional<std::vector<std::string>> args =
      SplitExecLine(std::string_view(command.text).substr(0, addressAt));
  if (!args) return kOpenAssociationIncomplete;  // a quote left open
  if (args->empty()) return kOpenFileNotFound;   // nothing to run
  args->push_back(command.text.substr(addressAt));

  int error = 0;
  const std::string program = FindProgram(args->front(), m_environment.searchPath, &error);
  if (program.empty()) return error;
  const pid_t child = StartChild(program, *args, -1, false, &error);
  if (child < 0) return error;
  ReapWhenDone(child);
  return kOpenSucceeded;
}

ILinkPlatform& SystemLinkPlatform() {
  static CLinuxLinkPlatform platform;
  return platform;
}
