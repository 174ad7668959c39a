// Every test in this binary (and every velmo-cli it starts) keeps its runs
// in a scratch history, never in the user's own.
#include <unistd.h>

#include <cstdlib>
#include <string>

namespace {

const bool kScratchHistory = [] {
  const std::string folder = "/tmp/velmo-cli-tests-" + std::to_string(getpid()) + "-data";
  setenv("XDG_DATA_HOME", folder.c_str(), 1);
  return true;
}();

}  // namespace
