// The narrow platform interface under OpenAddress: the shell's "open" of an
// address, the default value of a key of the file-type registry (HKEY_CLASSES_ROOT),
// and the program starter. OpenAddress's fallback rules run unchanged on top:
//   - CLinuxLinkPlatform: xdg-open, xdg-mime and desktop entries, posix_spawn;
//   - the tests' fake, which scripts every answer.
// Result codes keep their Windows meaning on every platform: a shell open or
// program start above 32 is success, 32 or less is one of the codes below;
// a registry read answers 0 or a registry error code.
//
// Threads: implementations may be called from any thread; OpenAddress itself
// runs on the UI thread and blocks while the platform answers.
#pragma once

#include <cstddef>
#include <string>

// Show commands (ShowWindow values). Only SW_SHOW is used.
inline constexpr int kShowNormal = 5;

// Failure codes of a shell open or a program start (ShellExecuteA / WinExec).
inline constexpr int kOpenOutOfResources = 0;
inline constexpr int kOpenFileNotFound = 2;
inline constexpr int kOpenPathNotFound = 3;
inline constexpr int kOpenAccessDenied = 5;
inline constexpr int kOpenOutOfMemory = 8;
inline constexpr int kOpenBadFormat = 11;
inline constexpr int kOpenSharingViolation = 26;
inline constexpr int kOpenAssociationIncomplete = 27;
inline constexpr int kOpenDdeTimeout = 28;
inline constexpr int kOpenDdeFailed = 29;
inline constexpr int kOpenDdeBusy = 30;
inline constexpr int kOpenNoAssociation = 31;
inline constexpr int kOpenDllNotFound = 32;
// What our platforms answer on success; callers test "> 32", never this value.
inline constexpr int kOpenSucceeded = 33;

// Registry read results.
inline constexpr long kRegistryOk = 0;
inline constexpr long kRegistryNotFound = 2;
inline constexpr long kRegistryAccessDenied = 5;
inline constexpr long kRegistryMoreData = 234;  // value longer than the buffer

// The fallback's command line as OpenAddress builds it: the registered
// command cut at its placeholder, a space, then the address from addressAt
// on. The starter parses only text before addressAt as a command; the
// address is handed to the program as one argument, exactly as given.
struct LinkCommandLine {
  std::string text;
  std::size_t addressAt = 0;
};

class ILinkPlatform {
 public:
  virtual ~ILinkPlatform() = default;

  // ShellExecuteA(no owner, "open", address, no parameters, no directory,
  // showCommand): > 32 on success.
  virtual int ShellOpen(const std::string& address, int showCommand) = 0;

  // The default (unnamed) value of HKEY_CLASSES_ROOT\key: kRegistryOk and
  // *value, or a registry error code. OpenAddress asks for ".htm" and for
  // "<file type>\shell\open\command".
  virtual long ReadClassesRootDefault(const std::string& key, std::string* value) = 0;

  // WinExec(command, showCommand): > 32 once the program has been started.
  virtual int StartProgram(const LinkCommandLine& command, int showCommand) = 0;
};
