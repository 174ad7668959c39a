// The reader of files a user names, on real things: a file, a FIFO, device
// nodes, a socket, a folder, files over the cap, and a file whose size lies.
#include "files/input_file.h"
#include "tests/support/scratch_folder.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

namespace {

namespace fs = std::filesystem;

class InputFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(m_scratchFolder.Path().empty());
    m_dir = m_scratchFolder.Path();
  }

  std::string At(const std::string& name) const { return m_dir + "/" + name; }

  struct Read {
    bool ok;
    std::string text;
    InputFileError kind;
    std::string message;
  };
  static Read Of(const std::string& path, size_t cap = 1024) {
    Read r{false, "left over", InputFileError::kNone, ""};
    r.ok = ReadInputFile(path, cap, &r.text, &r.kind, &r.message);
    return r;
  }

  ScratchFolder m_scratchFolder{"velmo-input"};
  std::string m_dir;
};

TEST_F(InputFileTest, ARegularFileIsReadWholeUpToItsCap) {
  std::ofstream(At("exact"), std::ios::binary) << std::string(1024, 'x');
  Read r = Of(At("exact"));
  EXPECT_TRUE(r.ok) << r.message;
  EXPECT_EQ(r.text, std::string(1024, 'x'));
  EXPECT_EQ(r.kind, InputFileError::kNone);

  std::ofstream(At("empty"), std::ios::binary);
  r = Of(At("empty"));
  EXPECT_TRUE(r.ok);
  EXPECT_EQ(r.text, "");

  std::ofstream(At("over"), std::ios::binary) << std::string(1025, 'x');
  r = Of(At("over"));
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.kind, InputFileError::kTooLarge);
  EXPECT_EQ(r.message, At("over") + ": too large (1025 bytes, more than 1024)");
  EXPECT_EQ(r.text, "");

  // Sparse: refused from its size, without reading a gigabyte of zeros.
  fs::resize_file(At("over"), 1ull << 30);
  r = Of(At("over"), 64u << 20);
  EXPECT_EQ(r.kind, InputFileError::kTooLarge);
}

// /proc files say they are empty and are not: the read itself stops one byte
// past the cap.
TEST_F(InputFileTest, TheReadIsBoundedWhateverTheSizeSays) {
  struct stat info {};
  ASSERT_EQ(stat("/proc/self/status", &info), 0);
  ASSERT_EQ(info.st_size, 0);
  Read r = Of("/proc/self/status", 16);
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.kind, InputFileError::kTooLarge);
  EXPECT_EQ(r.message, "/proc/self/status: too large (more than 16 bytes)");
  r = Of("/proc/self/status", 1 << 20);
  EXPECT_TRUE(r.ok) << r.message;
  EXPECT_NE(r.text.find("Name:"), std::string::npos);
}

TEST_F(InputFileTest, WhatIsNotAFileIsRefusedAtOnceAndNamed) {
  ASSERT_EQ(mkfifo(At("fifo").c_str(), 0600), 0);
  fs::create_directory(At("folder"));
  const int sock = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const std::string socketPath = At("socket");
  ASSERT_LT(socketPath.size(), sizeof address.sun_path);
  socketPath.copy(address.sun_path, socketPath.size());
  ASSERT_EQ(bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  fs::create_symlink("/dev/zero", At("zero-link"));

  const struct {
    std::string path;
    const char* says;
  } cases[] = {
      {At("fifo"), "is a FIFO, not a file"},
      {At("folder"), "is a folder, not a file"},
      {socketPath, "is a socket, not a file"},
      {"/dev/zero", "is a character device, not a file"},
      {"/dev/urandom", "is a character device, not a file"},
      {At("zero-link"), "is a character device, not a file"},
  };
  for (const auto& c : cases) {
    const Read r = Of(c.path);
    EXPECT_FALSE(r.ok) << c.path;
    EXPECT_EQ(r.kind, InputFileError::kUnreadable) << c.path;
    EXPECT_EQ(r.message, c.path + ": " + c.says);
    EXPECT_EQ(r.text, "");
  }
  close(sock);

  const Read missing = Of(At("no/such"));
  EXPECT_EQ(missing.kind, InputFileError::kMissing);
  EXPECT_EQ(missing.message, At("no/such") + ": no such file");
}

// A node of /dev/zero's numbers made in a scratch folder: a device is
// refused by what it is, not by where it lives.
TEST_F(InputFileTest, ADeviceNodeAnywhereIsRefused) {
  if (geteuid() != 0) GTEST_SKIP() << "mknod of a character device needs root";
  ASSERT_EQ(mknod(At("zero").c_str(), S_IFCHR | 0600, makedev(1, 5)), 0);
  const Read r = Of(At("zero"));
  EXPECT_EQ(r.kind, InputFileError::kUnreadable);
  EXPECT_EQ(r.message, At("zero") + ": is a character device, not a file");
}

TEST_F(InputFileTest, AFileThatMayNotBeReadSaysWhy) {
  if (geteuid() == 0) GTEST_SKIP() << "root reads any file";
  std::ofstream(At("secret")) << "x";
  fs::permissions(At("secret"), fs::perms::none);
  const Read r = Of(At("secret"));
  EXPECT_EQ(r.kind, InputFileError::kUnreadable);
  EXPECT_EQ(r.message, At("secret") + ": cannot be read (Permission denied)");
}

}  // namespace
