// File, History...: the kept runs of velmo and velmo-cli in a list (the
// columns of `velmo-cli history`), filtered by manufacturer ID; one run
// opens in the main window, two or more open side by side in a comparison
// window (overlaid chart and statistics table).
#pragma once

#include <wx/dialog.h>

#include <functional>
#include <string>
#include <vector>

#include "results/history.h"

class wxListCtrl;
class wxTextCtrl;

class CHistoryDlg : public wxDialog {
 public:
  // open: shows one kept run in the main window; exportRuns: writes the
  // report of the selected runs (one, or several as a comparison); say:
  // tells the user something (the main window's message box).
  CHistoryDlg(wxWindow* parent, std::function<void(const ScanRecord&, const std::string&)> open,
              std::function<void(const std::vector<ScanRecord>&)> exportRuns,
              std::function<void(const std::string&)> say);

  // Fills the list from the history with the current filter; false with
  // *error when the history cannot be read.
  bool Reload(std::string* error);

  wxListCtrl* List() const { return m_list; }
  wxTextCtrl* MidFilter() const { return m_mid; }
  const std::vector<HistoryEntry>& Entries() const { return m_entries; }
  // The comparison window of the last Compare, if open (tests look at it).
  wxDialog* LastComparison() const { return m_comparison; }

  void OpenSelected();
  void CompareSelected();
  void ExportSelected();

 private:
  std::vector<int64_t> SelectedIds() const;
  // The selected runs, with their names ("#ID"), when between least and
  // most are selected; otherwise the user is told (what) and none.
  std::vector<std::pair<std::string, ScanRecord>> LoadSelected(size_t least, size_t most,
                                                               const std::string& what);

  std::function<void(const ScanRecord&, const std::string&)> m_open;
  std::function<void(const std::vector<ScanRecord>&)> m_export;
  std::function<void(const std::string&)> m_say;
  wxTextCtrl* m_mid = nullptr;
  wxListCtrl* m_list = nullptr;
  wxDialog* m_comparison = nullptr;
  std::vector<HistoryEntry> m_entries;
};

// The comparison window: the overlaid chart and one statistics column a run.
class CCompareDlg : public wxDialog {
 public:
  CCompareDlg(wxWindow* parent, const std::vector<std::pair<std::string, ScanRecord>>& runs);
  wxListCtrl* Table() const { return m_table; }
  const wxBitmap& Chart() const { return m_chart; }

 private:
  wxListCtrl* m_table = nullptr;
  wxBitmap m_chart;
};
