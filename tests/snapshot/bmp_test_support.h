// What the snapshot tests share: a scratch folder per test, whole-file
// reads, and a BMP reader of their own that shares no code with the writer.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/support/scratch_folder.h"

class SnapshotFolderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(m_scratch.Path().empty());
    folder = m_scratch.Path();
  }
  void TearDown() override {
    std::error_code ignored;
    std::filesystem::permissions(folder, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ignored);
  }
  std::string PathOf(const std::string& name) const { return (folder / name).string(); }
  // Every name in the folder, hidden ones included.
  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
      names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }

  ScratchFolder m_scratch{"velmo-snap"};
  std::filesystem::path folder;
};

inline std::vector<uint8_t> ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

struct ParsedBmp {
  std::vector<uint8_t> bytes;

  uint32_t U16(size_t at) const { return bytes[at] | bytes[at + 1] << 8; }
  uint32_t U32(size_t at) const {
    return bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16 | uint32_t(bytes[at + 3]) << 24;
  }
  int32_t Width() const { return int32_t(U32(18)); }
  int32_t Height() const { return int32_t(U32(22)); }
  uint32_t BitCount() const { return U16(28); }
  // A stored row: the pixel bytes rounded up to a multiple of 4.
  size_t Stride() const { return ((size_t(Width()) * BitCount() + 7) / 8 + 3) / 4 * 4; }
  // Picture row y (0 = top); the file keeps the bottom row first.
  const uint8_t* Row(int y) const { return bytes.data() + U32(10) + (Height() - 1 - y) * Stride(); }
  // Pixel (x, y) of a 24- or 32-bit file as 0xRRGGBB.
  uint32_t Rgb(int x, int y) const {
    const uint8_t* p = Row(y) + x * (BitCount() / 8);
    return uint32_t(p[2]) << 16 | p[1] << 8 | p[0];
  }
};

inline ParsedBmp ReadBmp(const std::string& path) { return ParsedBmp{ReadBytes(path)}; }
