#include "snapshot/bmp_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <new>
#include <vector>

#include "snapshot/dib_bits.h"
#include "snapshot/little_endian.h"

namespace {

SnapshotResult Failed(SnapshotStep step, int error = 0) { return {step, error}; }

SnapshotResult WriteAll(int fd, const uint8_t* data, size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return Failed(SnapshotStep::kWrite, errno);
    }
    if (n == 0) return Failed(SnapshotStep::kWrite, EIO);
    data += n;
    size -= static_cast<size_t>(n);
  }
  return {};
}

std::string FolderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

// A new, hidden file beside path. Its name is short whatever path's is, so
// a name that fits the folder cannot make the temporary one too long.
int CreateTemporaryBeside(const std::string& path, std::string& tempPath) {
  static std::atomic<unsigned> s_counter{0};
  const std::string folder = FolderOf(path);
  for (int attempt = 0; attempt < 100; ++attempt) {
    tempPath = folder + "/.velmo-" + std::to_string(::getpid()) + "-" +
               std::to_string(s_counter.fetch_add(1)) + ".bmp.tmp";
    // 0666 through the umask: the same mode a plain new file would get.
    const int fd = ::open(tempPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  errno = EEXIST;
  return -1;
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
  file.bfOffBits = kFileHeaderSize + info.biSize + 4 * info.biClrUsed;
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
  const size_t tableBytes = 4 * size_t{info.header.biClrUsed};
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

  std::string tempPath;
  const int fd = CreateTemporaryBeside(path, tempPath);
  if (fd < 0) return Failed(SnapshotStep::kCreate, errno);

  SnapshotResult result = WriteBmpParts(fd, info, pixels);
  // A full disc or quota may only show when the data is flushed.
  if (result.Succeeded() && ::fsync(fd) != 0) result = Failed(SnapshotStep::kClose, errno);
  if (::close(fd) != 0 && result.Succeeded()) result = Failed(SnapshotStep::kClose, errno);
  if (result.Succeeded() && std::rename(tempPath.c_str(), path.c_str()) != 0) {
    result = Failed(SnapshotStep::kRename, errno);
  }
  if (!result.Succeeded()) ::unlink(tempPath.c_str());
  return result;
}

SnapshotResult SaveBitmapAsBmp(const BitmapDescription& bitmap, const std::string& path) {
  std::optional<BitmapInfoBlock> info = CreateBitmapInfo(bitmap);
  if (!info) return Failed(SnapshotStep::kDescribe);
  return WriteBmpFile(path, *info, bitmap);
}
