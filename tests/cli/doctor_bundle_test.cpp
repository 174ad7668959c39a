// velmo-cli doctor --bundle on the simulator, as a user attaches it: the
// archive holds what it says, its probe trace replays to the identify it
// was taken with, its scan trace to the same log, and a bundle that cannot
// be written is said with the exit code of an output that failed.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "cli/cli_options.h"
#include "tests/cli/cli_process.h"
#include "tests/support/scratch_folder.h"

namespace fs = std::filesystem;

namespace {

std::string Shell(const std::string& command) {
  std::string text;
  if (std::FILE* pipe = popen(command.c_str(), "r")) {
    char buffer[4096];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) text.append(buffer, n);
    pclose(pipe);
  }
  return text;
}

class DoctorBundle : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(m_scratchFolder.Path().empty());
    m_dir = m_scratchFolder.Path();
  }
  Finished Run(const std::vector<std::string>& args, std::vector<std::string> env = {}) {
    SpawnOptions options;
    options.cwd = m_dir;
    options.env = std::move(env);
    options.env.push_back("XDG_DATA_HOME=" + m_dir + "/data");
    options.env.push_back("TMPDIR=" + m_dir);
    return Child(args, options).Wait(std::chrono::seconds(120));
  }
  ScratchFolder m_scratchFolder{"velmo-bundle-test"};
  std::string m_dir;
};

