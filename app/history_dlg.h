// File, History...: the kept runs of velmo and velmo-cli in a list (the
// columns of `velmo-cli history`, sortable), narrowed by the filters of
// `velmo-cli history` (manufacturer ID, drive, outcome, since a date); one
// run opens in the main window, two or more open side by side in a
// comparison window, and the selected runs can be deleted (after asking).
// With a lab history it reads the lab's server (every station's runs), or
// this station's own when Local history is chosen; a line above the list
// says which, or that the server cannot be read.
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
class wxStaticText;
class wxTextCtrl;

class CHistoryDlg : public wxDialog {
 public:
  // prompts: what the window asks and tells (it outlives the window); open:
  // shows one kept run in the main window; exportRuns: writes the report of
  // the selected runs (one, or several as a comparison). labUrl: the lab
  // history read first (empty: none; the window reads this station's).
  CHistoryDlg(wxWindow* parent, UserPrompts& prompts, const std::string& labUrl,
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
  // "Lab history", then "Local history"; null without a lab history.
  wxChoice* SourceChoice() const { return m_source; }
  // The line saying which history the list shows (empty without a lab
  // history).
  std::string Where() const;
  bool ReadingLab() const;
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
  // The history the list reads: the lab's URL or this station's file.
  std::string Location() const;

  UserPrompts& m_prompts;
  std::function<void(const ScanRecord&, const std::string&)> m_open;
  std::function<void(const std::vector<ScanRecord>&)> m_export;
  wxTextCtrl* m_mid = nullptr;
  wxTextCtrl* m_drive = nullptr;
  wxChoice* m_outcome = nullptr;
  wxTextCtrl* m_since = nullptr;
  CHistoryList* m_list = nullptr;
  std::string m_labUrl;
  wxChoice* m_source = nullptr;
  wxStaticText* m_where = nullptr;
  // Open while the list shows its runs: it fetches the rows it shows.
  std::shared_ptr<CHistory> m_history;
  // Shared with the comparison window's destroy handler, which may run
  // while this window is being destroyed.
  std::shared_ptr<wxDialog*> m_comparison = std::make_shared<wxDialog*>(nullptr);
};
