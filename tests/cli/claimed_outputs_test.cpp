// The outputs a run claims before the drive and puts in place after it:
// real files in a scratch folder, /dev/full as an output that takes no
// byte, a log another holder has locked.
#include "cli/claimed_outputs.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "cli/cli_options.h"
#include "cli/run_chart.h"
#include "records/scan_record.h"
#include "session/interrupt_watch.h"
#include "session/run_lock.h"
#include "tests/cli/cli_process.h"
#include "tests/support/scratch_folder.h"

namespace {

namespace fs = std::filesystem;

// A stream whose text the test reads back.
class CapturedStream {
 public:
  CapturedStream() : m_file(std::tmpfile()) {}
  ~CapturedStream() { std::fclose(m_file); }
  std::FILE* File() const { return m_file; }
  std::string Text() const {
    std::fflush(m_file);
    std::rewind(m_file);
    std::string text;
    for (int c; (c = std::fgetc(m_file)) != EOF;) text += static_cast<char>(c);
    return text;
  }

 private:
  std::FILE* m_file;
};

class ClaimedOutputsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(m_scratchFolder.Path().empty());
    m_dir = m_scratchFolder.Path();
  }
  std::string At(const std::string& name) const { return m_dir + "/" + name; }
  void Plant(const std::string& name, const std::string& text) const {
    std::ofstream(At(name), std::ios::binary) << text;
  }

  ScratchFolder m_scratchFolder{"velmo-outputs"};
  std::string m_dir;
  CInterruptWatch m_interrupt;
  CapturedStream m_out;
  CapturedStream m_err;
  ScanRecord m_record;
  CRunChart m_chart{true};
};

TEST_F(ClaimedOutputsTest, RecordFilesArePutInPlaceTogetherAndNamed) {
  CliOptions options;
  options.logFile = At("TEFE.txt");
  options.jsonFile = At("run.json");
  options.csvFile = At("run.csv");
  options.chartFile = At("run.bmp");
  options.reportFile = At("run.html");
  Plant("run.json", "old json");
  CClaimedOutputs outputs(m_interrupt, m_err.File());
  ASSERT_EQ(outputs.Claim(options, true), kExitOk) << m_err.Text();
  // Claimed, not yet written: the old file is as it was.
  EXPECT_EQ(ReadAll(At("run.json")), "old json");
  EXPECT_EQ(outputs.OpenPaths(), At("run.json") + ", " + At("run.csv") + ", " + At("run.bmp"));

  m_chart.SetRange(1000);
  EXPECT_EQ(outputs.Commit(m_record, m_chart, m_out.File(), kExitNotRecommended),
            kExitNotRecommended);
  EXPECT_EQ(m_err.Text(), "");
  EXPECT_EQ(ReadAll(At("run.json")).front(), '{');
  EXPECT_FALSE(ReadAll(At("run.csv")).empty());
  EXPECT_EQ(ReadAll(At("run.bmp")).substr(0, 2), "BM");
  EXPECT_NE(ReadAll(At("run.html")).find("<html"), std::string::npos);
  const std::string said = m_out.Text();
  EXPECT_NE(said.find("Chart:                " + At("run.bmp") + "\n"), std::string::npos) << said;
  EXPECT_NE(said.find("Report:               "), std::string::npos) << said;
}

TEST_F(ClaimedOutputsTest, OneFailedOutputLeavesEveryFileAsItWas) {
  CliOptions options;
  options.jsonFile = At("run.json");
  options.csvFile = At("run.csv");
  options.chartFile = "/dev/full";  // written in place, and last: it takes no byte
  Plant("run.json", "old json");
  Plant("run.csv", "old csv");
  CClaimedOutputs outputs(m_interrupt, m_err.File());
  ASSERT_EQ(outputs.Claim(options, false), kExitOk) << m_err.Text();
  m_chart.SetRange(1000);
  EXPECT_EQ(outputs.Commit(m_record, m_chart, m_out.File(), kExitOk), kExitCannotWrite);
  EXPECT_EQ(ReadAll(At("run.json")), "old json");
  EXPECT_EQ(ReadAll(At("run.csv")), "old csv");
  const std::string said = m_err.Text();
  EXPECT_NE(said.find("velmo-cli: cannot write /dev/full"), std::string::npos) << said;
  EXPECT_NE(said.find("velmo-cli: not written: " + At("run.json") + ", " + At("run.csv") +
                      ", /dev/full (files of these names are left as they were)\n"),
            std::string::npos)
      << said;
  EXPECT_EQ(m_out.Text().find("Chart:"), std::string::npos);
  for (const auto& entry : fs::directory_iterator(m_dir)) {
    const std::string name = entry.path().filename();
    EXPECT_TRUE(name == "run.json" || name == "run.csv") << "left behind: " << name;
  }
}

TEST_F(ClaimedOutputsTest, ASmartRecordThatFailsNamesOnlyItself) {
  CliOptions options;
  options.jsonFile = "/dev/full";
  CClaimedOutputs outputs(m_interrupt, m_err.File());
  ASSERT_EQ(outputs.Claim(options, false), kExitOk) << m_err.Text();
  EXPECT_EQ(outputs.CommitRecordOnly(m_record, kExitNotRecommended), kExitCannotWrite);
  const std::string said = m_err.Text();
  EXPECT_EQ(said.rfind("velmo-cli: cannot write /dev/full", 0), 0u) << said;
  EXPECT_EQ(said.find("not written"), std::string::npos) << said;
}

TEST_F(ClaimedOutputsTest, ALockedLogRefusesOnlyARunThatWritesIt) {
  CliOptions options;
  options.logFile = At("TEFE.txt");
  options.jsonFile = At("run.json");
  CRunLock other;
  ASSERT_EQ(other.TakeLog(options.logFile), CRunLock::Result::kTaken);
  {
    CClaimedOutputs scan(m_interrupt, m_err.File());
    EXPECT_EQ(scan.Claim(options, true), kExitBusy);
    EXPECT_EQ(
        m_err.Text().rfind("velmo-cli: " + At("TEFE.txt") + " is in use by another Velmo run", 0),
        0u)
        << m_err.Text();
  }
  EXPECT_FALSE(fs::exists(At("run.json")));
  CClaimedOutputs smart(m_interrupt, m_err.File());
  EXPECT_EQ(smart.Claim(options, false), kExitOk);
}

TEST_F(ClaimedOutputsTest, AnOutputThatCannotBeWrittenIsRefusedAtTheClaim) {
  for (const char* field : {"csv", "json", "chart", "report", "log"}) {
    SCOPED_TRACE(field);
    CliOptions options;
    options.logFile = At("TEFE.txt");
    const std::string folder = m_dir;  // a folder takes no output
    if (std::string(field) == "csv") options.csvFile = folder;
    if (std::string(field) == "json") options.jsonFile = folder;
    if (std::string(field) == "chart") options.chartFile = folder;
    if (std::string(field) == "report") options.reportFile = At("missing/run.pdf");
    if (std::string(field) == "log") options.logFile = folder;
    CapturedStream err;
    CClaimedOutputs outputs(m_interrupt, err.File());
    EXPECT_EQ(outputs.Claim(options, true), kExitCannotWrite) << err.Text();
    EXPECT_EQ(err.Text().rfind("velmo-cli: ", 0), 0u) << err.Text();
  }
}

}  // namespace
