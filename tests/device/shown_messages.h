// The messages the device manager shows the user, kept for a test to read.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "device/device_manager.h"

struct Messages {
  std::vector<std::pair<std::string, std::string>> shown;
  MessageHandler Handler() {
    return [this](const std::string& text, const std::string& caption) {
      shown.emplace_back(text, caption);
    };
  }
};
