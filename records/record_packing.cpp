#include "records/record_packing.h"

#include <zlib.h>

#include <cstdint>

#include "records/scan_record.h"

namespace {

// The text's length, big-endian, before the deflated bytes: the reader
// knows what to make room for before it inflates.
constexpr size_t kLengthBytes = 4;

}  // namespace

std::string PackRecord(std::string_view text) {
  uLongf size = compressBound(static_cast<uLong>(text.size()));
  std::string packed(kLengthBytes + size, '\0');
  const auto length = static_cast<uint32_t>(text.size());
  for (size_t i = 0; i < kLengthBytes; ++i)
    packed[i] = static_cast<char>(length >> (8 * (kLengthBytes - 1 - i)));
  // Level 6 packs within a few percent of 9 at a third of its time.
  compress2(reinterpret_cast<Bytef*>(&packed[kLengthBytes]), &size,
            reinterpret_cast<const Bytef*>(text.data()), static_cast<uLong>(text.size()), 6);
  packed.resize(kLengthBytes + size);
  return packed;
}

bool UnpackRecord(std::string_view packed, std::string* text, std::string* error) {
  if (packed.size() < kLengthBytes) {
    *error = "stored record cut short";
    return false;
  }
  uint32_t length = 0;
  for (size_t i = 0; i < kLengthBytes; ++i)
    length = length << 8 | static_cast<unsigned char>(packed[i]);
  if (length > kRecordMaxBytes) {
    *error = "stored record claims " + std::to_string(length) + " bytes";
    return false;
  }
  text->assign(length, '\0');
  uLongf size = length;
  const int rc = uncompress(reinterpret_cast<Bytef*>(text->data()), &size,
                            reinterpret_cast<const Bytef*>(packed.data() + kLengthBytes),
                            static_cast<uLong>(packed.size() - kLengthBytes));
  if (rc != Z_OK || size != length) {
    *error = "stored record damaged (" + std::string(zError(rc)) + ")";
    return false;
  }
  return true;
}
