// Reports rendered for every kind of run and read back by programs that know
// nothing of ours: poppler's pdfinfo/pdftotext for the PDF, an HTML5 parser
// for the HTML, cairo's PNG reader for the picture.
#include <cairo.h>
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

#include "report_fixtures.h"
#include "reports/cairo_drawing.h"
#include "reports/chart_drawing.h"
#include "reports/compare_chart.h"
#include "reports/paper_size.h"
#include "reports/report_content.h"
#include "reports/report_file_name.h"
#include "reports/report_html.h"
#include "reports/report_page.h"
#include "tests/support/scratch_folder.h"
#include "tests/support/test_paths.h"

namespace fs = std::filesystem;
using namespace report_fixtures;

namespace {

// The HTML checker beside these tests.
std::string CheckHtml() {
  return std::string(velmo_test::SourceDir()) + "/tests/reports/check_html.py";
}

struct Output {
  int status = -1;
  std::string text;
};

Output RunCommand(const std::string& command) {
  Output out;
  FILE* pipe = popen((command + " 2>&1").c_str(), "r");
  if (pipe == nullptr) return out;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) out.text.append(buffer, n);
  const int status = pclose(pipe);
  out.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return out;
}

bool Have(const char* program) {
  return RunCommand(std::string("command -v ") + program).status == 0;
}

// One folder for the binary's files, removed as it ends.
fs::path TempDir() {
  static const ScratchFolder folder("velmo-report-test");
  return folder.Path();
}

void WriteFile(const fs::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary);
  out << bytes;
  ASSERT_TRUE(out.good()) << path;
}

std::string Quoted(const fs::path& path) { return "'" + path.string() + "'"; }

struct Case {
  const char* name;
  std::function<std::vector<ScanRecord>()> records;
  std::vector<std::string> texts;           // pdftotext finds each of these
  std::vector<std::string> pageTexts = {};  // and these on the page (the chart, run lines)
};

std::vector<Case> Cases() {
  return {
      {"good",
       [] {
         ScanRecord r = Good();
         r.drive.facts = DriveFacts{"1.00", "2016/05/23", "VX16A0417", 1, 2048, {{0x0011}}};
         return std::vector{r};
       },
       {"OK for writing at 16X", "RICOHJPNR03", "Example Media Co.", "Whole disc", "Worst sample",
        "firmware 1.00 of 2016/05/23, serial VX16A0417, buffer 2048 KiB, loader tray",
        "2.4X (3,324 kB/s), 4X (5,540 kB/s), 8X (11,080 kB/s), 16X (22,160 kB/s)",
        "normal: every 49,152 sectors on the inner half, 32,768 further out, 16,384 on the outer",
        "2,295,105 sectors, last LBA 2,295,104"}},
      {"bad",
       [] { return std::vector{Bad()}; },
       {"Not recommended for writing at 16X", "BADDISC-01", "808"},
       {"TE limit 500", "FE limit 450", "800"}},
      {"marginal",
       [] { return std::vector{Marginal()}; },
       {"Not recommended for writing at 16X", "CMC MAG-M01", "unknown manufacturer"}},
      {"firmware",
       [] { return std::vector{FirmwareFailure()}; },
       {"Firmware failure: no verdict", "MCC 004", "1 min 31 s"}},
      {"stopped", [] { return std::vector{Stopped()}; }, {"Stopped: no verdict", "RICOHJPNR03"}},
      {"dual_layer",
       [] { return std::vector{DualLayer()}; },
       {"OK for writing at 8X", "MKM-001", "layer 0", "layer 1", "DVD+R DL", "254",
        "full: every 16,384 sectors"},
       {"layer 1 starts"}},
      {"smart",
       [] { return std::vector{Smart()}; },
       {"Fit for writing up to 8X", "Highest fit speed: 8X", "not recommended", "failed",
        "sample near the rim, at LBA 2,", "TE margin", "-20",
        "12X (16,620 kB/s), 16X (22,160 kB/s)"}},
      {"comparison",
       [] {
         return std::vector{Good(), Marginal()};
       },
       {"Comparison of 2 runs", "Run 1", "Run 2", "RICOHJPNR03", "CMC MAG-M01"},
       {"Write speeds: 2.4X (3,324 kB/s), 4X (5,540 kB/s), 8X (11,080 kB/s), 16X (22,160 kB/s)"}},
      {"three_runs",
       [] {
         return std::vector{Good(), Marginal(), Bad()};
       },
       {"Comparison of 3 runs", "Run 3", "BADDISC-01", "Run 3: 2026-12-08 02:10, BADDISC-01, 16X"}},
  };
}

bool Near(uint32_t pixel, ReportColour c) {
  return ((pixel >> 16) & 0xFF) == c.r && ((pixel >> 8) & 0xFF) == c.g && (pixel & 0xFF) == c.b;
}

