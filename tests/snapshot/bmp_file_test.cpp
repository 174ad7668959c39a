// The BMP file: byte-exact headers, the layout at every depth, replacing
// old files, and the failures that must leave no file behind and say so.
#include "snapshot/bmp_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include "tests/snapshot/bmp_test_support.h"

namespace {

// Every row byte distinct, so a misplaced row shows.
BitmapDescription Pattern(int32_t width, int32_t height, uint16_t bits) {
  BitmapDescription bitmap;
  bitmap.width = width;
  bitmap.height = height;
  bitmap.bitsPerPixel = bits;
  bitmap.stride = (static_cast<size_t>(width) * bits + 7) / 8;
  bitmap.rows.resize(bitmap.stride * height);
  for (size_t i = 0; i < bitmap.rows.size(); ++i) bitmap.rows[i] = static_cast<uint8_t>(i * 7 + 1);
  return bitmap;
}

using BmpFileTest = SnapshotFolderTest;

TEST_F(BmpFileTest, TwentyFourBitFileByteForByte) {
  BitmapDescription bitmap = Pattern(1, 2, 24);
  bitmap.rows = {0x00, 0x00, 0xFF, 0xFF, 0x00, 0x00};  // top red, bottom blue
  const std::string path = PathOf("one.bmp");
  ASSERT_TRUE(SaveBitmapAsBmp(bitmap, path).Succeeded());
  const std::vector<uint8_t> expected = {
      'B',  'M',  62, 0,    0,    0,    0, 0, 0, 0, 54, 0, 0, 0,                     // file header
      40,   0,    0,  0,    1,    0,    0, 0, 2, 0, 0,  0, 1, 0, 24, 0, 0, 0, 0, 0,  // info header
      8,    0,    0,  0,    0,    0,    0, 0, 0, 0, 0,  0, 0, 0, 0,  0, 0, 0, 0, 0, 0xFF,
      0x00, 0x00, 0,  0x00, 0x00, 0xFF, 0,  // bottom row first, padded to 4
  };
  EXPECT_EQ(ReadBytes(path), expected);
}

TEST_F(BmpFileTest, OneBitFileCarriesItsTableAsBlueGreenRedZero) {
  BitmapDescription bitmap = Pattern(3, 1, 1);
  bitmap.rows = {0xA0};
  bitmap.palette = {{0, 0, 0}, {0x11, 0x22, 0x33}, {0x44, 0x55, 0x66}};  // third has no room
  const std::string path = PathOf("mono.bmp");
  ASSERT_TRUE(SaveBitmapAsBmp(bitmap, path).Succeeded());
  const std::vector<uint8_t> bytes = ReadBytes(path);
  ASSERT_EQ(bytes.size(), 66u);
  EXPECT_EQ(std::vector<uint8_t>(bytes.begin(), bytes.begin() + 14),
            (std::vector<uint8_t>{'B', 'M', 66, 0, 0, 0, 0, 0, 0, 0, 62, 0, 0, 0}));
  EXPECT_EQ(std::vector<uint8_t>(bytes.begin() + 54, bytes.end()),
            (std::vector<uint8_t>{0, 0, 0, 0, 0x33, 0x22, 0x11, 0, 0xA0, 0, 0, 0}));
}

TEST_F(BmpFileTest, LayoutAtEveryDepth) {
  struct Case {
    uint16_t bits;
    int32_t width;
    uint32_t offBits, rowBytes;
  };
  const Case cases[] = {
      {1, 1, 62, 4},   {1, 33, 62, 8},  {4, 9, 118, 8},
      {8, 3, 1078, 4}, {8, 5, 1078, 8}, {16, 3, 14 + 40 + 65536 * 4, 8},
      {24, 1, 54, 4},  {24, 3, 54, 12}, {24, 5, 54, 16},
      {32, 3, 54, 12},
  };
  const int32_t height = 3;
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.bits << " bits, width " << c.width);
    const auto bitmap = Pattern(c.width, height, c.bits);
    const std::string path = PathOf("depth.bmp");
    ASSERT_TRUE(SaveBitmapAsBmp(bitmap, path).Succeeded());
    const ParsedBmp bmp = ReadBmp(path);
    EXPECT_EQ(bmp.U32(2), c.offBits + c.rowBytes * height) << "bfSize";
    EXPECT_EQ(bmp.bytes.size(), c.offBits + c.rowBytes * height);
    EXPECT_EQ(bmp.U32(10), c.offBits);
    EXPECT_EQ(bmp.U32(34), c.rowBytes * height) << "biSizeImage";
    EXPECT_EQ(bmp.U32(46), c.bits < 24 ? 1u << c.bits : 0u) << "biClrUsed";
    ASSERT_EQ(bmp.Stride(), c.rowBytes);
    for (int y = 0; y < height; ++y) {
      const uint8_t* row = bmp.Row(y);
      const uint8_t* source = bitmap.rows.data() + y * bitmap.stride;
      EXPECT_TRUE(std::equal(source, source + bitmap.stride, row)) << "row " << y;
      EXPECT_TRUE(
          std::all_of(row + bitmap.stride, row + c.rowBytes, [](uint8_t b) { return b == 0; }))
          << "padding of row " << y;
    }
  }
}

