// The History window's list of kept runs: the columns of `velmo-cli
// history`, wide enough for their texts (a DL disc, "not recommended"), the
// time short and local, a dot in the outcome's colour before its words, and
// a click on a column's header orders the rows by it (numbers as numbers,
// times as times; a second click turns the order round). Virtual: it holds
// the ids of the runs in their order, and fetches the rows it shows a page
// at a time, so that a history of a million runs opens as fast as one of
// ten. Row i is run Ids()[i].
#pragma once

#include <wx/listctrl.h>

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "history/history.h"

enum class HistoryColumn {
  kId,
  kTime,
  kDrive,
  kDisc,
  kMid,
  kManufacturer,
  kSpeed,
  kDensity,
  kOutcome,
  kTe,
  kFe,
  kHost,  // the station (computer) the run was made on: "Station"
};
inline constexpr int kHistoryColumnCount = 12;

// Where the list's runs come from: their ids in a column's order (ties
// newest first), and the rows of some ids (in any order). False: nothing to
// show.
struct HistoryListSource {
  std::function<bool(HistoryColumn column, bool ascending, std::vector<int64_t>* ids)> ids;
  std::function<bool(const std::vector<int64_t>& ids, std::vector<HistoryEntry>* rows)> rows;
};

class CHistoryList : public wxListCtrl {
 public:
  explicit CHistoryList(wxWindow* parent);

  // Shows the source's runs in the order chosen by the last header click
  // (newest first until then); nothing is selected. An empty source: none.
  void SetSource(HistoryListSource source);
  const std::vector<int64_t>& Ids() const { return m_ids; }
  // Every row, in the list's order (fetched: for a few rows only).
  std::vector<HistoryEntry> Entries() const;
  // Row item, fetched with its page; nullptr past the end or when the
  // source fails.
  const HistoryEntry* Row(long item) const;

  // As a click on the column's header orders the rows; the selected runs
  // stay selected.
  void SortBy(HistoryColumn column, bool ascending);
  HistoryColumn SortColumn() const { return m_sortColumn; }
  bool SortAscending() const { return m_ascending; }

  std::vector<int64_t> SelectedIds() const;
  // Every column's width together: what the list needs to show them all.
  int ColumnsWidth() const;
  // Narrows the name columns (Drive, Manufacturer, Station), which cut what
  // is longer anyway, until every column fits width or they are at their
  // least.
  void FitColumnsWithin(int width);

  // The text of a cell as the list shows it.
  static std::string CellText(const HistoryEntry& entry, HistoryColumn column);
  // The history's column a list column is ordered by.
  static const char* OrderColumn(HistoryColumn column);
  // "2026-12-08 14:05" in this computer's time zone; the text itself when
  // it is no time.
  static std::string ShortLocalTime(const std::string& isoTime);
  // The colour of the outcome's dot (invalid: no dot).
  static wxColour OutcomeColour(RunOutcome outcome);

 protected:
  wxString OnGetItemText(long item, long column) const override;
  int OnGetItemImage(long item) const override;
  int OnGetItemColumnImage(long item, long column) const override;

 private:
  void FetchIds();
  void Unselect();

  HistoryListSource m_source;
  std::vector<int64_t> m_ids;
  // The pages of rows fetched so far, by page number; dropped whole when
  // they grow past a few hundred rows or the order changes.
  mutable std::map<long, std::vector<HistoryEntry>> m_pages;
  HistoryColumn m_sortColumn = HistoryColumn::kTime;
  bool m_ascending = false;
};
