// File, History...: the kept runs of velmo and velmo-cli in a list (the
// columns of `velmo-cli history`, sortable), narrowed by the filters of
// `velmo-cli history` (manufacturer ID, drive, outcome, since a date); one
// run opens in the main window, two or more open side by side in a
// comparison window, and the selected runs can be deleted (after asking).
#pragma once

#include <wx/dialog.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/history_list.h"
#include "history/history.h"

class UserPrompts;
class wxChoice;
class wxTextCtrl;

class CHistoryDlg : public wxDialog {
 public:
  // prompts: what the window asks and tells (it outlives the window); open:
  // shows one kept run in the main window; exportRuns: writes the report of
  // the selected runs (one, or several as a comparison).
  CHistoryDlg(wxWindow* parent, UserPrompts& prompts,
              std::function<void(const ScanRecord&, const std::string&)> open,
              std::function<void(const std::vector<ScanRecord>&)> exportRuns);

  // Fills the list from the history with the filters' values; false with
  // *error when the history cannot be read or a filter holds no value.
  bool Reload(std::string* error);

  CHistoryList* List() const { return m_list; }
  wxTextCtrl* MidFilter() const { return m_mid; }
  wxTextCtrl* DriveFilter() const { return m_drive; }
  // "any", then every outcome in the order velmo-cli names them.
  wxChoice* OutcomeFilter() const { return m_outcome; }
  // A date (2026-12-08) or a time with its offset, as velmo-cli's --since.
  wxTextCtrl* SinceFilter() const { return m_since; }
  std::vector<HistoryEntry> Entries() const { return m_list->Entries(); }
  // The comparison window of the last Compare while it is open.
  wxDialog* LastComparison() const { return *m_comparison; }

  void OpenSelected();
  void CompareSelected();
  void ExportSelected();
  // Asks first; a history that cannot be written says so instead.
  void DeleteSelected();

 private:
  // The filter the controls hold; false with *error for a date that is none.
  bool FilterOf(HistoryFilter* filter, std::string* error) const;
  // The selected runs, oldest first, with their names ("#ID"), when between
  // least and most are selected; otherwise the user is told (what) and none.
  std::vector<std::pair<std::string, ScanRecord>> LoadSelected(size_t least, size_t most,
                                                               const std::string& what);
  void Say(const std::string& text);

  UserPrompts& m_prompts;
  std::function<void(const ScanRecord&, const std::string&)> m_open;
  std::function<void(const std::vector<ScanRecord>&)> m_export;
  wxTextCtrl* m_mid = nullptr;
  wxTextCtrl* m_drive = nullptr;
  wxChoice* m_outcome = nullptr;
  wxTextCtrl* m_since = nullptr;
  CHistoryList* m_list = nullptr;
  // Open while the list shows its runs: it fetches the rows it shows.
  std::shared_ptr<CHistory> m_history;
  // Shared with the comparison window's destroy handler, which may run
  // while this window is being destroyed.
  std::shared_ptr<wxDialog*> m_comparison = std::make_shared<wxDialog*>(nullptr);
};
