// Opening a link's address: the shell first; when the shell cannot, the
// command registered for web pages (".htm") with the address appended.
// Both the GUI's hyperlinks and anything else that opens a web page go
// through here.
//
// Threads: UI thread. OpenAddress blocks while the shell or the program
// starter answers (at most a few seconds).
#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include "links/link_platform.h"

// Buffer sizes of the fallback: a registry value is read into 260 bytes, the
// command line is built in 520 (each including its terminating NUL).
inline constexpr std::size_t kRegistryValueBytes = 260;
inline constexpr std::size_t kLinkCommandBytes = 520;

// The shell's or the program starter's result code; > 32 is success.
int OpenAddress(ILinkPlatform& platform, const std::string& address, int showCommand);
// The same on LinkPlatform().
int OpenAddress(const std::string& address, int showCommand);

// The default value of HKEY_CLASSES_ROOT\key: kRegistryOk and *value, or the
// platform's error code, or kRegistryMoreData when the value does not fit in
// kRegistryValueBytes. *value is left alone on failure.
long ReadRegistryDefault(ILinkPlatform& platform, const std::string& key, std::string* value);

// Where a registered command line is cut before the address goes on: at the
// opening quote of the first quoted placeholder ("%u"), else at the first bare
// placeholder, else npos (nothing is cut). The placeholders are the desktop
// entry field codes that take URLs or files: %u %U %f %F; "%%" is a literal
// percent sign, not the start of a placeholder.
std::size_t PlaceholderCut(const std::string& registered);

// The registered command cut at its placeholder, then " " and the address.
// Empty when that would not fit in kLinkCommandBytes: the line is never
// truncated, and OpenAddress then treats the fallback as unavailable.
std::optional<LinkCommandLine> BuildLinkCommand(const std::string& registered,
                                                const std::string& address);

// The platform OpenAddress(address, showCommand) uses: the system's own
// unless a test has put another in place. ReplaceLinkPlatform returns the one
// it replaces (nullptr for the system's); nullptr puts the system's back.
// UI thread only.
ILinkPlatform& LinkPlatform();
ILinkPlatform* ReplaceLinkPlatform(ILinkPlatform* platform);
