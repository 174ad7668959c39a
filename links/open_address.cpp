#include "links/open_address.h"

#include "links/linux_link_platform.h"

namespace {

ILinkPlatform* g_replacement = nullptr;

bool IsUrlPlaceholder(char code) {
  return code == 'u' || code == 'U' || code == 'f' || code == 'F';
}

}  // namespace

long ReadRegistryDefault(ILinkPlatform& platform, const std::string& key, std::string* value) {
  std::string read;
  const long error = platform.ReadClassesRootDefault(key, &read);
  if (error != kRegistryOk) return error;
  if (read.size() + 1 > kRegistryValueBytes) return kRegistryMoreData;
  *value = std::move(read);
  return kRegistryOk;
}

std::size_t PlaceholderCut(const std::string& registered) {
  std::size_t firstBare = std::string::npos;
  for (std::size_t i = 0; i + 1 < registered.size(); ++i) {
    if (registered[i] != '%') continue;
    if (registered[i + 1] == '%') {
      ++i;  // "%%" stands for one percent sign
      continue;
    }
    if (!IsUrlPlaceholder(registered[i + 1])) continue;
    const bool quoted =
        i > 0 && registered[i - 1] == '"' && i + 2 < registered.size() && registered[i + 2] == '"';
    if (quoted) return i - 1;
    if (firstBare == std::string::npos) firstBare = i;
  }
  return firstBare;
}

std::optional<LinkCommandLine> BuildLinkCommand(const std::string& registered,
                                                const std::string& address) {
  LinkCommandLine command;
  command.text = registered.substr(0, PlaceholderCut(registered));
  command.text += ' ';
  command.addressAt = command.text.size();
  command.text += address;
  if (command.text.size() + 1 > kLinkCommandBytes) return std::nullopt;
  return command;
}

int OpenAddress(ILinkPlatform& platform, const std::string& address, int showCommand) {
  const int shell = platform.ShellOpen(address, showCommand);
  if (static_cast<unsigned>(shell) > 32) return shell;

  std::string key;
  if (ReadRegistryDefault(platform, ".htm", &key) != kRegistryOk) return shell;
  key += "\\shell\\open\\command";
  std::string registered;
  if (ReadRegistryDefault(platform, key, &registered) != kRegistryOk) return shell;

  const std::optional<LinkCommandLine> command = BuildLinkCommand(registered, address);
  if (!command) return shell;
  return platform.StartProgram(*command, showCommand);
}

int OpenAddress(const std::string& address, int showCommand) {
  return OpenAddress(LinkPlatform(), address, showCommand);
}

ILinkPlatform& LinkPlatform() { return g_replacement ? *g_replacement : SystemLinkPlatform(); }

ILinkPlatform* ReplaceLinkPlatform(ILinkPlatform* platform) {
  ILinkPlatform* previous = g_replacement;
  g_replacement = platform;
  return previous;
}
