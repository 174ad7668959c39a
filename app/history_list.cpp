#include "app/history_list.h"

#include <wx/image.h>
#include <wx/imaglist.h>

#include <algorithm>
#include <cmath>
#include <ctime>
#include <set>

#include "records/scan_record.h"

namespace {

constexpr const char* kHeaders[kHistoryColumnCount] = {
    "ID",    "Time",    "Drive",   "Disc", "MID", "Manufacturer",
    "Speed", "Density", "Outcome", "TE",   "FE",  "Station"};

// What a column must show whole: its header and the widest text it holds.
// Drive, Manufacturer and Host hold names of any length; they get a fixed share
// (a drive's name as it lists itself: vendor, product and revision) and cut
// what is longer.
constexpr int kDriveColumnWidth = 240;
constexpr int kMakerColumnWidth = 150;
constexpr int kHostColumnWidth = 90;
// Room the list leaves around a cell's text.
constexpr int kHistoryCellPadding = 16;
// The outcome's dot, and the room between it and the words.
constexpr int kDotSize = 12;
constexpr int kDotGap = 6;

// Outcomes by their dot: ok, not recommended, a run that failed; a stopped
// run or a skipped disc has none (no judgement either way).
constexpr RunOutcome kDotOutcomes[] = {RunOutcome::kOk, RunOutcome::kNotRecommended,
                                       RunOutcome::kFirmwareFailure};

int DotOf(RunOutcome outcome) {
  switch (outcome) {
    case RunOutcome::kOk: return 0;
    case RunOutcome::kNotRecommended: return 1;
    case RunOutcome::kAborted:
    case RunOutcome::kSkipped: return -1;
    default: return 2;
  }
}

// A round dot, its edge smoothed by how much of each pixel it covers.
wxBitmap Dot(const wxColour& colour) {
  wxImage image(kDotSize, kDotSize);
  image.InitAlpha();
  const double centre = kDotSize / 2.0, radius = kDotSize / 2.0 - 1.5;
  for (int y = 0; y < kDotSize; ++y) {
    for (int x = 0; x < kDotSize; ++x) {
      const double distance = std::hypot(x + 0.5 - centre, y + 0.5 - centre);
      const double cover = std::clamp(radius + 0.5 - distance, 0.0, 1.0);
      image.SetRGB(x, y, colour.Red(), colour.Green(), colour.Blue());
      image.SetAlpha(x, y, static_cast<unsigned char>(std::lround(cover * 255)));
    }
  }
  return wxBitmap(image);
}

std::vector<std::string> WidestTexts(HistoryColumn column) {
  switch (column) {
    case HistoryColumn::kId: return {"99999"};
    case HistoryColumn::kTime: return {"2026-12-08 14:05", "0000-00-00 00:00"};
    case HistoryColumn::kDisc: return {"DVD+R DL", "DVD-R DL", "DVD+RW"};
    case HistoryColumn::kMid: return {"MBIPG101 R05", "CMC MAG-M01", "RICOHJPNR03", "MKM-003-00"};
    case HistoryColumn::kSpeed: return {"smart", "2.4X", "16X"};
    case HistoryColumn::kDensity: return {"normal", "quick", "full", kSmartDensity};
    case HistoryColumn::kOutcome: {
      std::vector<std::string> texts{"fit up to 2.4X", "no speed fit"};
      for (int i = 0; i < kRunOutcomeCount; ++i)
        texts.push_back(RunOutcomeName(static_cast<RunOutcome>(i)));
      return texts;
    }
    case HistoryColumn::kTe:
    case HistoryColumn::kFe: return {"9999"};
    default: return {};
  }
}

std::string OrDash(const std::optional<int>& value) { return value ? std::to_string(*value) : "-"; }

// Rows fetched at a time, and pages kept.
constexpr long kPageRows = 100;
constexpr size_t kPagesKept = 8;

}  // namespace

