#include "records/drive_facts_text.h"

#include <cstdio>

namespace {

constexpr char kUnknownFact[] = "unknown";

std::string ProfileText(uint16_t profile) {
  const char* name = ProfileName(profile);
  if (*name != '\0') return name;
  char code[16];
  std::snprintf(code, sizeof code, "profile %04Xh", profile);
  return code;
}

std::string LoaderText(uint8_t loader) {
  const char* name = LoaderName(loader);
  return *name != '\0' ? std::string(name) : "loader type " + std::to_string(loader);
}

template <typename T, typename F>
nlohmann::ordered_json OrNull(const std::optional<T>& value, F make) {
  return value ? nlohmann::ordered_json(make(*value)) : nlohmann::ordered_json(nullptr);
}

std::optional<std::string> StringField(const nlohmann::ordered_json& json, const char* key) {
  const auto it = json.find(key);
  if (it == json.end() || !it->is_string()) return std::nullopt;
  return it->get<std::string>();
}

template <typename T>
std::optional<T> NumberField(const nlohmann::ordered_json& json, const char* key, T max) {
  const auto it = json.find(key);
  if (it == json.end() || !it->is_number_unsigned()) return std::nullopt;
  const uint64_t value = it->get<uint64_t>();
  if (value > max) return std::nullopt;
  return static_cast<T>(value);
}

}  // namespace

std::string ProfileListText(const DriveFacts& facts, bool writableOnly) {
  if (!facts.profiles) return kUnknownFact;
  std::string text;
  for (uint16_t profile : *facts.profiles) {
    if (writableOnly && !IsWritableProfile(profile)) continue;
    if (!text.empty()) text += ", ";
    text += ProfileText(profile);
  }
  return text.empty() ? "none" : text;
}

std::vector<DriveFactLine> DriveFactLines(const DriveFacts& facts) {
  char buffer[32] = "";
  if (facts.bufferKiB) std::snprintf(buffer, sizeof buffer, "%u KiB", *facts.bufferKiB);
  return {
      {"Firmware:", facts.revision.value_or(kUnknownFact)},
      {"Firmware date:", facts.firmwareDate.value_or(kUnknownFact)},
      {"Serial number:", facts.serial.value_or(kUnknownFact)},
      {"Loader:", facts.loader ? LoaderText(*facts.loader) : kUnknownFact},
      {"Buffer:", facts.bufferKiB ? buffer : kUnknownFact},
      {"Reads:", ProfileListText(facts, false)},
      {"Writes:", ProfileListText(facts, true)},
  };
}

nlohmann::ordered_json DriveFactsJson(const DriveFacts& facts) {
  nlohmann::ordered_json json;
  const auto text = [](const std::string& s) { return s; };
  json["firmwareRevision"] = OrNull(facts.revision, text);
  json["firmwareDate"] = OrNull(facts.firmwareDate, text);
  json["serialNumber"] = OrNull(facts.serial, text);
  json["loaderType"] = OrNull(facts.loader, [](uint8_t v) { return static_cast<unsigned>(v); });
  json["loader"] = OrNull(facts.loader, LoaderText);
  json["bufferKiB"] = OrNull(facts.bufferKiB, [](uint32_t v) { return v; });
  if (facts.profiles) {
    nlohmann::ordered_json profiles = nlohmann::ordered_json::array();
    for (uint16_t profile : *facts.profiles) {
      profiles.push_back({{"profile", profile},
                          {"name", ProfileText(profile)},
                          {"writes", IsWritableProfile(profile)}});
    }
    json["profiles"] = std::move(profiles);
  } else {
    json["profiles"] = nullptr;
  }
  return json;
}

DriveFacts DriveFactsFromJson(const nlohmann::ordered_json& json) {
  DriveFacts facts;
  if (!json.is_object()) return facts;
  facts.revision = StringField(json, "firmwareRevision");
  facts.firmwareDate = StringField(json, "firmwareDate");
  facts.serial = StringField(json, "serialNumber");
  facts.loader = NumberField<uint8_t>(json, "loaderType", 7);
  facts.bufferKiB = NumberField<uint32_t>(json, "bufferKiB", 0xFFFF);
  const auto profiles = json.find("profiles");
  if (profiles != json.end() && profiles->is_array()) {
    facts.profiles.emplace();
    for (const auto& entry : *profiles) {
      if (!entry.is_object()) continue;
      if (const auto code = NumberField<uint16_t>(entry, "profile", 0xFFFF))
        facts.profiles->push_back(*code);
    }
  }
  return facts;
}
