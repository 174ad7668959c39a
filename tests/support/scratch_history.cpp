// Every test in a binary that links this (and every program it starts) keeps its runs
// in a scratch history, never in the user's own.
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

std::string& Folder() {
  static std::string folder = (std::filesystem::temp_directory_path() /
                               ("velmo-tests-" + std::to_string(getpid()) + "-data"))
                                  .string();
  return folder;
}

const bool kScratchHistory = [] {
  setenv("XDG_DATA_HOME", Folder().c_str(), 1);
  std::atexit([] {
    std::error_code ignored;
    std::filesystem::remove_all(Folder(), ignored);
  });
  return true;
}();

}  // namespace
