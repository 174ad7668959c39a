// A link platform whose every answer is scripted, and which keeps a log of
// what it was asked, in order.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "links/link_platform.h"

struct FakeLinkPlatform : ILinkPlatform {
  int shellAnswer = kOpenSucceeded;
  std::map<std::string, std::string> registry;  // keys that exist, with their values
  int startAnswer = kOpenSucceeded;

  std::vector<std::string> calls;  // "shell <address>", "read <key>", "start <line>"
  std::vector<int> showCommands;
  std::optional<LinkCommandLine> started;

  int ShellOpen(const std::string& address, int showCommand) override {
    calls.push_back("shell " + address);
    showCommands.push_back(showCommand);
    return shellAnswer;
  }
  long ReadClassesRootDefault(const std::string& key, std::string* value) override {
    calls.push_back("read " + key);
    const auto found = registry.find(key);
    if (found == registry.end()) return kRegistryNotFound;
    *value = found->second;
    return kRegistryOk;
  }
  int StartProgram(const LinkCommandLine& command, int showCommand) override {
    calls.push_back("start " + command.text);
    showCommands.push_back(showCommand);
    started = command;
    return startAnswer;
  }
};
