// Run, Scan a Part of the Disc… and Run, Resume the Last Run: a scan over the
// range the user names, and one that goes on from the last run after a
// fault or a stop, on the same disc.
#include <wx/choice.h>
#include <wx/textdlg.h>

#include <sstream>

#include "app/scan_dlg.h"
#include "commands/disc_globals.h"
#include "console/disc_range.h"
#include "history/history.h"
#include "res/resource_ids.h"

namespace {

// The newest run kept in the history at path (the window's last run may be
// forgotten once its disc left the drive); none when there is none.
std::optional<ScanRecord> NewestRunKeptAt(const std::string& path) {
  if (path.empty()) return std::nullopt;
  CHistory history;
  std::string error, notice;
  std::vector<HistoryEntry> newest;
  HistoryFilter filter;
  filter.limit = 1;
  ScanRecord record;
  if (!history.OpenForReading(path, &error, &notice) || !history.List(filter, &newest, &error) ||
      newest.empty() || !history.Load(newest.front().id, &record, &error))
    return std::nullopt;
  return record;
}

}  // namespace

void CScanDlg::OnRunPartMenu(wxCommandEvent&) {
  const wxWindow* start = m_layout.Control(IDC_START);
  if (start == nullptr || !start->IsEnabled() || m_book.Showing()) {
    m_prompts->Message(this, "A part of the disc can be scanned once a blank disc is identified.");
    return;
  }
  const wxString answer = wxGetTextFromUser(
      wxString::FromUTF8("From and to, each an LBA (1000000), a size from the disc's start "
                         "(2.5GB, 700MiB) or a share of the disc (50%). The scan takes the "
                         "sample positions from the first up to, not with, the second."),
      "Scan a Part of the Disc", "0% 50%", this);
  if (answer.empty()) return;  // cancelled
  std::istringstream words(answer.utf8_string());
  std::string fromText, toText, extra;
  words >> fromText >> toText;
  const std::optional<DiscPosition> from = ParseDiscPosition(fromText);
  const std::optional<DiscPosition> to = ParseDiscPosition(toText);
  if (!from || !to || (words >> extra)) {
    m_prompts->Message(this, "Give two positions, such as \"25% 75%\" or \"0 1GB\".");
    return;
  }
  int32_t lastLba = 0;
  DiscTypeCode type = kDiscUnknown;
  {
    std::lock_guard<std::mutex> hold(g_discLock);
    lastLba = g_lastLba;
    type = g_discType.load();
  }
  const int64_t first = PlaceDiscPosition(*from, lastLba);
  const int64_t last = PlaceDiscPosition(*to, lastLba);
  const std::string why = CheckDiscPart(first, last, lastLba,
                                        ScanPositions(m_densityMode, m_densityStep, type, lastLba));
  if (!why.empty()) {
    m_prompts->Message(this, "This part cannot be scanned: " + why + ".");
    return;
  }
  ScanPart part;
  part.from = static_cast<int32_t>(first);
  part.to = static_cast<int32_t>(last);
  StartRun(false, std::move(part));
}

void CScanDlg::OnRunResumeMenu(wxCommandEvent&) {
  if (m_pScanThread && !m_pScanThread->Finished()) {
    m_prompts->Message(this, "A run is going; the last run can go on once it has ended.");
    return;
  }
  std::optional<ScanRecord> run = LastRunRecord();
  if (!run) run = NewestRunKeptAt(m_book.HistoryPath());
  if (!run || run->kind != RecordKind::kScan || !CanResumeRun(run->outcome)) {
    m_prompts->Message(this,
                       "Only a scan that a fault or a stop ended goes on; the last run did not.");
    return;
  }
  const wxWindow* start = m_layout.Control(IDC_START);
  if (start == nullptr || !start->IsEnabled() || m_book.Showing()) {
    m_prompts->Message(this, "The last run goes on once its disc is identified again.");
    return;
  }
  if (const std::string other = OtherDiscThan(run->disc, WindowRunStart().disc); !other.empty()) {
    m_prompts->Message(this, "This is not the last run's disc: " + other + ".");
    return;
  }
  // The run's own speed and density, shown as chosen.
  int speedIndex = -1;
  {
    std::lock_guard<std::mutex> hold(g_discLock);
    for (int i = 0; i < kMaxSpeedCodes; ++i) {
      if (g_speedCodes[i] == run->settings.speedCode) speedIndex = i;
    }
  }
  int densityIndex = -1;
  for (int i = 0; i < kDensityChoiceCount; ++i) {
    if (run->settings.density == kDensityChoices[i].name) densityIndex = i;
  }
  if (speedIndex < 0 || speedIndex >= static_cast<int>(m_speedCombo->GetCount()) ||
      densityIndex < 0) {
    m_prompts->Message(this, "The disc no longer offers the last run's speed.");
    return;
  }
  m_speedCombo->SetSelection(speedIndex);
  m_densityCombo->SetSelection(densityIndex);
  wxCommandEvent changed;
  OnSelchangeSpeed(changed);
  OnSelchangeDensity(changed);
  StartRun(false, ResumePartOf(*run), run->runId);
}