TEST_F(DoctorBundle, HoldsTheReportProbeAndScanAndReplays) {
  const Finished run =
      Run({"--simulate", "--sim-latency=0", "doctor", "--bundle", "report.tar.gz", "--with-scan"});
  ASSERT_EQ(run.code, kExitOk) << run.err;
  EXPECT_NE(run.out.find("Wrote report.tar.gz (13 files)"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("velmo --simulate=replay:velmo-bundle/probe.trace"), std::string::npos);
  const std::string listing = Shell("tar -tzf '" + m_dir + "/report.tar.gz' | sort");
  EXPECT_EQ(listing,
            "velmo-bundle/\n"
            "velmo-bundle/TEFE.txt\n"
            "velmo-bundle/devices.txt\n"
            "velmo-bundle/doctor.json\n"
            "velmo-bundle/doctor.txt\n"
            "velmo-bundle/drives.err\n"
            "velmo-bundle/drives.txt\n"
            "velmo-bundle/identify.err\n"
            "velmo-bundle/identify.txt\n"
            "velmo-bundle/probe.trace\n"
            "velmo-bundle/scan.err\n"
            "velmo-bundle/scan.trace\n"
            "velmo-bundle/scan.txt\n"
            "velmo-bundle/versions.txt\n");
  for (const auto& entry : fs::directory_iterator(m_dir))
    EXPECT_EQ(entry.path().filename().string().rfind("velmo-bundle-", 0), std::string::npos)
        << "the scratch folder is left behind: " << entry.path();
  Shell("tar -xzf '" + m_dir + "/report.tar.gz' -C '" + m_dir + "'");
  const std::string b = m_dir + "/velmo-bundle/";
  EXPECT_NE(ReadAll(b + "doctor.json").find("\"scannable\": true"), std::string::npos);
  EXPECT_NE(ReadAll(b + "drives.txt").find("sim:d:      accepted"), std::string::npos);
  EXPECT_EQ(ReadAll(b + "versions.txt").rfind("velmo-cli ", 0), 0u);

  // The probe: the commands asked, each with the data that came back.
  const std::string probe = ReadAll(b + "probe.trace");
  for (const char* cdb :
       {"cdb=[12 ", "cdb=[46 ", "cdb=[FD F1 ", "cdb=[FD F2 ", "cdb=[AC ", "cdb=[AD "}) {
    EXPECT_NE(probe.find(cdb), std::string::npos) << cdb;
  }
  EXPECT_EQ(probe.find("cdb=[FD FB"), std::string::npos) << "no sample in the probe";
  const Finished identify = Run({"--simulate=replay:" + b + "probe.trace", "identify"});
  EXPECT_EQ(identify.code, kExitOk) << identify.err;
  EXPECT_EQ(identify.out, ReadAll(b + "identify.txt"));

  fs::create_directory(m_dir + "/again");
  const Finished scan = Run({"--simulate=replay:" + b + "scan.trace", "--no-history", "--log",
                             m_dir + "/again/TEFE.txt", "scan"});
  EXPECT_EQ(scan.code, kExitOk) << scan.err;
  EXPECT_EQ(ReadAll(m_dir + "/again/TEFE.txt"), ReadAll(b + "TEFE.txt"));
  EXPECT_FALSE(ReadAll(b + "TEFE.txt").empty());
}

// The files are anonymous, and so are the archive's headers: owner and
// group 0, without names, whoever made it.
TEST_F(DoctorBundle, TheArchiveHeadersNameNoUser) {
  const Finished run = Run({"--simulate", "--sim-latency=0", "doctor", "--bundle", "b.tar.gz"});
  ASSERT_EQ(run.code, kExitOk) << run.err;
  const std::string tar = Shell("gzip -dc '" + m_dir + "/b.tar.gz'");
  ASSERT_GE(tar.size(), 1024u);
  const auto field = [&](size_t header, size_t at, size_t length) {
    const std::string raw = tar.substr(header + at, length);
    return raw.substr(0, raw.find('\0'));
  };
  int headers = 0;
  for (size_t at = 0; at + 512 <= tar.size() && tar[at] != '\0';) {
    SCOPED_TRACE(field(at, 0, 100));
    ++headers;
    EXPECT_EQ(std::stoul(field(at, 108, 8), nullptr, 8), 0u) << "uid";
    EXPECT_EQ(std::stoul(field(at, 116, 8), nullptr, 8), 0u) << "gid";
    EXPECT_EQ(field(at, 265, 32), "") << "owner's name";
    EXPECT_EQ(field(at, 297, 32), "") << "group's name";
    const size_t size = std::stoul(field(at, 124, 12), nullptr, 8);
    at += 512 + (size + 511) / 512 * 512;
  }
  EXPECT_GE(headers, 8);
}

TEST_F(DoctorBundle, WithoutAPlaceToWriteItIsSaidOnce) {
  const Finished run =
      Run({"--simulate", "--sim-latency=0", "doctor", "--json", "--bundle", "none/x.tar.gz"});
  EXPECT_EQ(run.code, kExitCannotWrite);
  EXPECT_EQ(run.err.rfind("velmo-cli: cannot write the bundle none/x.tar.gz: ", 0), 0u) << run.err;
  EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
  EXPECT_NE(run.out.find("\"drives\""), std::string::npos) << "the report is still printed";
  // A file of the user's under that name stays as it was when the archive
  // cannot be made (no tar on PATH), and is replaced whole when it can.
  std::ofstream(m_dir + "/mine.tar.gz") << "mine";
  const Finished noTar = Run({"--simulate", "--sim-latency=0", "doctor", "--bundle", "mine.tar.gz"},
                             {"PATH=" + m_dir + "/no-programs"});
  EXPECT_EQ(noTar.code, kExitCannotWrite);
  EXPECT_NE(noTar.err.find("mine.tar.gz: the tar program was not found"), std::string::npos)
      << noTar.err;
  EXPECT_EQ(ReadAll(m_dir + "/mine.tar.gz"), "mine");
  // A tar that gives up halfway through its archive.
  fs::create_directory(m_dir + "/broken-tar");
  std::ofstream(m_dir + "/broken-tar/tar")
      << "#!/bin/sh\nprintf half > \"$2\"\necho 'tar: write error' >&2\nexit 2\n";
  fs::permissions(m_dir + "/broken-tar/tar", fs::perms::owner_all);
  const Finished broken =
      Run({"--simulate", "--sim-latency=0", "doctor", "--bundle", "mine.tar.gz"},
          {"PATH=" + m_dir + "/broken-tar:/usr/bin:/bin"});
  EXPECT_EQ(broken.code, kExitCannotWrite);
  EXPECT_NE(broken.err.find("mine.tar.gz: tar: write error"), std::string::npos) << broken.err;
  EXPECT_EQ(ReadAll(m_dir + "/mine.tar.gz"), "mine");
  const Finished made = Run({"--simulate", "--sim-latency=0", "doctor", "--bundle", "mine.tar.gz"});
  EXPECT_EQ(made.code, kExitOk) << made.err;
  EXPECT_NE(Shell("tar -tzf '" + m_dir + "/mine.tar.gz'").find("velmo-bundle/doctor.txt"),
            std::string::npos);
  const Finished alone = Run({"--simulate", "doctor", "--with-scan"});
  EXPECT_EQ(alone.code, kExitUsage);
  EXPECT_EQ(alone.err,
            "velmo-cli: --with-scan needs --bundle FILE; try 'velmo-cli doctor --help'\n");
}

}  // namespace
