// The link platform of a Linux desktop, from the freedesktop.org tools:
//   - shell open: `xdg-open ADDRESS`;
//   - the file-type registry, as far as OpenAddress reads it: ".htm" is the
//     desktop entry id that `xdg-mime query default text/html` names, and
//     "<id>\shell\open\command" is that entry's Exec line;
//   - program start: the command line's program started with posix_spawn
//     and an argument vector split by the desktop-entry quoting rules, the
//     address one argument of its own.
// xdg-open and xdg-mime are looked up on the search path; a missing one is
// answered as a missing file would be (kOpenFileNotFound / kRegistryNotFound).
//
// xdg-open usually hands the address to a running desktop and ends at once,
// and its exit status says whether it could. Without a desktop it runs the
// browser itself and stays until the browser closes; a child still running
// after openerGrace has got as far as starting a handler, so that counts as
// success and the child is reaped in the background. The started browser is
// always reaped in the background.
//
// Threads: any thread; the platform holds no mutable state.
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "links/link_platform.h"

struct LinkEnvironment {
  std::string searchPath;             // as PATH
  std::vector<std::string> dataDirs;  // the data home first, then the data dirs
  std::chrono::milliseconds openerGrace{2000};
  std::chrono::milliseconds queryLimit{5000};  // for xdg-mime
};

// PATH (default "/bin:/usr/bin"), XDG_DATA_HOME (default $HOME/.local/share)
// and XDG_DATA_DIRS (default /usr/local/share:/usr/share) as lookup answers
// them; relative folders are ignored, as the base directory rules say.
LinkEnvironment LinkEnvironmentFrom(const std::function<const char*(const char*)>& lookup);
LinkEnvironment ProcessLinkEnvironment();

// ShellExecute's code for an exit status of xdg-open: 0 succeeded; 1 (bad
// arguments) and 2 (no such file) not found; 3 (no tool or handler) and 4
// (the handler failed) no association; 5 (unreadable file) access denied.
int ShellCodeFromOpenerStatus(int exitStatus);

class CLinuxLinkPlatform : public ILinkPlatform {
 public:
  explicit CLinuxLinkPlatform(LinkEnvironment environment = ProcessLinkEnvironment());

  int ShellOpen(const std::string& address, int showCommand) override;
  long ReadClassesRootDefault(const std::string& key, std::string* value) override;
  int StartProgram(const LinkCommandLine& command, int showCommand) override;

 private:
  long DefaultHtmlHandler(std::string* id) const;
  long HandlerCommand(const std::string& id, std::string* exec) const;

  LinkEnvironment m_environment;
};

// The platform of this machine, made on first use from the process's
// environment.
ILinkPlatform& SystemLinkPlatform();