CHistoryList::CHistoryList(wxWindow* parent)
    : wxListCtrl(parent, wxID_ANY, wxDefaultPosition, wxDefaultSize, wxLC_REPORT | wxLC_VIRTUAL) {
  auto* dots = new wxImageList(kDotSize, kDotSize, false);
  for (const RunOutcome outcome : kDotOutcomes) dots->Add(Dot(OutcomeColour(outcome)));
  AssignImageList(dots, wxIMAGE_LIST_SMALL);
  for (int c = 0; c < kHistoryColumnCount; ++c) {
    const auto column = static_cast<HistoryColumn>(c);
    int width = GetTextExtent(kHeaders[c]).x;
    for (const std::string& text : WidestTexts(column))
      width = std::max(width, GetTextExtent(wxString::FromUTF8(text)).x);
    if (column == HistoryColumn::kDrive) {
      width = kDriveColumnWidth;
    } else if (column == HistoryColumn::kManufacturer) {
      width = kMakerColumnWidth;
    } else if (column == HistoryColumn::kHost) {
      width = kHostColumnWidth;
    } else {
      width += kHistoryCellPadding;
    }
    if (column == HistoryColumn::kOutcome) width += kDotSize + kDotGap;
    const bool number = column == HistoryColumn::kId || column == HistoryColumn::kTe ||
                        column == HistoryColumn::kFe;
    AppendColumn(kHeaders[c], number ? wxLIST_FORMAT_RIGHT : wxLIST_FORMAT_LEFT, width);
  }
  ShowSortIndicator(static_cast<int>(m_sortColumn), m_ascending);
  Bind(wxEVT_LIST_COL_CLICK, [this](wxListEvent& event) {
    if (event.GetColumn() < 0 || event.GetColumn() >= kHistoryColumnCount) return;
    const auto column = static_cast<HistoryColumn>(event.GetColumn());
    SortBy(column, column == m_sortColumn ? !m_ascending : true);
  });
}

int CHistoryList::ColumnsWidth() const {
  int width = 0;
  for (int c = 0; c < GetColumnCount(); ++c) width += GetColumnWidth(c);
  return width;
}

void CHistoryList::FitColumnsWithin(int width) {
  static constexpr std::pair<HistoryColumn, int> kNarrowest[] = {
      {HistoryColumn::kDrive, 70}, {HistoryColumn::kManufacturer, 70}, {HistoryColumn::kHost, 56}};
  int excess = ColumnsWidth() - width;
  for (const auto& [column, least] : kNarrowest) {
    if (excess <= 0) return;
    const int c = static_cast<int>(column);
    const int take = std::clamp(GetColumnWidth(c) - least, 0, excess);
    SetColumnWidth(c, GetColumnWidth(c) - take);
    excess -= take;
  }
}

std::string CHistoryList::ShortLocalTime(const std::string& isoTime) {
  const auto t = ParseIsoTime(isoTime);
  if (!t) return isoTime;
  const std::time_t time = static_cast<std::time_t>(*t);
  std::tm local{};
  if (localtime_r(&time, &local) == nullptr) return isoTime;
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M", &local);
  return text;
}

std::string CHistoryList::CellText(const HistoryEntry& e, HistoryColumn column) {
  switch (column) {
    case HistoryColumn::kId: return std::to_string(e.id);
    case HistoryColumn::kTime: return ShortLocalTime(e.startTime);
    case HistoryColumn::kDrive: return e.drive;
    case HistoryColumn::kDisc: return e.discType;
    case HistoryColumn::kMid: return e.manufacturerId;
    case HistoryColumn::kManufacturer: return e.manufacturerName.value_or("unknown");
    case HistoryColumn::kSpeed: return e.kind == RecordKind::kSmart ? "smart" : e.speed;
    case HistoryColumn::kDensity: return e.density;
    case HistoryColumn::kOutcome: return HistoryOutcomeText(e);
    case HistoryColumn::kTe: return OrDash(e.maxTe);
    case HistoryColumn::kFe: return OrDash(e.maxFe);
    case HistoryColumn::kHost: return e.host.empty() ? "-" : e.host;
  }
  return "";
}

wxColour CHistoryList::OutcomeColour(RunOutcome outcome) {
  // GNOME's palette: green 5, yellow 5, red 4; the outcome's words beside
  // the dot say the same for whoever cannot tell them apart.
  switch (DotOf(outcome)) {
    case 0: return wxColour(0x26, 0xa2, 0x69);
    case 1: return wxColour(0xe5, 0xa5, 0x0a);
    case 2: return wxColour(0xc0, 0x1c, 0x28);
    default: return wxColour();
  }
}

const char* CHistoryList::OrderColumn(HistoryColumn column) {
  switch (column) {
    case HistoryColumn::kId: return "id";
    case HistoryColumn::kTime: return "started";
    case HistoryColumn::kDrive: return "drive";
    case HistoryColumn::kDisc: return "disc_type";
    case HistoryColumn::kMid: return "mid";
    case HistoryColumn::kManufacturer: return "maker";
    case HistoryColumn::kSpeed: return "speed";
    case HistoryColumn::kDensity: return "density";
    case HistoryColumn::kOutcome: return "outcome";
    case HistoryColumn::kTe: return "max_te";
    case HistoryColumn::kFe: return "max_fe";
    case HistoryColumn::kHost: return "host";
  }
  return "started";
}

