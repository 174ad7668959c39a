// The links layer over text from the user's desktop: desktop entry files,
// Exec lines, registered commands and registry values, through a platform
// whose every answer comes from the input. Nothing is ever started.
#include "fuzz/fuzz_input.h"
#include "links/desktop_entry.h"
#include "links/open_address.h"

namespace {

struct FuzzLinkPlatform : ILinkPlatform {
  explicit FuzzLinkPlatform(FuzzInput& in) : in(in) {}
  FuzzInput& in;
  bool started = false;
  LinkCommandLine line;

  int ShellOpen(const std::string&, int showCommand) override {
    FUZZ_CHECK(showCommand == kShowNormal);
    const uint8_t b = in.Byte();
    return b < 0x80 ? b % 40 : kOpenSucceeded;
  }
  long ReadClassesRootDefault(const std::string& key, std::string* value) override {
    FUZZ_CHECK(!key.empty());
    const uint8_t b = in.Byte();
    if (b & 0x80) return (b & 1) ? kRegistryNotFound : kRegistryAccessDenied;
    *value = in.Text();
    return kRegistryOk;
  }
  int StartProgram(const LinkCommandLine& command, int) override {
    started = true;
    line = command;
    return in.Byte();
  }
};

void CheckSplit(std::string_view text) {
  const auto args = SplitExecLine(text);
  if (!args) return;
  for (const std::string& a : *args) FUZZ_CHECK(a.size() <= text.size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput in(data, size);
  const uint8_t mode = in.Byte();
  switch (mode % 3) {
    case 0: {  // a whole desktop entry file
      const std::vector<uint8_t> bytes = in.Rest();
      const std::string_view entry(reinterpret_cast<const char*>(bytes.data()), bytes.size());
      const auto exec = DesktopEntryExec(entry);
      if (exec) {
        FUZZ_CHECK(exec->size() <= entry.size());
        CheckSplit(*exec);
      }
      break;
    }
    case 1: {  // one registered command line and an address
      const std::string registered = in.Text();
      const std::string address = in.Text();
      CheckSplit(registered);
      const size_t cut = PlaceholderCut(registered);
      FUZZ_CHECK(cut == std::string::npos || cut < registered.size());
      if (cut != std::string::npos) FUZZ_CHECK(registered[cut] == '%' || registered[cut] == '"');
      const auto command = BuildLinkCommand(registered, address);
      if (command) {
        FUZZ_CHECK(command->text.size() < kLinkCommandBytes);
        FUZZ_CHECK(command->addressAt <= command->text.size());
        FUZZ_CHECK(command->text.compare(command->addressAt, std::string::npos, address) == 0);
        FUZZ_CHECK(command->text[command->addressAt - 1] == ' ');
        CheckSplit(std::string_view(command->text).substr(0, command->addressAt));
      } else {
        FUZZ_CHECK(registered.size() + address.size() + 1 >= kLinkCommandBytes - 1);
      }
      break;
    }
    case 2: {  // the whole fallback over fuzzed registry answers
      FuzzLinkPlatform platform(in);
      const std::string address = in.Text();
      std::string value = "untouched";
      const long read = ReadRegistryDefault(platform, ".htm", &value);
      if (read == kRegistryOk) {
        FUZZ_CHECK(value.size() < kRegistryValueBytes);
      } else {
        FUZZ_CHECK(value == "untouched");
      }
      const int result = OpenAddress(platform, address, kShowNormal);
      if (platform.started) {
        FUZZ_CHECK(platform.line.text.size() < kLinkCommandBytes);
        FUZZ_CHECK(platform.line.text.substr(platform.line.addressAt) == address);
      } else {
        FUZZ_CHECK(result >= 0 && result <= 255);
      }
      break;
    }
  }
  return 0;
}
