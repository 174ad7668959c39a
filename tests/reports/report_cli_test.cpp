// velmo-cli report and scan --report as a user runs them: the binary over the
// simulator, its files read back by poppler and the HTML checker.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "reports/report_format.h"
#include "tests/support/test_paths.h"

namespace fs = std::filesystem;

namespace {

// The HTML checker beside these tests.
std::string CheckHtml() {
  return std::string(velmo_test::SourceDir()) + "/tests/reports/check_html.py";
}

struct Output {
  int status = -1;
  std::string out;
  std::string err;
};

std::string Slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

class ReportCli : public testing::Test {
 protected:
  void SetUp() override {
    m_dir = fs::path(testing::TempDir()) /
            ("report_cli_" + std::to_string(getpid()) + "_" +
             testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(m_dir);
    fs::create_directories(m_dir);
  }
  void TearDown() override { fs::remove_all(m_dir); }

  // Runs a shell command line in the test's folder with $CLI the binary;
  // LC_ALL fixes the paper (A4) whatever the machine's locale; the history
  // is the test's own.
  Output Sh(const std::string& line) {
    const std::string command = "cd '" + m_dir.string() + "' && CLI='" +
                                std::string(velmo_test::CliBinary()) +
                                "' LC_ALL=C XDG_DATA_HOME='" + m_dir.string() + "/data' sh -c '" +
                                line + "' >out.txt 2>err.txt";
    const int status = std::system(command.c_str());
    Output output;
    output.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    output.out = Slurp(m_dir / "out.txt");
    output.err = Slurp(m_dir / "err.txt");
    return output;
  }

  std::string PdfText(const std::string& name) {
    return Sh("pdftotext -layout " + name + " -").out;
  }

  // A recorded run of a simulator scenario.
  void Record(const std::string& scenario, const std::string& args, const std::string& json) {
    const Output scan =
        Sh("\"$CLI\" --simulate=" + scenario + " --sim-latency=0 --no-history scan " + args +
           " --log " + json + ".log --json " + json);
    ASSERT_TRUE(fs::exists(m_dir / json)) << scan.err;
  }

  fs::path m_dir;
};

TEST_F(ReportCli, ScanWritesTheReportOfTheRunThatEnded) {
  struct Case {
    const char* scenario;
    const char* args;
    const char* file;
    int exit;
    std::vector<const char*> texts;
  };
  const Case cases[] = {
      {"dvd+rdl-mkm",
       "--density full",
       "dl.pdf",
       0,
       {"OK for writing at 8X", "MKM", "Mitsubishi", "layer 1", "254"}},
      {"dvd+r-marginal",
       "--speed 16X",
       "marginal.pdf",
       1,
       {"Not recommended for writing at 16X", "This disc is not recommended"}},
      {"dvd+r-scratched", "", "scratched.pdf", 2, {": no verdict"}},
  };
  for (const Case& c : cases) {
    const Output scan = Sh(std::string("\"$CLI\" --simulate=") + c.scenario +
                           " --sim-latency=0 --no-history scan " + c.args + " --report " + c.file);
    EXPECT_EQ(scan.status, c.exit) << c.scenario << scan.err;
    EXPECT_NE(scan.out.find(std::string("Report:               ") + c.file), std::string::npos)
        << scan.out;
    const Output info = Sh(std::string("pdfinfo ") + c.file);
    EXPECT_NE(info.out.find("Pages:           1\n"), std::string::npos) << info.out << info.err;
    const std::string text = PdfText(c.file);
    for (const char* expected : c.texts) {
      EXPECT_NE(text.find(expected), std::string::npos) << c.scenario << ": " << expected << "\n"
                                                        << text;
    }
  }
}

TEST_F(ReportCli, RecordsToEveryFormatAndComparison) {
  Record("dvd+r-yuden", "--speed 16X", "a.json");
  Record("dvd+r-marginal", "--speed 16X", "b.json");
  const Output one = Sh("\"$CLI\" report a.json --png a.png --pdf a.pdf --html a.html");
  ASSERT_EQ(one.status, 0) << one.err;
  EXPECT_EQ(one.out, "Report: a.png\nReport: a.pdf\nReport: a.html\n");
  EXPECT_EQ(Slurp(m_dir / "a.png").substr(1, 3), "PNG");
  EXPECT_NE(PdfText("a.pdf").find("YUDEN000"), std::string::npos);
  const Output html = Sh(std::string("/usr/bin/python3 ") + CheckHtml() + " a.html");
  EXPECT_EQ(html.out, "ok\n") << html.err;

  const Output two = Sh("\"$CLI\" report a.json b.json --pdf ab.pdf --html ab.html");
  ASSERT_EQ(two.status, 0) << two.err;
  const std::string text = PdfText("ab.pdf");
  for (const char* expected : {"Comparison of 2 runs", "Run 1", "Run 2", "YUDEN000", "ORBTEK",
                               "OK for writing at 16X", "Not recommended for writing at 16X"}) {
    EXPECT_NE(text.find(expected), std::string::npos) << expected << "\n" << text;
  }
  EXPECT_EQ(Sh(std::string("/usr/bin/python3 ") + CheckHtml() + " ab.html").out, "ok\n");
}

// Each row of the format table, end to end: named in both helps and the
// error for a wrong --report, taken by report's option, by scan --report as
// a file name (any case) and alone, and written as what its MIME type says.
TEST_F(ReportCli, EveryFormatOfTheTableRoundTrips) {
  Record("dvd+r-yuden", "--speed 8X", "a.json");
  const std::string reportHelp = Sh("\"$CLI\" report --help").out;
  const std::string scanHelp = Sh("\"$CLI\" scan --help").out;
  const size_t at = scanHelp.find("  --report FILE.") + 16;
  const std::string scanFormats = scanHelp.substr(at, scanHelp.find('\n', at) - at);
  const std::string wrong = Sh("\"$CLI\" --simulate scan --report x.txt").err;
  auto mimeOf = [&](const std::string& name) { return Sh("file -b --mime-type " + name).out; };
  for (const ReportFormatRow& row : ReportFormats()) {
    const std::string ext = row.extension;
    const std::string mime = std::string(row.mimeType) + "\n";
    SCOPED_TRACE(ext);
    EXPECT_NE(reportHelp.find(std::string("[") + row.option + " FILE]"), std::string::npos);
    EXPECT_NE(reportHelp.find(std::string("  ") + row.option + " FILE"), std::string::npos);
    EXPECT_NE(("|" + scanFormats + "|").find("|" + ext + "|"), std::string::npos) << scanFormats;
    EXPECT_NE(wrong.find("." + ext), std::string::npos) << wrong;

    const Output report = Sh("\"$CLI\" report a.json " + std::string(row.option) + " r." + ext);
    ASSERT_EQ(report.status, 0) << report.err;
    EXPECT_EQ(mimeOf("r." + ext), mime);

    std::string upper = ext;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    const std::string scan = "\"$CLI\" --simulate=dvd+r-yuden --sim-latency=0 --no-history scan ";
    ASSERT_EQ(Sh(scan + "--report s." + upper).status, 0);
    EXPECT_EQ(mimeOf("s." + upper), mime);
    fs::create_directories(m_dir / ext);
    ASSERT_EQ(Sh("cd " + ext + " && " + scan + "--log ../" + ext + ".log --report " + ext).status,
              0);
    std::vector<fs::path> named;
    for (const auto& entry : fs::directory_iterator(m_dir / ext)) named.push_back(entry.path());
    ASSERT_EQ(named.size(), 1u);
    EXPECT_EQ(named[0].extension(), "." + ext);
    EXPECT_EQ(mimeOf(named[0].string()), mime);
  }
}

TEST_F(ReportCli, StandardOutputAndDefaultNames) {
  Record("dvd+r-yuden", "--speed 8X", "a.json");
  // -: the report on standard output, what was written said on standard error.
  const Output pdf = Sh("\"$CLI\" report a.json --pdf - --png a.png");
  ASSERT_EQ(pdf.status, 0) << pdf.err;
  EXPECT_EQ(pdf.out.substr(0, 5), "%PDF-");
  EXPECT_EQ(pdf.err, "Report: a.png\n");
  // A folder: the default name inside it, taken from the record.
  fs::create_directories(m_dir / "out");
  const Output folder = Sh("\"$CLI\" report a.json --html out");
  ASSERT_EQ(folder.status, 0) << folder.err;
  ASSERT_EQ(folder.out.rfind("Report: out/velmo-", 0), 0u) << folder.out;
  const std::string name = folder.out.substr(12, folder.out.size() - 13);
  EXPECT_TRUE(fs::exists(m_dir / "out" / name)) << name;
  EXPECT_NE(name.find("-YUDEN000-8X.html"), std::string::npos) << name;
  // scan --report pdf: the default name in the current folder.
  const Output scan =
      Sh("\"$CLI\" --simulate=dvd+r-yuden --sim-latency=0 --no-history scan "
         "--speed 4X --report pdf");
  ASSERT_EQ(scan.status, 0) << scan.err;
  const size_t at = scan.out.find("Report:               ./velmo-");
  ASSERT_NE(at, std::string::npos) << scan.out;
  const std::string line = scan.out.substr(at + 24, scan.out.find('\n', at) - at - 24);
  EXPECT_TRUE(fs::exists(m_dir / line)) << line;
  EXPECT_NE(line.find("-YUDEN000-4X.pdf"), std::string::npos) << line;
}

TEST_F(ReportCli, KeptRunsByTheirHistoryId) {
  for (const char* scenario : {"dvd+r-yuden", "dvd-r-mcc"}) {
    ASSERT_EQ(Sh(std::string("\"$CLI\" --simulate=") + scenario + " --sim-latency=0 scan").status,
              0);
  }
  const Output both = Sh("\"$CLI\" report 1 2 --pdf h.pdf");
  ASSERT_EQ(both.status, 0) << both.err;
  const std::string text = PdfText("h.pdf");
  for (const char* expected : {"Comparison of 2 runs", "YUDEN000", "MCC 03"}) {
    EXPECT_NE(text.find(expected), std::string::npos) << expected << "\n" << text;
  }
}

// One folder for several formats: each takes its default name in it (the
// names differ by their extension), as one format alone does.
TEST_F(ReportCli, OneFolderTakesEveryFormatsDefaultName) {
  Record("dvd+r-yuden", "--speed 16X", "a.json");
  fs::create_directories(m_dir / "out");
  const Output out = Sh("\"$CLI\" report a.json --html out --pdf out/ --png ./out");
  ASSERT_EQ(out.status, 0) << out.err;
  std::set<std::string> extensions;
  for (const auto& entry : fs::directory_iterator(m_dir / "out")) {
    EXPECT_NE(entry.path().filename().string().find("-YUDEN000-16X."), std::string::npos)
        << entry.path();
    extensions.insert(entry.path().extension().string());
  }
  EXPECT_EQ(extensions, (std::set<std::string>{".html", ".pdf", ".png"}));
  // A file named twice is still refused.
  EXPECT_EQ(Sh("\"$CLI\" report a.json --html out/x --pdf out/x").status, 64);
}

TEST_F(ReportCli, UsageErrorsAndBadRecords) {
  Record("dvd+r-yuden", "--speed 16X", "a.json");
  ASSERT_EQ(Sh("\"$CLI\" --simulate --sim-latency=0 --no-history smart --json s.json").status, 0);
  std::ofstream(m_dir / "broken.json") << "{\"format\": \"velmo-scan\", \"version\": 1";
  struct Case {
    const char* args;
    int exit;
    const char* message;
  };
  const Case cases[] = {
      {"report a.json", 64, "report needs at least one of --png, --pdf or --html"},
      {"report --pdf x.pdf", 64, "report needs at least one record"},
      {"report a.json --pdf x.pdf --png x.pdf", 64, "two reports name the same file 'x.pdf'"},
      {"report a.json --pdf - --html -", 64, "only one report can go to standard output"},
      {"report a.json --pdf x.pdf --pdf y.pdf", 64, "--pdf given twice"},
      {"report a.json --paper legal --pdf x.pdf", 64, "--paper must be a4 or letter"},
      {"report a.json --paper \"\" --pdf x.pdf", 64, "--paper needs a paper size: a4 or letter"},
      {"report a.json --paper= --pdf x.pdf", 64, "--paper needs a paper size: a4 or letter"},
      {"report a.json --svg x.svg", 64, "unknown report option '--svg'"},
      {"report a.json --pdf", 64, "--pdf needs a file name"},
      {"report missing.json --pdf x.pdf", 66, "missing.json: no such file"},
      {"report 999999 --pdf x.pdf", 66, "no run"},
      {"report broken.json --pdf x.pdf", 65, "broken.json"},
      {"report a.json --pdf nodir/x.pdf", 73, "cannot write nodir/x.pdf"},
      {"--simulate scan --report x.txt", 64,
       "--report needs a file name ending in .png, .pdf or .html"},
      {"--simulate smart --report x.pdf", 64, "--report applies to scan, not to smart"},
      // A Smart Scan and a scan have no readings to set side by side.
      {"report a.json s.json --pdf x.pdf", 64,
       "a.json is a scan and s.json is a Smart Scan: runs of one kind only are compared"},
      {"compare s.json a.json", 64,
       "s.json is a Smart Scan and a.json is a scan: runs of one kind only are compared"},
      {"compare a.json a.json s.json --chart x.pdf", 64, "runs of one kind only"},
      // A usage error points at the command's own help.
      {"show", 64, "one run: an ID or a record file; try 'velmo-cli show --help'"},
      {"compare a.json", 64, "two runs or more; try 'velmo-cli compare --help'"},
      {"history --frob", 64, "for history; try 'velmo-cli history --help'"},
      {"history delete x", 64, "not 'x'; try 'velmo-cli history --help'"},
  };
  for (const Case& c : cases) {
    const Output out = Sh(std::string("\"$CLI\" ") + c.args);
    EXPECT_EQ(out.status, c.exit) << c.args << ": " << out.err;
    EXPECT_NE(out.err.find(c.message), std::string::npos) << c.args << ": " << out.err;
    EXPECT_EQ(out.err.find('\n'), out.err.size() - 1) << "one line: " << out.err;
    EXPECT_FALSE(fs::exists(m_dir / "x.pdf")) << c.args;
  }
  // Letter on request, and from the locale.
  ASSERT_EQ(Sh("\"$CLI\" report a.json --paper letter --pdf l.pdf").status, 0);
  EXPECT_NE(Sh("pdfinfo l.pdf").out.find("(letter)"), std::string::npos);
  ASSERT_EQ(Sh("LC_ALL=en_US.UTF-8 \"$CLI\" report a.json --pdf us.pdf").status, 0);
  EXPECT_NE(Sh("pdfinfo us.pdf").out.find("(letter)"), std::string::npos);
  EXPECT_NE(Sh("pdfinfo x.pdf 2>&1; \"$CLI\" report a.json --pdf a4.pdf && pdfinfo a4.pdf")
                .out.find("(A4)"),
            std::string::npos);
}

// The HTML report in a real browser: headless Chromium opens the reports of
// one run and of eight (single and dual layer); the chart's picture decodes
// (its natural width is not 0), and every run's rows are in the text the
// browser lays out (printed to PDF, read by poppler). Its screenshots go to
// $VELMO_REPORT_PICTURES when set.
TEST_F(ReportCli, HtmlReportsReadInABrowser) {
  std::string browser = Sh("command -v chromium || command -v chromium-browser").out;
  while (!browser.empty() && std::isspace(static_cast<unsigned char>(browser.back())))
    browser.pop_back();
  if (browser.empty()) GTEST_SKIP() << "no chromium here (scripts/install-deps --test installs it)";
  const char* scenarios[] = {"dvd+r-good",  "dvd+rdl-good", "dvd+r-marginal",   "dvd+r-yuden",
                             "dvd+rdl-mkm", "dvd-r-mcc",    "dvd+rdl-marginal", "dvd+r-bad"};
  std::string eight;
  for (int i = 0; i < 8; ++i) {
    const std::string json = "r" + std::to_string(i + 1) + ".json";
    Record(scenarios[i], "--density quick", json);
    eight += " " + json;
  }
  ASSERT_EQ(Sh("\"$CLI\" report r1.json --html one.html").status, 0);
  ASSERT_EQ(Sh("\"$CLI\" report" + eight + " --html eight.html").status, 0);
  // Headless, never waited on for ever; as root (CI) only without its sandbox.
  const std::string chromium = "timeout 120 " + browser +
                               " --headless --no-sandbox --disable-gpu --disable-dev-shm-usage"
                               " --user-data-dir=profile --hide-scrollbars";
  for (const auto& [name, runs] : {std::pair{std::string("one"), 1}, {std::string("eight"), 8}}) {
    const fs::path page = m_dir / (name + ".html");
    // The report with a script that writes each picture's natural width
    // into the page once it has loaded.
    std::string probe = Slurp(page);
    const size_t end = probe.rfind("</body>");
    ASSERT_NE(end, std::string::npos);
    probe.insert(end,
                 "<script>window.addEventListener(\"load\", function () {"
                 "document.body.setAttribute(\"data-widths\", Array.prototype.map.call("
                 "document.images, function (i) { return i.naturalWidth; }).join(\" \")); "
                 "});</script>");
    std::ofstream(m_dir / (name + "-probe.html")) << probe;
    const Output dom = Sh(chromium + " --virtual-time-budget=5000 --dump-dom file://" +
                          (m_dir / (name + "-probe.html")).string());
    ASSERT_EQ(dom.status, 0) << dom.err;
    const size_t widths = dom.out.find("data-widths=\"");
    ASSERT_NE(widths, std::string::npos) << dom.out.substr(0, 400);
    std::istringstream list(
        dom.out.substr(widths + 13, dom.out.find('"', widths + 13) - widths - 13));
    int images = 0;
    for (int width; list >> width; ++images) EXPECT_GT(width, 0) << name;
    EXPECT_EQ(images, 1) << name;

    const fs::path shot = m_dir / (name + ".png");
    EXPECT_EQ(Sh(chromium + " --window-size=1000,2400 --screenshot=" + shot.string() + " file://" +
                 page.string())
                  .status,
              0);
    EXPECT_GT(fs::exists(shot) ? fs::file_size(shot) : 0, 10000u) << name;
    if (const char* keep = std::getenv("VELMO_REPORT_PICTURES"); keep != nullptr && *keep != 0)
      fs::copy_file(shot, fs::path(keep) / ("browser-" + name + ".png"),
                    fs::copy_options::overwrite_existing);

    ASSERT_EQ(Sh(chromium + " --no-pdf-header-footer --print-to-pdf=" + name +
                 "-printed.pdf file://" + page.string())
                  .status,
              0);
    const std::string text = PdfText(name + "-printed.pdf");
    if (runs == 1) {
      for (const char* row : {"Whole disc", "Worst sample: LBA"})
        EXPECT_NE(text.find(row), std::string::npos) << row << " in\n" << text;
    }
    for (int i = 1; runs > 1 && i <= runs; ++i) {
      const std::string run = "Run " + std::to_string(i);
      for (const std::string& row : {run + ": 20", run + "  ", run + ": Worst sample: LBA"})
        EXPECT_NE(text.find(row), std::string::npos) << row << " in\n" << text;
    }
    EXPECT_EQ(text.find("Run 9"), std::string::npos);
  }
  // A dual-layer run's layers are rows of their own.
  EXPECT_NE(PdfText("eight-printed.pdf").find("Run 2, layer 1"), std::string::npos);
}

}  // namespace