const HistoryEntry* CHistoryList::Row(long item) const {
  if (item < 0 || static_cast<size_t>(item) >= m_ids.size() || !m_source.rows) return nullptr;
  const long page = item / kPageRows;
  auto found = m_pages.find(page);
  if (found == m_pages.end()) {
    if (m_pages.size() >= kPagesKept) m_pages.clear();
    const size_t first = static_cast<size_t>(page * kPageRows);
    const size_t last = std::min(m_ids.size(), first + static_cast<size_t>(kPageRows));
    const std::vector<int64_t> ids(m_ids.begin() + static_cast<long>(first),
                                   m_ids.begin() + static_cast<long>(last));
    std::vector<HistoryEntry> fetched;
    if (!m_source.rows(ids, &fetched)) fetched.clear();
    // In the page's order; a run deleted meanwhile stays a blank row until
    // the next reload.
    std::map<int64_t, HistoryEntry*> byId;
    for (HistoryEntry& e : fetched) byId[e.id] = &e;
    std::vector<HistoryEntry> rows;
    for (const int64_t id : ids) {
      const auto it = byId.find(id);
      rows.push_back(it != byId.end() ? std::move(*it->second) : HistoryEntry{});
      if (it == byId.end()) rows.back().id = id;
    }
    found = m_pages.emplace(page, std::move(rows)).first;
  }
  return &found->second[static_cast<size_t>(item - page * kPageRows)];
}

std::vector<HistoryEntry> CHistoryList::Entries() const {
  std::vector<HistoryEntry> entries;
  for (long item = 0; item < static_cast<long>(m_ids.size()); ++item) {
    if (const HistoryEntry* row = Row(item)) entries.push_back(*row);
  }
  return entries;
}

wxString CHistoryList::OnGetItemText(long item, long column) const {
  const HistoryEntry* row = Row(item);
  if (row == nullptr || column < 0 || column >= kHistoryColumnCount) return "";
  return wxString::FromUTF8(CellText(*row, static_cast<HistoryColumn>(column)));
}

int CHistoryList::OnGetItemImage(long) const { return -1; }

int CHistoryList::OnGetItemColumnImage(long item, long column) const {
  if (column != static_cast<long>(HistoryColumn::kOutcome)) return -1;
  const HistoryEntry* row = Row(item);
  return row == nullptr ? -1 : DotOf(row->outcome);
}

std::vector<int64_t> CHistoryList::SelectedIds() const {
  std::vector<int64_t> ids;
  for (long item = GetNextItem(-1, wxLIST_NEXT_ALL, wxLIST_STATE_SELECTED); item != -1;
       item = GetNextItem(item, wxLIST_NEXT_ALL, wxLIST_STATE_SELECTED)) {
    if (item < static_cast<long>(m_ids.size())) ids.push_back(m_ids[static_cast<size_t>(item)]);
  }
  return ids;
}

void CHistoryList::Unselect() {
  for (long item = GetNextItem(-1, wxLIST_NEXT_ALL, wxLIST_STATE_SELECTED); item != -1;
       item = GetNextItem(item, wxLIST_NEXT_ALL, wxLIST_STATE_SELECTED)) {
    SetItemState(item, 0, wxLIST_STATE_SELECTED);
  }
}

void CHistoryList::FetchIds() {
  m_pages.clear();
  m_ids.clear();
  if (m_source.ids && !m_source.ids(m_sortColumn, m_ascending, &m_ids)) m_ids.clear();
}

void CHistoryList::SetSource(HistoryListSource source) {
  Unselect();
  m_source = std::move(source);
  FetchIds();
  SetItemCount(static_cast<long>(m_ids.size()));
  Refresh();
}

void CHistoryList::SortBy(HistoryColumn column, bool ascending) {
  const std::vector<int64_t> selected = SelectedIds();
  Unselect();
  m_sortColumn = column;
  m_ascending = ascending;
  FetchIds();
  SetItemCount(static_cast<long>(m_ids.size()));
  ShowSortIndicator(static_cast<int>(column), ascending);
  const std::set<int64_t> keep(selected.begin(), selected.end());
  for (size_t i = 0; i < m_ids.size() && !keep.empty(); ++i) {
    if (keep.count(m_ids[i]) != 0)
      SetItemState(static_cast<long>(i), wxLIST_STATE_SELECTED, wxLIST_STATE_SELECTED);
  }
  Refresh();
}
