// The BMP writer from any bitmap description a capture could hand over: the
// information block, the pixel read and the three writes, to a memory file
// whose size must come out as the file header says.
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "fuzz/fuzz_input.h"
#include "snapshot/bitmap_info.h"
#include "snapshot/bmp_file.h"
#include "snapshot/dib_bits.h"

namespace {

// Pixel buffers above this are not allocated: the fuzzer's memory is not
// the writer's to test.
constexpr uint32_t kMaxImageBytes = 1u << 22;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const int fd = memfd_create("fuzz-bmp", MFD_CLOEXEC);
  FUZZ_CHECK(fd >= 0);
  FuzzInput in(data, size);

  BitmapDescription bitmap;
  const uint8_t shape = in.Byte();
  // Mostly small pictures, sometimes any 32-bit size.
  bitmap.width = (shape & 1) ? static_cast<int32_t>(in.U32()) : in.Byte() - 8;
  bitmap.height = (shape & 2) ? static_cast<int32_t>(in.U32()) : in.Byte() - 8;
  bitmap.planes = (shape & 4) ? in.U16() : 1;
  bitmap.bitsPerPixel = (shape & 8) ? in.U16() : in.Byte() % 40;
  for (int i = 0, n = in.Byte(); i < n && !in.Empty(); ++i) {
    const auto rgb = in.Bytes(3);
    if (rgb.size() == 3) bitmap.palette.push_back({rgb[0], rgb[1], rgb[2]});
  }
  bitmap.stride = (shape & 0x10) ? in.U64() : in.U16();
  bitmap.rows = in.Rest();

  std::optional<BitmapInfoBlock> info = CreateBitmapInfo(bitmap);
  if (!info) return 0;
  const BitmapInfoHeader& h = info->header;
  FUZZ_CHECK(h.biWidth > 0 && h.biHeight > 0);
  // The block is sized for one of the six depths, and the image for it.
  bool depthFound = false;
  for (uint16_t bits : {1, 4, 8, 16, 24, 32}) {
    if (info->Size() != InfoBlockSize(bits)) continue;
    depthFound = true;
    FUZZ_CHECK(uint64_t{h.biSizeImage} == PaddedRowBytes(h.biWidth, bits) * uint64_t(h.biHeight));
    FUZZ_CHECK(h.biClrUsed == (bits < 24 ? 1u << bits : 0u));
  }
  FUZZ_CHECK(depthFound);
  const BitmapFileHeader file = MakeFileHeader(h);
  FUZZ_CHECK(file.bfOffBits <= file.bfSize);
  if (h.biSizeImage > kMaxImageBytes) return 0;

  std::vector<uint8_t> pixels(h.biSizeImage);
  const bool read = ReadDibBits(bitmap, *info, pixels);
  if (!read) {
    // A mismatched pixel buffer is refused, not written.
    const SnapshotResult r =
        WriteBmpParts(fd, *info, std::span<const uint8_t>(pixels.data(), pixels.size() / 2));
    if (!pixels.empty()) FUZZ_CHECK(!r.Succeeded());
    return 0;
  }
  FUZZ_CHECK(ftruncate(fd, 0) == 0);
  FUZZ_CHECK(lseek(fd, 0, SEEK_SET) == 0);
  const SnapshotResult r = WriteBmpParts(fd, *info, pixels);
  FUZZ_CHECK(r.Succeeded());
  struct stat st {};
  FUZZ_CHECK(fstat(fd, &st) == 0);
  FUZZ_CHECK(static_cast<uint64_t>(st.st_size) == file.bfSize);
  return 0;
}
