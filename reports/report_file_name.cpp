#include "reports/report_file_name.h"

#include "records/scan_record.h"

namespace {

bool Allowed(unsigned char c) {
  if (c >= '0' && c <= '9') return true;
  if (c >= 'A' && c <= 'Z') return true;
  if (c >= 'a' && c <= 'z') return true;
  return c == '.' || c == '-' || c == '+' || c == '_';
}

// "2026-12-08T02:10:00+01:00" -> "20261208-021000"; digits missing or out of
// place give zeros rather than a name with other characters in it.
std::string StampOf(const std::string& iso) {
  std::string digits;
  for (size_t i = 0; i < iso.size() && i < 19; ++i) {
    if (iso[i] >= '0' && iso[i] <= '9') digits += iso[i];
  }
  digits.resize(14, '0');
  return digits.substr(0, 8) + "-" + digits.substr(8, 6);
}

}  // namespace

std::string SafeFileNamePart(std::string_view text, size_t max) {
  std::string safe;
  for (unsigned char c : text) {
    const char out = Allowed(c) ? static_cast<char>(c) : '_';
    if (out == '_' && !safe.empty() && safe.back() == '_') continue;
    safe += out;
  }
  // Hidden files, options and names Windows trims at the end.
  auto edge = [](char c) { return c == '.' || c == '-' || c == '_' || c == ' '; };
  size_t first = 0;
  while (first < safe.size() && edge(safe[first])) ++first;
  safe.erase(0, first);
  if (safe.size() > max) safe.resize(max);
  while (!safe.empty() && edge(safe.back())) safe.pop_back();
  return safe.empty() ? "unknown" : safe;
}

std::string DefaultReportFileName(const ScanRecord& record, std::string_view ext, size_t runs) {
  const std::string speed =
      record.kind == RecordKind::kSmart ? "smart" : SafeFileNamePart(record.settings.speed, 8);
  return "velmo-" + StampOf(record.startTime) + "-" + SafeFileNamePart(record.disc.manufacturerId) +
         "-" + speed + (runs > 1 ? "-compare" + std::to_string(runs) : std::string()) + "." +
         SafeFileNamePart(ext, 8);
}
