#include "snapshot/bmp_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <new>
#include <vector>

#include "session/output_file.h"
#include "snapshot/dib_bits.h"
#include "snapshot/little_endian.h"

namespace {

SnapshotResult Failed(SnapshotStep step, int error = 0) { return {step, error}; }

SnapshotResult WriteAll(int fd, const uint8_t* data, size_t size) {
  if (WriteOutputBytes(fd, data, size)) return {};
  return Failed(SnapshotStep::kWrite, errno);
}

}  // namespace

const char* SnapshotStepName(SnapshotStep step) {
  switch (step) {
    case SnapshotStep::kNone: return "";
    case SnapshotStep::kDescribe: return "GetObject";
    case SnapshotStep::kAllocate: return "GlobalAlloc";
    case SnapshotStep::kReadPixels: return "GetDIBits";
    case SnapshotStep::kCreate: return "CreateFile";
    case SnapshotStep::kWrite: return "WriteFile";
    case SnapshotStep::kClose: return "CloseHandle";
    case SnapshotStep::kRename: return "rename";
  }
  return "";
}

BitmapFileHeader MakeFileHeader(const BitmapInfoHeader& info) {
  BitmapFileHeader file;
  file.bfOffBits = kFileHeaderSize + info.biSize + TableBytes(info);
  file.bfSize = file.bfOffBits + info.biSizeImage;
  return file;
}

void PutBitmapFileHeader(uint8_t* out, const BitmapFileHeader& h) {
  PutLe16(out + 0, h.bfType);
  PutLe32(out + 2, h.bfSize);
  PutLe16(out + 6, h.bfReserved1);
  PutLe16(out + 8, h.bfReserved2);
  PutLe32(out + 10, h.bfOffBits);
}

SnapshotResult WriteBmpParts(int fd, const BitmapInfoBlock& info, std::span<const uint8_t> pixels) {
  const size_t tableBytes = TableBytes(info.header);
  if (tableBytes > info.colorTable.size() || pixels.size() != info.header.biSizeImage) {
    return Failed(SnapshotStep::kWrite, EINVAL);
  }
  uint8_t fileHeader[kFileHeaderSize];
  PutBitmapFileHeader(fileHeader, MakeFileHeader(info.header));
  if (auto r = WriteAll(fd, fileHeader, sizeof fileHeader); !r.Succeeded()) return r;

  std::vector<uint8_t> block(kInfoHeaderSize + tableBytes);
  PutBitmapInfoHeader(block.data(), info.header);
  std::copy_n(info.colorTable.begin(), tableBytes, block.begin() + kInfoHeaderSize);
  if (auto r = WriteAll(fd, block.data(), block.size()); !r.Succeeded()) return r;

  return WriteAll(fd, pixels.data(), pixels.size());
}

SnapshotResult WriteBmpFile(const std::string& path, BitmapInfoBlock& info,
                            const BitmapDescription& bitmap) {
  if (path.empty()) return Failed(SnapshotStep::kCreate, ENOENT);
  std::vector<uint8_t> pixels;
  try {
    pixels.resize(info.header.biSizeImage);
  } catch (const std::bad_alloc&) {
    return Failed(SnapshotStep::kAllocate, ENOMEM);
  }
  if (!ReadDibBits(bitmap, info, pixels)) return Failed(SnapshotStep::kReadPixels);

  COutputFile file;
  if (!file.Open(path, nullptr)) {
    // A folder in the picture's place: the name cannot be taken.
    return Failed(file.FailedError() == EISDIR ? SnapshotStep::kRename : SnapshotStep::kCreate,
                  file.FailedError());
  }
  SnapshotResult result = WriteBmpParts(file.Descriptor(), info, pixels);
  if (!result.Succeeded()) return result;
  if (!file.Commit(nullptr)) {
    return Failed(file.FailedStep() == COutputFile::Step::kRename ? SnapshotStep::kRename
                                                                  : SnapshotStep::kClose,
                  file.FailedError());
  }
  return {};
}

SnapshotResult WriteBitmapAsBmp(int fd, const BitmapDescription& bitmap) {
  std::optional<BitmapInfoBlock> info = CreateBitmapInfo(bitmap);
  if (!info) return Failed(SnapshotStep::kDescribe);
  std::vector<uint8_t> pixels;
  try {
    pixels.resize(info->header.biSizeImage);
  } catch (const std::bad_alloc&) {
    return Failed(SnapshotStep::kAllocate, ENOMEM);
  }
  if (!ReadDibBits(bitmap, *info, pixels)) return Failed(SnapshotStep::kReadPixels);
  return WriteBmpParts(fd, *info, pixels);
}

SnapshotResult SaveBitmapAsBmp(const BitmapDescription& bitmap, const std::string& path) {
  std::optional<BitmapInfoBlock> info = CreateBitmapInfo(bitmap);
  if (!info) return Failed(SnapshotStep::kDescribe);
  return WriteBmpFile(path, *info, bitmap);
}
