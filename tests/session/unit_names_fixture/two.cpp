#include <string>
#include <string_view>

namespace {

using Alias = std::string;  // the same alias: one name
enum class Sample { kA };
constexpr int kLimit = 8;
std::string_view Trimmed(std::string_view text) {
  return text.substr(text.find_first_not_of(" {"));  // a "}" in a literal is no scope
}

}  // namespace

static int Counted() { return 0; }
constexpr const char* kTitle = "two";
int Shared() { return Counted(); }