// The share of sampled columns on row y of the plot that have colour c.
double RowShare(cairo_surface_t* image, const ReportRect& plot, int y, ReportColour c) {
  const unsigned char* data = cairo_image_surface_get_data(image);
  const int stride = cairo_image_surface_get_stride(image);
  int hits = 0, total = 0;
  for (int i = 1; i < 40; ++i) {
    const int x = static_cast<int>(plot.x + plot.width * i / 40.0);
    const uint32_t pixel = *reinterpret_cast<const uint32_t*>(data + y * stride + x * 4);
    hits += Near(pixel, c) ? 1 : 0;
    ++total;
  }
  return static_cast<double>(hits) / total;
}

int CountColour(cairo_surface_t* image, const ReportRect& plot, ReportColour c) {
  const unsigned char* data = cairo_image_surface_get_data(image);
  const int stride = cairo_image_surface_get_stride(image);
  int count = 0;
  for (int y = static_cast<int>(plot.y); y < static_cast<int>(plot.y + plot.height); ++y) {
    for (int x = static_cast<int>(plot.x); x < static_cast<int>(plot.x + plot.width); ++x) {
      count += Near(*reinterpret_cast<const uint32_t*>(data + y * stride + x * 4), c) ? 1 : 0;
    }
  }
  return count;
}

// The limit lines are where the readings 500 and 450 are on the report's
// own scale, in the limits' greys across the plot (FE's dashed); the rows
// well away from them are not.
void CheckLimitLines(cairo_surface_t* image, const ReportRect& plot, const ReportContent& content) {
  const double top = ReportChartRange(content).top;
  auto row = [&](double value) {
    return static_cast<int>(std::lround(plot.y + plot.height * (1 - value / top)));
  };
  EXPECT_GE(RowShare(image, plot, row(content.teLimit), kReportTeLimit), 0.9);
  EXPECT_GE(RowShare(image, plot, row(content.feLimit), kReportFeLimit), 0.4);
  EXPECT_LE(RowShare(image, plot, row(content.teLimit) - 8, kReportTeLimit), 0.2);
  EXPECT_LE(RowShare(image, plot, row(content.feLimit) + 8, kReportFeLimit), 0.2);
}

// Rows of the plot from its top frame down that hold colour c.
int RowsFromTopWith(cairo_surface_t* image, const ReportRect& plot, ReportColour c, int rows) {
  const unsigned char* data = cairo_image_surface_get_data(image);
  const int stride = cairo_image_surface_get_stride(image);
  int found = 0;
  for (int y = static_cast<int>(plot.y) - 1; y < static_cast<int>(plot.y) + rows; ++y) {
    bool any = false;
    for (int x = static_cast<int>(plot.x); x < static_cast<int>(plot.x + plot.width); ++x)
      any = any || Near(*reinterpret_cast<const uint32_t*>(data + y * stride + x * 4), c);
    found += any ? 1 : 0;
  }
  return found;
}

cairo_surface_t* ReadPng(const fs::path& path) {
  cairo_surface_t* image = cairo_image_surface_create_from_png(path.c_str());
  EXPECT_EQ(cairo_surface_status(image), CAIRO_STATUS_SUCCESS) << path;
  return image;
}

// Reviewers' copies: VELMO_REPORT_PICTURES=DIR keeps each case's PNG there.
void KeepPicture(const std::string& name, const std::string& png) {
  const char* dir = std::getenv("VELMO_REPORT_PICTURES");
  if (dir == nullptr || *dir == '\0') return;
  WriteFile(fs::path(dir) / ("report-" + name + ".png"), png);
}

class ReportFormats : public testing::TestWithParam<Case> {};

