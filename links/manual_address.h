// Where the user's manual is, as an address the desktop opens: the copy
// installed with the programs (PREFIX/share/doc/velmo/manual.md beside
// PREFIX/bin/velmo), which the build tree also holds beside its programs.
// Help, Contents, the About dialog and the drive notice link to it.
#pragma once

#include <string>

// The manual's section on real drives, and on the drives Velmo supports.
inline constexpr char kManualDrivesSection[] = "using-a-real-drive";

// The manual of the program at program (an absolute path), at section (a
// heading's anchor, e.g. "using-a-real-drive"; empty for the top).
std::string ManualAddressFor(const std::string& program, const std::string& section = "");
// The same for the program running.
std::string ManualAddress(const std::string& section = "");
// The file ManualAddressFor names, without the file: address around it.
std::string ManualPathFor(const std::string& program);
