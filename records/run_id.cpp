#include "records/run_id.h"

#include <sys/random.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <random>

namespace {

std::string UuidText(std::array<uint8_t, 16> bytes, int version) {
  bytes[6] = static_cast<uint8_t>((bytes[6] & 0x0F) | (version << 4));
  bytes[8] = static_cast<uint8_t>((bytes[8] & 0x3F) | 0x80);  // RFC 9562 variant
  char text[37];
  std::snprintf(text, sizeof text,
                "%02x%02x%02x%02x-%02x%02x-%02x%02x-%02x%02x-%02x%02x%02x%02x%02x%02x", bytes[0],
                bytes[1], bytes[2], bytes[3], bytes[4], bytes[5], bytes[6], bytes[7], bytes[8],
                bytes[9], bytes[10], bytes[11], bytes[12], bytes[13], bytes[14], bytes[15]);
  return text;
}

// 128-bit FNV-1a, as two 64-bit halves; enough to tell runs apart, and the
// same on every machine.
void HashInto(const std::string& text, uint64_t* high, uint64_t* low) {
  for (const unsigned char c : text) {
    *low ^= c;
    // Multiplying by the 128-bit FNV prime 2^88 + 0x13B.
    const unsigned __int128 value = (static_cast<unsigned __int128>(*high) << 64) | *low;
    const unsigned __int128 product = value * ((static_cast<unsigned __int128>(1) << 88) + 0x13B);
    *high = static_cast<uint64_t>(product >> 64);
    *low = static_cast<uint64_t>(product);
  }
}

}  // namespace

std::string NewRunId() {
  std::array<uint8_t, 16> bytes{};
  size_t got = 0;
  while (got < bytes.size()) {
    const ssize_t n = getrandom(bytes.data() + got, bytes.size() - got, 0);
    if (n > 0) {
      got += static_cast<size_t>(n);
    } else if (n < 0 && errno != EINTR) {
      break;
    }
  }
  if (got < bytes.size()) {
    // No kernel randomness (a sandbox without getrandom): the clock and the
    // library's generator still make two runs' ids differ.
    std::seed_seq seed{static_cast<uint64_t>(
        std::chrono::high_resolution_clock::now().time_since_epoch().count())};
    std::mt19937_64 generator(seed);
    for (auto& b : bytes) b = static_cast<uint8_t>(generator());
  }
  return UuidText(bytes, 4);
}

std::string DerivedRunId(const std::string& startTime, const std::string& drive,
                         const std::string& node, const std::string& discType,
                         const std::string& manufacturerId) {
  uint64_t high = 0x6C62272E07BB0142ULL, low = 0x62B821756295C58DULL;  // FNV offset basis
  // Each part with its length, so that no two lists of parts hash alike by
  // moving a character from one part to the next.
  for (const std::string* part : {&startTime, &drive, &node, &discType, &manufacturerId})
    HashInto(std::to_string(part->size()) + ":" + *part, &high, &low);
  std::array<uint8_t, 16> bytes{};
  for (int i = 0; i < 8; ++i) {
    bytes[i] = static_cast<uint8_t>(high >> (56 - 8 * i));
    bytes[8 + i] = static_cast<uint8_t>(low >> (56 - 8 * i));
  }
  return UuidText(bytes, 8);
}

bool IsRunId(const std::string& text) {
  if (text.size() != 36) return false;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    const bool dash = i == 8 || i == 13 || i == 18 || i == 23;
    if (dash != (c == '-')) return false;
    if (!dash && !((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F')))
      return false;
  }
  return true;
}