TEST_P(ReportFormats, EveryFormatReadsBack) {
  const Case& c = GetParam();
  const std::vector<ScanRecord> records = c.records();
  const ReportContent content = BuildReportContent(records);
  const fs::path dir = TempDir();
  std::string error;

  // PNG: decoded by cairo, the limit lines where they belong, the curves drawn.
  std::string png;
  ReportRect plot;
  ASSERT_TRUE(RenderReportPng(content, PaperSize::kA4, &png, &error, &plot)) << error;
  WriteFile(dir / (std::string(c.name) + ".png"), png);
  KeepPicture(c.name, png);
  cairo_surface_t* image = ReadPng(dir / (std::string(c.name) + ".png"));
  EXPECT_EQ(cairo_image_surface_get_width(image), 1191);
  EXPECT_EQ(cairo_image_surface_get_height(image), 1684);
  if (!content.smart) {
    CheckLimitLines(image, plot, content);
    // Every reading is inside the plot: nothing rides on its top frame.
    for (size_t run = 0; run < records.size(); ++run)
      EXPECT_EQ(RowsFromTopWith(image, plot, RunColoursOf(run).te, 3), 0) << "run " << run;
    for (size_t run = 0; run < records.size(); ++run) {
      EXPECT_GT(CountColour(image, plot, RunColoursOf(run).fe), 50) << "run " << run;
    }
  }
  cairo_surface_destroy(image);

  // PDF: one page, A4, and its text (not a picture of text).
  std::string pdf;
  ASSERT_TRUE(RenderReportPdf(content, PaperSize::kA4, &pdf, &error)) << error;
  const fs::path pdfPath = dir / (std::string(c.name) + ".pdf");
  WriteFile(pdfPath, pdf);
  if (!Have("pdfinfo") || !Have("pdftotext")) GTEST_SKIP() << "poppler-utils not installed";
  const Output info = RunCommand("pdfinfo " + Quoted(pdfPath));
  ASSERT_EQ(info.status, 0) << info.text;
  EXPECT_NE(info.text.find("Pages:           1\n"), std::string::npos) << info.text;
  EXPECT_NE(info.text.find("(A4)"), std::string::npos) << info.text;
  const Output text = RunCommand("pdftotext -layout " + Quoted(pdfPath) + " -");
  ASSERT_EQ(text.status, 0) << text.text;
  // Unwrapped, as a reader would copy it: nothing was cut short.
  const Output flat = RunCommand("pdftotext " + Quoted(pdfPath) + " - | tr '\\n' ' '");
  EXPECT_EQ(text.text.find("\u2026"), std::string::npos) << text.text;
  for (const std::string& expected : c.texts) {
    EXPECT_NE(flat.text.find(expected), std::string::npos) << expected << " in\n" << flat.text;
  }
  for (const std::string& expected : c.pageTexts)
    EXPECT_NE(flat.text.find(expected), std::string::npos) << expected << " in\n" << flat.text;

  // HTML: valid, standing alone, the same texts.
  std::string html;
  ASSERT_TRUE(RenderReportHtml(content, &html, &error)) << error;
  const fs::path htmlPath = dir / (std::string(c.name) + ".html");
  WriteFile(htmlPath, html);
  const Output checked =
      RunCommand(std::string("/usr/bin/python3 ") + CheckHtml() + " " + Quoted(htmlPath));
  EXPECT_EQ(checked.status, 0) << checked.text;
  EXPECT_EQ(checked.text, "ok\n");
  for (const std::string& expected : c.texts) {
    EXPECT_NE(html.find(HtmlEscape(expected)), std::string::npos) << expected;
  }
  EXPECT_EQ(html.find("data:image/png;base64,") != std::string::npos, !content.smart);
  // A Smart Scan's readings are never pooled across its speeds.
  if (content.smart) {
    for (const char* pooled : {"Whole disc", "All speeds", "Statistics"}) {
      EXPECT_EQ(flat.text.find(pooled), std::string::npos) << pooled;
      EXPECT_EQ(html.find(pooled), std::string::npos) << pooled;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Runs, ReportFormats, testing::ValuesIn(Cases()),
                         [](const testing::TestParamInfo<Case>& info) { return info.param.name; });

// The HTML checker itself finds what it is there to find.
TEST(HtmlChecker, RefusesWhatAReportMustNotHave) {
  const fs::path dir = TempDir();
  const std::string head =
      "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
      "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\"><title>t</title>";
  const std::pair<const char*, std::string> cases[] = {
      {"ok", head + "</head><body><p>x</p></body></html>"},
      {"script", head + "</head><body><script>1</script></body></html>"},
      {"external reference",
       head + "</head><body><img src=\"http://x/a.png\" alt=\"\"></body></html>"},
      {"<link> element",
       head + "<link rel=\"stylesheet\" href=\"a.css\"></head><body></body></html>"},
      {"event handler", head + "</head><body onload=\"x()\"></body></html>"},
      {"url()", head + "<style>body{background:url(a.png)}</style></head><body></body></html>"},
      {"no viewport",
       "<!DOCTYPE html>\n<html lang=\"en\"><head><meta "
       "charset=\"utf-8\"><title>t</title></head><body></body></html>"},
      {"parse error", head + "</head><body><p>x</div></body></html>"},
  };
  for (const auto& [expected, html] : cases) {
    const fs::path path = dir / "checked.html";
    WriteFile(path, html);
    const Output out =
        RunCommand(std::string("/usr/bin/python3 ") + CheckHtml() + " " + Quoted(path));
    EXPECT_NE(out.text.find(expected), std::string::npos) << expected << ": " << out.text;
    EXPECT_EQ(out.status == 0, std::string(expected) == "ok") << out.text;
  }
}

TEST(ReportPaper, LetterWhereTheCountryUsesIt) {
  const std::pair<const char*, PaperSize> cases[] = {
      {"en_US.UTF-8", PaperSize::kLetter},
      {"fr_CA.UTF-8", PaperSize::kLetter},
      {"es_MX", PaperSize::kLetter},
      {"en_PH.UTF-8@x", PaperSize::kLetter},
      {"en_GB.UTF-8", PaperSize::kA4},
      {"de_DE.UTF-8", PaperSize::kA4},
      {"C", PaperSize::kA4},
      {"POSIX", PaperSize::kA4},
      {"", PaperSize::kA4},
      {"C.UTF-8", PaperSize::kA4},
      {"en_AU", PaperSize::kA4},
      {"en_USX.UTF-8", PaperSize::kA4},
  };
  for (const auto& [locale, paper] : cases) {
    EXPECT_EQ(PaperSizeForLocale(locale), paper) << locale;
  }
}

TEST(ReportPaper, EnvironmentOrderAndPdfSize) {
  // LC_ALL wins over LC_PAPER, which wins over LANG.
  setenv("LANG", "de_DE.UTF-8", 1);
  setenv("LC_PAPER", "en_US.UTF-8", 1);
  unsetenv("LC_ALL");
  EXPECT_EQ(PaperSizeFromEnvironment(), PaperSize::kLetter);
  setenv("LC_ALL", "en_GB.UTF-8", 1);
  EXPECT_EQ(PaperSizeFromEnvironment(), PaperSize::kA4);
  unsetenv("LC_ALL");
  unsetenv("LC_PAPER");
  unsetenv("LANG");

  std::string pdf, error;
  ASSERT_TRUE(RenderReportPdf(BuildReportContent({Good()}), PaperSize::kLetter, &pdf, &error));
  const fs::path path = TempDir() / "letter.pdf";
  WriteFile(path, pdf);
  if (!Have("pdfinfo")) GTEST_SKIP() << "poppler-utils not installed";
  const Output info = RunCommand("pdfinfo " + Quoted(path));
  EXPECT_NE(info.text.find("612 x 792 pts (letter)"), std::string::npos) << info.text;
}

TEST(ReportFileName, SafeOnAnyFileSystem) {
  const std::pair<const char*, const char*> cases[] = {
      {"RICOHJPNR03", "RICOHJPNR03"},
      {"CMC MAG-M01", "CMC_MAG-M01"},
      {"a/b\\c:d*e?f\"g<h>i|j", "a_b_c_d_e_f_g_h_i_j"},
      {"..", "unknown"},
      {"-rf", "rf"},
      {".hidden.", "hidden"},
      {"", "unknown"},
      {"   ", "unknown"},
      {"\x01\x1f\x7f", "unknown"},
      {"MID\xe9\xff", "MID"},
      {"ab__ __cd", "ab_cd"},
      {"0123456789012345678901234567890123456789XYZ", "0123456789012345678901234567890123456789"},
  };
  for (const auto& [in, out] : cases) EXPECT_EQ(SafeFileNamePart(in), out) << in;

  ScanRecord record = Good();
  EXPECT_EQ(DefaultReportFileName(record, "pdf"), "velmo-20261208-021000-RICOHJPNR03-16X.pdf");
  record.startTime = "garbage";
  record.disc.manufacturerId = "../../etc/passwd";
  record.settings.speed = "2.4X";
  EXPECT_EQ(DefaultReportFileName(record, "png"), "velmo-00000000-000000-etc_passwd-2.4X.png");
  EXPECT_EQ(DefaultReportFileName(Smart(), "html"), "velmo-20261208-021000-RICOHJPNR03-smart.html");
}

TEST(ReportText, AnyBytesBecomeValidUtf8) {
  const std::pair<std::string, std::string> cases[] = {
      {"plain", "plain"},
      {"caf\xc3\xa9", "caf\xc3\xa9"},            // UTF-8 kept
      {"caf\xe9", "caf\xc3\xa9"},                // Latin-1 read as such
      {"a\tb\nc", "a b c"},                      // controls become spaces
      {"\xc0\xaf", "\xc3\x80\xc2\xaf"},          // an overlong form is not UTF-8
      {"\xed\xa0\x80", "\xc3\xad\xc2\xa0 "},     // nor is a surrogate (0x80 is a C1 control)
      {"\xe2\x82", "\xc3\xa2 "},                 // cut short
      {"\xf0\x9f\x98\x80", "\xf0\x9f\x98\x80"},  // four bytes kept
  };
  for (const auto& [in, out] : cases) EXPECT_EQ(ReportText(in), out) << in;
  // A record's strings may be huge; what a page shows is not.
  const std::string cut = ReportText(std::string(1 << 20, '\xe9'));
  EXPECT_EQ(cut.size(), kReportTextMax + 3);
  EXPECT_EQ(cut.substr(cut.size() - 3), "\u2026");
  EXPECT_EQ(cut.substr(0, 4), "\xc3\xa9\xc3\xa9");
}

TEST(ReportText, HugeFieldsStillGiveOnePage) {
  ScanRecord record = Good();
  record.disc.manufacturerId = std::string(1 << 20, 'M');
  record.drive.name = std::string(1 << 20, 'D');
  record.disc.writeSpeeds.assign(5000, WriteSpeedOfEntry("16X => (22160 Kb/Sec)"));
  std::string pdf, error;
  ASSERT_TRUE(RenderReportPdf(BuildReportContent({record}), PaperSize::kA4, &pdf, &error)) << error;
  const fs::path path = TempDir() / "huge.pdf";
  WriteFile(path, pdf);
  if (!Have("pdfinfo")) GTEST_SKIP() << "poppler-utils not installed";
  EXPECT_NE(RunCommand("pdfinfo " + Quoted(path)).text.find("Pages:           1\n"),
            std::string::npos);
}

TEST(ReportHtml, Base64AndEscaping) {
  const std::pair<const char*, const char*> cases[] = {
      {"", ""},
      {"f", "Zg=="},
      {"fo", "Zm8="},
      {"foo", "Zm9v"},
      {"foob", "Zm9vYg=="},
      {"fooba", "Zm9vYmE="},
      {"foobar", "Zm9vYmFy"},
  };
  for (const auto& [in, out] : cases) EXPECT_EQ(Base64(in), out) << in;
  EXPECT_EQ(HtmlEscape("<a href=\"x\">&'"), "&lt;a href=&quot;x&quot;&gt;&amp;&#39;");

  // Hostile IDs stay text.
  ScanRecord record = Good();
  record.disc.manufacturerId = "<script>alert(1)</script>";
  std::string html, error;
  ASSERT_TRUE(RenderReportHtml(BuildReportContent({record}), &html, &error));
  EXPECT_EQ(html.find("<script"), std::string::npos);
  EXPECT_NE(html.find("&lt;script&gt;alert(1)&lt;/script&gt;"), std::string::npos);
}

TEST(ReportContent, OutcomesInWordsAndColours) {
  struct Row {
    RunOutcome outcome;
    const char* words;
    ReportColour colour;
  };
  const Row rows[] = {
      {RunOutcome::kOk, "OK for writing at 16X", kReportGreen},
      {RunOutcome::kNotRecommended, "Not recommended for writing at 16X", kReportRed},
      {RunOutcome::kFirmwareFailure, "Firmware failure: no verdict", kReportRed},
      {RunOutcome::kTimedOut, "Drive timed out: no verdict", kReportRed},
      {RunOutcome::kDriveGone, "Drive gone during the run: no verdict", kReportRed},
      {RunOutcome::kDiscEjected, "Disc ejected during the run: no verdict", kReportRed},
      {RunOutcome::kLogNotWritten, "Log not written: no verdict", kReportRed},
      {RunOutcome::kAborted, "Stopped: no verdict", kReportGrey},
      {RunOutcome::kNoReading, "No reading at LBA 884,736: no verdict", kReportRed},
      {RunOutcome::kDriveBusy, "Drive busy at LBA 884,736: no verdict", kReportRed},
      {RunOutcome::kDriveError, "Drive error at LBA 884,736: no verdict", kReportRed},
  };
  for (const Row& row : rows) {
    ScanRecord record = Good();
    record.outcome = row.outcome;
    if (!HasVerdict(row.outcome)) record.cause.lba = 884736;
    const ReportContent content = BuildReportContent({record});
    EXPECT_EQ(content.title, row.words);
    EXPECT_EQ(content.titleColour, row.colour) << row.words;
  }
  // A Smart Scan with some speeds not recommended is told by its fastest fit one.
  ScanRecord partly = Smart();
  partly.outcome = RunOutcome::kNotRecommended;
  EXPECT_EQ(BuildReportContent({partly}).title, "Fit for writing up to 8X");
  EXPECT_EQ(BuildReportContent({partly}).titleColour, kReportGreen);
  // Its readings are one row a speed with its margins, never pooled: no
  // statistics table repeats them.
  const ReportContent alone = BuildReportContent({partly});
  EXPECT_TRUE(alone.statistics.empty());
  ASSERT_EQ(alone.smartRows.size(), 5u);
  EXPECT_EQ(alone.smartRows[3].te, "520");
  EXPECT_EQ(alone.smartRows[3].teMargin, "-20");
  EXPECT_EQ(alone.smartRows[3].feMargin, "150");
  EXPECT_EQ(alone.smartRows[4].teMargin, "-");
  EXPECT_EQ(alone.smartSample, "near the rim, at LBA 2,293,760 (4.70 GB)");
  // A disc that ends before the fixed address is never said to be read
  // past its end: the text says how the place was chosen.
  ScanRecord small = partly;
  small.disc.lastLba = 2086912;
  EXPECT_EQ(BuildReportContent({small}).smartSample,
            "at the fixed outer-track address every DVD+R is sampled at");
  // Compared with another Smart Scan, each run's speeds are rows of their own.
  const ReportContent two = BuildReportContent({partly, Smart()});
  ASSERT_EQ(two.statistics.size(), 8u);
  EXPECT_EQ(two.statistics[0].label, "Run 1, " + Smart().rows[0].speed);
  partly.outcome = RunOutcome::kDriveGone;
  EXPECT_EQ(BuildReportContent({partly}).title, "Drive gone during the run: no verdict");
  // A Smart Scan where no speed is fit is not shown green.
  ScanRecord smart = Smart();
  for (SmartRow& row : smart.rows) row.result = kSmartRowFailed;
  const ReportContent content = BuildReportContent({smart});
  EXPECT_EQ(content.title, "No write speed is fit");
  EXPECT_EQ(content.titleColour, kReportRed);
  EXPECT_EQ(content.smartHighest, "No write speed is fit for writing");
  // A DL run has per-layer rows and the layer break at its first layer-1 sample.
  const ReportContent dl = BuildReportContent({DualLayer()});
  ASSERT_EQ(dl.statistics.size(), 3u);
  EXPECT_EQ(dl.statistics[1].label, "layer 0");
  EXPECT_EQ(dl.statistics[0].samples, dl.statistics[1].samples + dl.statistics[2].samples);
  EXPECT_GT(dl.runs[0].layerBreakLba, 0);
  for (const RecordSample& s : DualLayer().samples) {
    EXPECT_EQ(s.layer, s.lba >= dl.runs[0].layerBreakLba ? 1 : 0);
  }
}

// A DL disc's layer mark stands at its own layer break where the record
// holds it, labelled with the value, and a disc whose break is not where the
// sample positions assume it says so; older records keep the mark at the
// first sample read on layer 1; single-layer discs have none. The window's
// comparison chart draws each run's mark once, labels clear of each other.
TEST(ReportLayerMark, AtTheDiscsOwnLayerBreakWhereTheRecordHoldsIt) {
  auto dualLayer = [](std::optional<int32_t> layer0) {
    ScanRecord r = DualLayer();
    r.disc.layer0Sectors = layer0;
    return r;
  };
  ScanRecord strayValue = Good();
  strayValue.disc.layer0Sectors = 2084864;
  const int32_t firstRead = FirstLayerOneLba(DualLayer());
  ASSERT_GT(firstRead, 2086912);
  const std::string early = "sector 2,084,864 (2,048 sectors before sector 2,086,912, where the";
  struct Row {
    const char* name;
    ScanRecord record;
    int32_t lba;        // where the mark stands; -1: none
    std::string label;  // its label
    std::string note;   // the report's "Layer 1 starts" field; empty: none
  } rows[] = {
      {"usual break", dualLayer(2086912), 2086912, "layer 1 starts at 2,086,912", ""},
      {"early break", dualLayer(2084864), 2084864, "layer 1 starts at 2,084,864", early},
      {"late break", dualLayer(2088960), 2088960, "layer 1 starts at 2,088,960",
       "sector 2,088,960 (2,048 sectors after sector 2,086,912, where the"},
      {"break unknown", dualLayer(std::nullopt), firstRead, "layer 1 starts", ""},
      {"single layer", Good(), -1, "", ""},
      {"single layer with a stray value", strayValue, -1, "", ""},
  };
  for (const Row& row : rows) {
    const std::vector<ScanRecord> records{row.record};  // the content points into these
    const ReportContent content = BuildReportContent(records);
    EXPECT_EQ(content.runs[0].layerBreakLba, row.lba) << row.name;
    std::string note;
    for (const ReportField& field : content.runs[0].fields) {
      if (field.label == "Layer 1 starts") note = field.value;
    }
    EXPECT_EQ(note.substr(0, row.note.size()), row.note) << row.name;
    EXPECT_EQ(note.empty(), row.note.empty()) << row.name << ": " << note;

    std::vector<DrawnText> texts;
    std::string png, error;
    ReportRect plot;
    ASSERT_TRUE(RenderReportPng(content, PaperSize::kA4, &png, &error, &plot, &texts)) << error;
    std::vector<DrawnText> marks;
    for (const DrawnText& text : texts) {
      if (text.text.rfind("layer 1 starts", 0) == 0) marks.push_back(text);
    }
    if (row.lba < 0) {
      EXPECT_TRUE(marks.empty()) << row.name << ": " << marks[0].text;
      continue;
    }
    ASSERT_EQ(marks.size(), 1u) << row.name;
    EXPECT_EQ(marks[0].text, row.label) << row.name;
    // The label starts three points right of its mark.
    const double x = plot.x + plot.width * row.lba / row.record.disc.lastLba + 3 * kReportPngScale;
    EXPECT_NEAR(marks[0].left, x, 2.0) << row.name;
  }

  const ScanRecord earlyRun = dualLayer(2084864), usualRun = dualLayer(2086912);
  const ScanRecord oldRun = DualLayer(), single = Good();
  const std::vector<ChartRun> compared{
      {"#1", &earlyRun}, {"#2", &usualRun}, {"#3", &oldRun}, {"#4", &usualRun}, {"#5", &single}};
  const std::vector<LayerMark> marks = LayerMarksOf(compared);
  ASSERT_EQ(marks.size(), 3u);
  EXPECT_EQ(marks[0].lba, 2084864);
  EXPECT_EQ(marks[1].lba, 2086912);
  EXPECT_EQ(marks[2].lba, firstRead);
  std::vector<DrawnText> texts;
  DrawnTextNotes() = &texts;
  std::string png, error;
  const bool drawn = DrawCompareChartPng(compared, 520, 440, &png, &error);
  DrawnTextNotes() = nullptr;
  ASSERT_TRUE(drawn) << error;
  std::vector<DrawnText> labels;
  for (const DrawnText& text : texts) {
    if (text.text.rfind("layer 1 starts", 0) == 0) labels.push_back(text);
  }
  ASSERT_EQ(labels.size(), marks.size());
  for (size_t i = 0; i < labels.size(); ++i) {
    EXPECT_EQ(labels[i].text, marks[i].label);
    for (size_t j = 0; j < i; ++j) {
      const DrawnText &a = labels[i], &b = labels[j];
      EXPECT_TRUE(a.right <= b.left || b.right <= a.left || a.bottom <= b.top || b.bottom <= a.top)
          << a.text << " on " << b.text;
    }
  }
}

// Wrapped text keeps every character: lines fit the width, a word wider
// than a line is broken between characters (never inside one), and the
// lines joined again are the text.
TEST(PageText, WrapKeepsEveryCharacterAndFitsTheWidth) {
  cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, 10, 10);
  cairo_t* cr = cairo_create(surface);
  Font(cr, 8.5);
  const std::string word(120, 'x');
  const std::string text =
      "2.4X (3,324 kB/s), 4X (5,540 kB/s), 8X (11,080 kB/s) " + word +
      " \u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9 end";
  for (const double width : {40.0, 120.0, 1000.0}) {
    const std::vector<std::string> lines = Wrap(cr, text, width);
    std::string joined, unspaced;
    for (const std::string& line : lines) {
      EXPECT_FALSE(line.empty()) << width;
      EXPECT_LE(TextWidth(cr, line), width + 0.01) << line;
      ASSERT_FALSE((static_cast<unsigned char>(line[0]) & 0xC0) == 0x80) << "split inside é";
      joined += line;
    }
    for (const char c : text) {
      if (c != ' ') unspaced += c;
    }
    std::string joinedUnspaced;
    for (const char c : joined) {
      if (c != ' ') joinedUnspaced += c;
    }
    EXPECT_EQ(joinedUnspaced, unspaced) << width;
    EXPECT_EQ(lines.size() == 1, width == 1000.0 && TextWidth(cr, text) <= 1000.0) << width;
  }
  // A speed and its rate stay on one line where the line holds them.
  const std::string speeds = "2.4X (3,324 kB/s), 4X (5,540 kB/s), 8X (11,080 kB/s)";
  const double room = TextWidth(cr, "2.4X (3,324 kB/s), 4X (5,540");
  for (const std::string& line : Wrap(cr, speeds, room)) {
    EXPECT_EQ(std::count(line.begin(), line.end(), '('), std::count(line.begin(), line.end(), ')'))
        << line;
  }
  cairo_destroy(cr);
  cairo_surface_destroy(surface);
}

// A batch of runs, single and dual layer mixed, one disc's ID padded as
// drives give it.
std::vector<ScanRecord> BatchOfRuns(size_t count) {
  std::vector<ScanRecord> runs;
  for (size_t i = 0; i < count; ++i) {
    ScanRecord run = i % 3 == 2 ? DualLayer() : i % 2 ? Marginal() : Good();
    run.startTime = "2026-12-08T02:1" + std::to_string(i) + ":00+01:00";
    if (i == 1) run.disc.manufacturerId = "ORBTEK  ";
    runs.push_back(std::move(run));
  }
  return runs;
}

size_t CountOf(const std::string& text, const std::string& part) {
  size_t count = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

// What every run of the report must show once: its statistics rows, its
// worst sample; a comparison's run names are in its block and the chart's
// legend.
struct RunLine {
  std::string text;
  size_t times = 1;
};

std::vector<RunLine> RunLines(const std::vector<ScanRecord>& runs) {
  std::vector<RunLine> lines;
  for (size_t i = 0; i < runs.size(); ++i) {
    const std::string run = "Run " + std::to_string(i + 1);
    if (runs.size() == 1) {
      lines.push_back({"Whole disc"});
      lines.push_back({"Worst sample: LBA "});
      continue;
    }
    lines.push_back({run + ": 2026-12-08 02:1" + std::to_string(i) + ", " +
                         (i == 1 ? "ORBTEK" : runs[i].disc.manufacturerId) + ", " +
                         runs[i].settings.speed,
                     2});
    lines.push_back({run + ": Worst sample: LBA "});
    if (runs[i].disc.type == "DVD+R DL") {
      lines.push_back({run + ", layer 0"});
      lines.push_back({run + ", layer 1"});
    }
  }
  return lines;
}

// No two texts drawn on one page touch, and each lies inside its page.
void ExpectApart(const std::vector<DrawnText>& texts, double width, double height,
                 const std::string& what) {
  for (size_t i = 0; i < texts.size(); ++i) {
    const DrawnText& a = texts[i];
    EXPECT_TRUE(a.left >= 0 && a.right <= width && a.top >= 0 && a.bottom <= height)
        << what << ": \"" << a.text << "\" off its page";
    for (size_t j = i + 1; j < texts.size(); ++j) {
      const DrawnText& b = texts[j];
      if (a.page != b.page) continue;
      const bool apart =
          a.right <= b.left || b.right <= a.left || a.bottom <= b.top || b.bottom <= a.top;
      EXPECT_TRUE(apart) << what << ", page " << a.page + 1 << ": \"" << a.text << "\" on \""
                         << b.text << "\"";
    }
  }
}

// Reports of 1 to 8 runs keep every run: its lines once, on a page that
// grows (PNG) or goes on to numbered pages (PDF), nothing drawn on another
// text, the chart tall enough to read, run titles without the ID's padding.
TEST(ReportPages, EveryRunOfABatchOnceAndNothingOverlaps) {
  const bool poppler = Have("pdfinfo") && Have("pdftotext");
  for (const size_t count : {1u, 2u, 6u, 8u}) {
    const std::vector<ScanRecord> runs = BatchOfRuns(count);
    const ReportContent content = BuildReportContent(runs);
    const std::string what = std::to_string(count) + " runs";
    std::string error;

    std::vector<DrawnText> pngTexts;
    std::string png;
    ReportRect plot;
    ASSERT_TRUE(RenderReportPng(content, PaperSize::kA4, &png, &error, &plot, &pngTexts)) << error;
    const fs::path pngPath = TempDir() / ("batch-" + std::to_string(count) + ".png");
    WriteFile(pngPath, png);
    KeepPicture("batch-" + std::to_string(count), png);
    cairo_surface_t* image = ReadPng(pngPath);
    const int pngHeight = cairo_image_surface_get_height(image);
    cairo_surface_destroy(image);
    EXPECT_GE(pngHeight, 1684) << what;
    EXPECT_GE(plot.height, 150 * kReportPngScale) << what;
    ExpectApart(pngTexts, 1191, pngHeight, what + ", PNG");
    std::string pngText;
    for (const DrawnText& text : pngTexts) pngText += text.text + "\n";
    for (const RunLine& line : RunLines(runs)) {
      EXPECT_EQ(CountOf(pngText, line.text), line.times)
          << what << ", PNG: " << line.text << " in\n"
          << pngText;
    }
    EXPECT_EQ(pngText.find("ORBTEK ,"), std::string::npos) << pngText;

    std::vector<DrawnText> pdfTexts;
    std::string pdf;
    ASSERT_TRUE(RenderReportPdf(content, PaperSize::kA4, &pdf, &error, &pdfTexts)) << error;
    const PaperPoints a4 = PaperSizePoints(PaperSize::kA4);
    ExpectApart(pdfTexts, a4.width, a4.height, what + ", PDF");
    int pages = 0;
    for (const DrawnText& text : pdfTexts) pages = std::max(pages, text.page + 1);
    EXPECT_EQ(pages > 1, count > 2) << what;
    const fs::path pdfPath = TempDir() / ("batch-" + std::to_string(count) + ".pdf");
    WriteFile(pdfPath, pdf);
    if (!poppler) continue;
    const Output info = RunCommand("pdfinfo " + Quoted(pdfPath));
    EXPECT_NE(info.text.find("Pages:           " + std::to_string(pages) + "\n"), std::string::npos)
        << info.text;
    std::string all;
    for (int page = 1; page <= pages; ++page) {
      const std::string n = std::to_string(page);
      const Output text =
          RunCommand("pdftotext -layout -f " + n + " -l " + n + " " + Quoted(pdfPath) + " -");
      ASSERT_EQ(text.status, 0) << text.text;
      if (pages > 1) {
        EXPECT_EQ(CountOf(text.text, "page " + n + " of " + std::to_string(pages)), 1u)
            << what << "\n"
            << text.text;
      }
      all += text.text;
    }
    for (const RunLine& line : RunLines(runs)) {
      EXPECT_EQ(CountOf(all, line.text), line.times) << what << ", PDF: " << line.text << " in\n"
                                                     << all;
    }
  }
}

}  // namespace