// A 16-bit screen's picture keeps its format: BI_BITFIELDS, the three masks
// right after the header, no colour table, the words as they are.
TEST_F(BmpFileTest, SixteenBitsWithMasksByteForByte) {
  BitmapDescription bitmap = Pattern(1, 2, 16);
  bitmap.rows = {0x00, 0xF8, 0x1F, 0x00};  // top red, bottom blue (5-6-5)
  bitmap.masks = {0xF800, 0x07E0, 0x001F};
  const std::string path = PathOf("565.bmp");
  ASSERT_TRUE(SaveBitmapAsBmp(bitmap, path).Succeeded());
  const std::vector<uint8_t> expected = {
      'B',  'M',  74, 0, 0,    0,    0, 0, 0,    0, 66, 0, 0, 0,                     // file header
      40,   0,    0,  0, 1,    0,    0, 0, 2,    0, 0,  0, 1, 0, 16, 0, 3, 0, 0, 0,  // BI_BITFIELDS
      8,    0,    0,  0, 0,    0,    0, 0, 0,    0, 0,  0, 0, 0, 0,  0, 0, 0, 0, 0,  // no table
      0,    0xF8, 0,  0, 0xE0, 0x07, 0, 0, 0x1F, 0, 0,  0,                           // the masks
      0x1F, 0x00, 0,  0, 0x00, 0xF8, 0, 0,  // bottom row first, padded to 4
  };
  EXPECT_EQ(ReadBytes(path), expected);

  // Masks on a depth that has none, or a header that says masks for a
  // description without them: refused at the pixel read, no file.
  BitmapDescription wide = Pattern(1, 1, 24);
  wide.masks = {0xFF0000, 0xFF00, 0xFF};
  std::optional<BitmapInfoBlock> info = CreateBitmapInfo(wide);
  ASSERT_TRUE(info);
  EXPECT_EQ(info->header.biCompression, kBiRgb) << "24 bits never take masks";
  std::optional<BitmapInfoBlock> masked = CreateBitmapInfo(bitmap);
  ASSERT_TRUE(masked);
  EXPECT_EQ(masked->Size(), 52u);
  bitmap.masks = {};
  EXPECT_EQ(WriteBmpFile(PathOf("unmasked.bmp"), *masked, bitmap).failedStep,
            SnapshotStep::kReadPixels);
  EXPECT_FALSE(std::filesystem::exists(PathOf("unmasked.bmp")));
}

TEST_F(BmpFileTest, SavingOverAnOldFileReplacesItCompletely) {
  const std::string path = PathOf("old.bmp");
  std::ofstream(path) << std::string(5000, 'x');
  const mode_t before = umask(022);
  const auto result = SaveBitmapAsBmp(Pattern(2, 2, 24), path);
  umask(before);
  ASSERT_TRUE(result.Succeeded());
  EXPECT_EQ(std::filesystem::file_size(path), 54u + 8 * 2);
  EXPECT_EQ(Names(), std::vector<std::string>{"old.bmp"}) << "no temporary file left";
  EXPECT_EQ(std::filesystem::status(path).permissions(), std::filesystem::perms(0644))
      << "a plain file's mode, not a private temporary's";
}

TEST_F(BmpFileTest, FolderThatCannotTakeTheFileFailsAtCreate) {
  const auto missing = SaveBitmapAsBmp(Pattern(1, 1, 24), PathOf("no/such/a.bmp"));
  EXPECT_EQ(missing.failedStep, SnapshotStep::kCreate);
  EXPECT_EQ(missing.error, ENOENT);
  EXPECT_STREQ(SnapshotStepName(missing.failedStep), "CreateFile");

  std::ofstream(PathOf("plain")) << "not a folder";
  const auto notFolder = SaveBitmapAsBmp(Pattern(1, 1, 24), PathOf("plain/a.bmp"));
  EXPECT_EQ(notFolder.failedStep, SnapshotStep::kCreate);
  EXPECT_EQ(notFolder.error, ENOTDIR);
  EXPECT_EQ(Names(), std::vector<std::string>{"plain"});
}

