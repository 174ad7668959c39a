// File, Export Report... and Print Report... of the window on the simulator,
// under a real display: the report of the run that just ended (or was
// stopped), in each format, and the printed page drawn on a cairo context.
#include <cairo.h>
#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <wx/app.h>
#include <wx/dcgraph.h>
#include <wx/dcmemory.h>
#include <wx/gtk/print.h>
#include <wx/init.h>
#include <wx/log.h>
#include <wx/menu.h>
#include <wx/print.h>
#include <wx/rawbmp.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "app/report_export.h"
#include "app/report_printout.h"
#include "app/scan_dlg.h"
#include "res/resource_ids.h"
#include "session/sim_catalogue.h"
#include "tests/app/window_test.h"
#include "tests/reports/report_fixtures.h"

namespace fs = std::filesystem;

namespace {

std::string Command(const std::string& line) {
  std::string out;
  FILE* pipe = popen(line.c_str(), "r");
  if (pipe == nullptr) return out;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
  pclose(pipe);
  return out;
}

class ReportWindowTest : public WindowTest {
 protected:
  void Open(const std::string& scenario, int latencyMs = 0) {
    WindowTest::Open(scenario, latencyMs);
    ASSERT_TRUE(m_opened);
    ASSERT_TRUE(WaitStatus("Ready."));
  }
  // A File menu item, found by its text as the user sees it.
  void Menu(const char* item) {
    const int id = m_dialog->GetMenuBar()->GetMenu(0)->FindItem(item);
    ASSERT_NE(id, wxNOT_FOUND) << item;
    wxCommandEvent event(wxEVT_MENU, id);
    m_dialog->GetEventHandler()->ProcessEvent(event);
  }
  // Export Report with the file dialog answered by path; the default name it offered.
  std::string Export(const std::string& path) {
    std::string offered;
    m_seen.reportPath = [&](const std::string& name, std::string* chosen) {
      offered = name;
      *chosen = path;
      return true;
    };
    Menu("Export Report...");
    return offered;
  }
};

TEST_F(ReportWindowTest, ExportsTheRunThatEnded) {
  Open("dvd+r-yuden");
  // Nothing to report before a run.
  Export("early.pdf");
  ASSERT_EQ(m_seen.messages.size(), 1u);
  EXPECT_EQ(m_seen.messages[0], "There is no run to report yet.");
  EXPECT_FALSE(fs::exists("early.pdf"));

  Click(IDC_START);
  ASSERT_TRUE(WaitFor([&] { return m_seen.messages.size() == 2; }, 30000));
  ASSERT_TRUE(WaitForOkRun());
  const ScanRecord record = *m_dialog->LastRunRecord();
  EXPECT_EQ(record.samples.size(), 58u);
  EXPECT_EQ(record.disc.manufacturerId.substr(0, 8), "YUDEN000");
  EXPECT_EQ(record.program, "velmo");

  const std::string offered = Export(fs::absolute("window").string());  // no extension: PDF
  EXPECT_EQ(offered.rfind("velmo-", 0), 0u) << offered;
  EXPECT_NE(offered.find("-YUDEN000-"), std::string::npos) << offered;
  EXPECT_EQ(offered.substr(offered.size() - 4), ".pdf");
  ASSERT_TRUE(fs::exists("window.pdf"));
  const std::string text = Command("pdftotext -layout window.pdf -");
  EXPECT_NE(text.find("OK for writing at"), std::string::npos) << text;
  EXPECT_NE(text.find("YUDEN000"), std::string::npos) << text;
  EXPECT_NE(text.find("velmo 1.0.0"), std::string::npos) << text;

  Export("window.png");
  EXPECT_EQ(ReadFile("window.png").substr(1, 3), "PNG");
  Export("window.html");
  const std::string html = ReadFile("window.html");
  EXPECT_EQ(html.rfind("<!DOCTYPE html>", 0), 0u);
  EXPECT_NE(html.find("data:image/png;base64,"), std::string::npos);
  // Every format of the table, known by its extension in any case.
  for (const ReportFormatRow& row : ReportFormats()) {
    std::string upper = row.extension;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    const std::string name = "table." + upper;
    Export(name);
    EXPECT_EQ(Command("file -b --mime-type " + name), std::string(row.mimeType) + "\n") << name;
  }
  EXPECT_EQ(m_seen.messages.size(), 2u) << m_seen.messages.back();

  // A folder that is not there: said, nothing left behind.
  Export("no/such/folder/r.pdf");
  ASSERT_EQ(m_seen.messages.size(), 3u);
  EXPECT_EQ(m_seen.messages[2].rfind("The report could not be written: no/such/folder/r.pdf", 0),
            0u)
      << m_seen.messages[2];

  // A FIFO nobody reads (the History window exports through the same
  // path): said at once, the window never waits for a reader.
  ASSERT_EQ(mkfifo("nobody.pdf", 0644), 0);
  Export("nobody.pdf");
  ASSERT_EQ(m_seen.messages.size(), 4u);
  EXPECT_EQ(m_seen.messages[3],
            "The report could not be written: nobody.pdf: nobody is reading this FIFO");
  EXPECT_TRUE(fs::is_fifo("nobody.pdf"));
}

// Export reports what the window shows: after a scan, the Smart Scan that
// followed it; once another disc is in the drive, no run of the one before.
TEST_F(ReportWindowTest, ExportsTheSmartScanThatFollowedAScanAndNoRunOfAnotherDisc) {
  Open("dvd+r-yuden");
  Click(IDC_START);
  ASSERT_TRUE(WaitForOkRun(30000));
  ASSERT_TRUE(WaitFor([&] { return !m_dialog->Scanning() && Enabled(IDC_SMART_SCAN); }));
  m_seen.smartDialog = [&](CSmartModeDlg& smart) {
    smart.Show();
    ASSERT_TRUE(WaitFor([&] { return !smart.WorkerRunning(); }));
    smart.OnCancel();
  };
  Click(IDC_SMART_SCAN);
  const std::string offered = Export("smart.html");
  EXPECT_NE(offered.find("YUDEN000"), std::string::npos) << offered;
  const std::string html = ReadFile("smart.html");
  EXPECT_NE(html.find("<h2>Smart Scan</h2>"), std::string::npos);
  EXPECT_NE(html.find("YUDEN000"), std::string::npos);
  EXPECT_EQ(m_seen.messages.size(), 1u) << m_seen.messages.back();  // the scan's verdict

  SimDrive(0).Eject();
  ASSERT_TRUE(WaitStatus("Please insert blank disc..."));
  const std::vector<std::string> discs = SimDiscLabels();
  size_t other = 0;
  while (other < discs.size() && discs[other].rfind("dvd+r-novadisc", 0) != 0) ++other;
  ASSERT_LT(other, discs.size());
  m_dialog->Session()->InsertSimDisc(0, other, std::chrono::milliseconds(0));
  ASSERT_TRUE(WaitStatus("Ready."));
  EXPECT_EQ(Text(IDC_MANUFACTURER_ID).find("YUDEN"), std::string::npos);
  Export("other.html");
  ASSERT_EQ(m_seen.messages.size(), 2u);
  EXPECT_EQ(m_seen.messages[1], "There is no run to report yet.");
  EXPECT_FALSE(fs::exists("other.html"));
}

// The file dialog's choices are the table's formats, each once, the export
// default first, and the index the dialog gives back picks its own format.
TEST(ExportReportTypes, EveryFormatIsOfferedOnceInTheDialogsOrder) {
  const std::vector<ReportFormat> types = ExportReportTypes();
  ASSERT_EQ(types.size(), ReportFormats().size());
  EXPECT_TRUE(ReportFormatRowOf(types.front()).exportDefault);
  std::string expected;
  for (size_t i = 0; i < types.size(); ++i) {
    EXPECT_EQ(std::count(types.begin(), types.end(), types[i]), 1);
    EXPECT_EQ(ExportReportTypeAt(static_cast<int>(i)), types[i]);
    const ReportFormatRow& row = ReportFormatRowOf(types[i]);
    expected += (i == 0 ? "" : "|") + std::string(row.fileType) + " (*." + row.extension + ")|*." +
                row.extension;
  }
  EXPECT_EQ(ExportReportWildcard(), expected);
  EXPECT_EQ(ExportReportWildcard(),
            "PDF document (*.pdf)|*.pdf|PNG picture (*.png)|*.png|HTML page (*.html)|*.html");
  // wxFileDialog gives -1 when no type was chosen.
  EXPECT_EQ(ExportReportTypeAt(-1), types.front());
  EXPECT_EQ(ExportReportTypeAt(static_cast<int>(types.size())), types.front());
}

// The type picked in the dialog decides: the name offered (or typed) keeps
// another report type's extension only until a type is picked.
TEST(ExportReportTypes, TheTypePickedDecidesTheExtension) {
  EXPECT_EQ(ReportPathOfType("/r/velmo-1-MKM-8X.pdf", ReportFormat::kPng), "/r/velmo-1-MKM-8X.png");
  EXPECT_EQ(ReportPathOfType("/r/run.PDF", ReportFormat::kHtml), "/r/run.html");
  EXPECT_EQ(ReportPathOfType("/r/run.htm", ReportFormat::kHtml), "/r/run.htm");
  EXPECT_EQ(ReportPathOfType("/r/run.png", ReportFormat::kPng), "/r/run.png");
  // A name with no report extension gets the type's.
  EXPECT_EQ(ReportPathOfType("/r/disc 7", ReportFormat::kPdf), "/r/disc 7.pdf");
  EXPECT_EQ(ReportPathOfType("/r/disc.7", ReportFormat::kPng), "/r/disc.7.png");
  EXPECT_EQ(ReportPathOfType("/r.pdf/run", ReportFormat::kPng), "/r.pdf/run.png");
}

TEST_F(ReportWindowTest, StoppedRunReportsWhatItTook) {
  Open("dvd+r-yuden", 60);
  Click(IDC_START);
  ASSERT_TRUE(WaitFor(
      [&] { return m_dialog->LastRunRecord() && m_dialog->LastRunRecord()->samples.size() >= 3; }));
  Click(IDC_STOP);
  const size_t taken = m_dialog->LastRunRecord()->samples.size();
  WaitFor([] { return false; }, 300);
  EXPECT_EQ(m_dialog->LastRunRecord()->samples.size(), taken);  // nothing after STOP
  EXPECT_EQ(m_dialog->LastRunRecord()->outcome, RunOutcome::kAborted);
  Export("stopped.html");
  const std::string html = ReadFile("stopped.html");
  EXPECT_NE(html.find("Stopped: no verdict"), std::string::npos);
  EXPECT_NE(html.find("<td>" + std::to_string(taken) + "</td>"), std::string::npos);
}

// The printed page: Print Report's printout drawn on a page of a known size,
// through the same cairo path the GTK printer's context takes.
TEST_F(ReportWindowTest, PrintsThePageWithItsLimitLines) {
  Open("dvd+r-yuden");
  Click(IDC_START);
  ASSERT_TRUE(WaitForOkRun(30000));
  int printed = 0;
  ReportRect plot;
  wxBitmap page(1190, 1684, 24);
  m_seen.print = [&](wxPrintout& shown, wxPrintDialogData&) {
    auto& printout = dynamic_cast<CReportPrintout&>(shown);
    wxMemoryDC memory(page);
    wxGCDC dc(memory);
    printout.SetDC(&dc);
    printout.SetPageSizePixels(1190, 1684);
    printout.SetPageSizeMM(210, 297);
    printout.SetPaperRectPixels(wxRect(0, 0, 1190, 1684));
    printout.SetPPIPrinter(144, 144);
    ASSERT_TRUE(printout.OnPrintPage(1));
    printed = printout.PagesPrinted();
    plot = printout.PlotArea();
    printout.SetDC(nullptr);
  };
  Menu("Print Report...");
  ASSERT_EQ(printed, 1);
  ASSERT_GT(plot.width, 500);
  wxImage image = page.ConvertToImage();
  // The page's range holds the run's readings and limits.
  const ScanRecord run = *m_dialog->LastRunRecord();
  const double top = RangeOfReadings({{"run", &run}}).top;
  auto row = [&](double value) {
    return static_cast<int>(plot.y + plot.height * (1 - value / top) + 0.5);
  };
  auto share = [&](int y, unsigned char r, unsigned char g, unsigned char b) {
    int hits = 0;
    for (int i = 1; i < 40; ++i) {
      const int x = static_cast<int>(plot.x + plot.width * i / 40.0);
      hits += image.GetRed(x, y) == r && image.GetGreen(x, y) == g && image.GetBlue(x, y) == b;
    }
    return hits / 39.0;
  };
  const ReportColour te = kReportTeLimit, fe = kReportFeLimit;
  EXPECT_GE(share(row(500), te.r, te.g, te.b), 0.9);
  EXPECT_GE(share(row(450), fe.r, fe.g, fe.b), 0.4);  // dashed
  EXPECT_LE(share(row(500) - 8, te.r, te.g, te.b), 0.2);
  // The paper is white where nothing is drawn.
  EXPECT_EQ(image.GetRed(5, 5), 255);
  EXPECT_EQ(image.GetGreen(5, 5), 255);
}

// The real thing: the GTK print dialog's file printer, whose cairo context
// the page is drawn on, writes a PDF whose text poppler reads.
TEST_F(ReportWindowTest, PrintsThroughTheGtkPrintSystem) {
  Open("dvd+r-yuden");
  Click(IDC_START);
  ASSERT_TRUE(WaitForOkRun(30000));
  const std::string pdf = wxGetCwd().utf8_string() + "/printed.pdf";
  int pages = -1;
  m_seen.print = [&](wxPrintout& printout, wxPrintDialogData& data) {
    data.GetPrintData().SetPrinterName("Print to File");
    data.GetPrintData().ConvertToNative();
    auto* native = static_cast<wxGtkPrintNativeData*>(data.GetPrintData().GetNativeData());
    gtk_print_settings_set(native->GetPrintConfig(), GTK_PRINT_SETTINGS_OUTPUT_URI,
                           ("file://" + pdf).c_str());
    gtk_print_settings_set(native->GetPrintConfig(), GTK_PRINT_SETTINGS_OUTPUT_FILE_FORMAT, "pdf");
    g_timeout_add(2000, PressPrintInGtkDialog, nullptr);
    wxPrinter printer(&data);
    printer.Print(nullptr, &printout, true);
    pages = dynamic_cast<CReportPrintout&>(printout).PagesPrinted();
  };
  Menu("Print Report...");
  EXPECT_EQ(pages, 1);
  ASSERT_TRUE(WaitFor([&] { return ReadFile(pdf).size() > 100; }, 10000));
  const std::string text = Command("pdftotext -layout '" + pdf + "' -");
  EXPECT_NE(text.find("OK for writing at"), std::string::npos) << text;
  EXPECT_NE(text.find("YUDEN000"), std::string::npos) << text;
  EXPECT_NE(Command("pdfinfo '" + pdf + "'").find("Pages:           1\n"), std::string::npos);
}

// The printout has the PDF's pages: one for a run, more for a batch of
// eight, each of them printed.
TEST(ReportPrintout, PrintsThePagesThePdfHas) {
  for (const size_t count : {1u, 8u}) {
    std::vector<ScanRecord> runs;
    for (size_t i = 0; i < count; ++i) {
      runs.push_back(i % 3 == 2 ? report_fixtures::DualLayer() : report_fixtures::Good());
    }
    std::string pdf, error;
    std::vector<DrawnText> texts;
    ASSERT_TRUE(RenderReportPdf(BuildReportContent(runs), PaperSize::kA4, &pdf, &error, &texts));
    int pdfPages = 0;
    for (const DrawnText& text : texts) pdfPages = std::max(pdfPages, text.page + 1);
    EXPECT_EQ(pdfPages > 1, count > 1) << count;

    CReportPrintout printout(runs);
    wxBitmap page(1190, 1684, 24);
    wxMemoryDC memory(page);
    wxGCDC dc(memory);
    printout.SetDC(&dc);
    printout.SetPageSizePixels(1190, 1684);
    printout.SetPageSizeMM(210, 297);
    printout.SetPaperRectPixels(wxRect(0, 0, 1190, 1684));
    printout.SetPPIPrinter(144, 144);
    printout.OnPreparePrinting();
    int minPage = 0, maxPage = 0, from = 0, to = 0;
    printout.GetPageInfo(&minPage, &maxPage, &from, &to);
    EXPECT_EQ(minPage, 1);
    EXPECT_EQ(maxPage, pdfPages) << count;
    EXPECT_EQ(to, pdfPages) << count;
    for (int p = 1; p <= maxPage; ++p) EXPECT_TRUE(printout.OnPrintPage(p)) << p;
    EXPECT_FALSE(printout.HasPage(maxPage + 1));
    EXPECT_EQ(printout.PagesPrinted(), pdfPages);
    printout.SetDC(nullptr);
  }
}

TEST_F(ReportWindowTest, TheFileMenuOffersBothBeforeExit) {
  Open("dvd+r-good");
  wxMenu* file = m_dialog->GetMenuBar()->GetMenu(0);
  std::vector<std::string> items;
  for (size_t i = 0; i < file->GetMenuItemCount(); ++i) {
    items.push_back(file->FindItemByPosition(i)->GetItemLabel().utf8_string());
  }
  EXPECT_EQ(items, (std::vector<std::string>{"Open &Record...\tCtrl+O", "&History...\tCtrl+H",
                                             "Drive &Information...", "&Save", "Export &Report...",
                                             "Print Re&port...", "E&xit\tCtrl+Q"}));
}

}  // namespace
