#include "links/manual_address.h"

#include <unistd.h>

#include <cstdio>
#include <filesystem>

namespace {

// A file: address spells out in %XX every byte of the path a URL does not
// take as it is (spaces, '#', '%', bytes beyond ASCII).
std::string AddressOfPath(const std::string& path) {
  std::string address = "file://";
  for (const unsigned char c : path) {
    const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                       c == '/' || c == '-' || c == '_' || c == '.' || c == '~' || c == '+';
    if (plain) {
      address += static_cast<char>(c);
    } else {
      char escaped[4];
      std::snprintf(escaped, sizeof escaped, "%%%02X", c);
      address += escaped;
    }
  }
  return address;
}

}  // namespace

std::string ManualPathFor(const std::string& program) {
  // The install puts the manual in share/doc/velmo/ under the prefix whose
  // bin/ holds the program; the build tree copies it to the same place.
  const std::filesystem::path prefix = std::filesystem::path(program).parent_path().parent_path();
  return (prefix / "share/doc/velmo/manual.md").lexically_normal().string();
}

std::string ManualAddressFor(const std::string& program, const std::string& section) {
  std::string address = AddressOfPath(ManualPathFor(program));
  if (!section.empty()) address += "#" + section;
  return address;
}

std::string ManualAddress(const std::string& section) {
  std::error_code failed;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", failed);
  return ManualAddressFor(failed ? "/usr/bin/velmo" : self.string(), section);
}