TEST_F(BmpFileTest, ReadOnlyFolderFailsAndKeepsTheOldFile) {
  const std::string path = PathOf("kept.bmp");
  std::ofstream(path) << "old";
  std::filesystem::permissions(folder, std::filesystem::perms(0555));
  if (access(folder.c_str(), W_OK) == 0) GTEST_SKIP() << "this user writes into read-only folders";
  const auto result = SaveBitmapAsBmp(Pattern(4, 4, 24), path);
  EXPECT_EQ(result.failedStep, SnapshotStep::kCreate);
  EXPECT_EQ(result.error, EACCES);
  EXPECT_EQ(ReadBytes(path), (std::vector<uint8_t>{'o', 'l', 'd'}));
}

TEST_F(BmpFileTest, NameTakenByAFolderFailsAtRenameAndCleansUp) {
  std::filesystem::create_directory(PathOf("taken.bmp"));
  std::ofstream(PathOf("taken.bmp/inside")) << "keeps the folder non-empty";
  const auto result = SaveBitmapAsBmp(Pattern(3, 3, 24), PathOf("taken.bmp"));
  EXPECT_EQ(result.failedStep, SnapshotStep::kRename);
  EXPECT_EQ(Names(), std::vector<std::string>{"taken.bmp"});
}

TEST_F(BmpFileTest, UnusableBitmapsFailBeforeAnyFileExists) {
  EXPECT_EQ(SaveBitmapAsBmp(Pattern(0, 3, 24), PathOf("a.bmp")).failedStep,
            SnapshotStep::kDescribe);
  auto shortRows = Pattern(3, 3, 24);
  shortRows.rows.pop_back();
  auto narrowStride = Pattern(3, 3, 24);
  narrowStride.stride = 8;
  auto planar = Pattern(3, 3, 4);
  planar.planes = 2;
  auto fifteen = Pattern(3, 3, 16);
  fifteen.bitsPerPixel = 15;
  for (const auto* bitmap : {&shortRows, &narrowStride, &planar, &fifteen}) {
    EXPECT_EQ(SaveBitmapAsBmp(*bitmap, PathOf("a.bmp")).failedStep, SnapshotStep::kReadPixels);
  }
  // A block made for another bitmap describes rows this one does not have.
  auto otherInfo = CreateBitmapInfo(Pattern(6, 3, 8));
  ASSERT_TRUE(otherInfo);
  EXPECT_EQ(WriteBmpFile(PathOf("a.bmp"), *otherInfo, Pattern(6, 3, 32)).failedStep,
            SnapshotStep::kReadPixels);
  EXPECT_TRUE(Names().empty());
}

TEST(BmpPartsTest, WritesOnAFullDeviceReportTheWriteStep) {
  const int fd = open("/dev/full", O_WRONLY | O_CLOEXEC);
  if (fd < 0) GTEST_SKIP() << "no /dev/full";
  auto info = CreateBitmapInfo(Pattern(2, 2, 24));
  ASSERT_TRUE(info);
  std::vector<uint8_t> pixels(info->header.biSizeImage);
  const auto result = WriteBmpParts(fd, *info, pixels);
  close(fd);
  EXPECT_EQ(result.failedStep, SnapshotStep::kWrite);
  EXPECT_EQ(result.error, ENOSPC);
}

// A disc filling up part way through the pixels: the file size limit makes
// the kernel refuse the rest. In a child process, so the limit stays there.
using BmpFileDeathTest = SnapshotFolderTest;

TEST_F(BmpFileDeathTest, WriteFailingMidFileLeavesTheOldFileAndNoTemporary) {
  const std::string path = PathOf("TEFE.bmp");
  std::ofstream(path) << "previous save";
  EXPECT_EXIT(
      {
        signal(SIGXFSZ, SIG_IGN);
        rlimit limit{};
        getrlimit(RLIMIT_FSIZE, &limit);
        limit.rlim_cur = 100;  // the headers fit, the pixels do not
        setrlimit(RLIMIT_FSIZE, &limit);
        const auto result = SaveBitmapAsBmp(Pattern(40, 10, 24), path);
        std::exit(result.failedStep == SnapshotStep::kWrite && result.error == EFBIG ? 0 : 1);
      },
      testing::ExitedWithCode(0), "");
  EXPECT_EQ(Names(), std::vector<std::string>{"TEFE.bmp"});
  EXPECT_EQ(ReadBytes(path).size(), 13u);
}

}  // namespace
