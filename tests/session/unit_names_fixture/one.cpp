// Each name here but Alias and Unique is declared again in two.cpp, kept to
// that file as it is here; three.cpp is another target's.
#include <string>

namespace {

using Alias = std::string;
struct Sample {
  int value;
};
constexpr int kLimit = 4;
std::string Trimmed(const std::string& text) { return text; }

}  // namespace

static int Counted() { return kLimit; }
const char kTitle[] = "one";
int Unique() { return Counted() + Sample{1}.value + static_cast<int>(Trimmed(kTitle).size()); }
