// Run, Lab History…: the URL of the PostgreSQL server the lab's stations
// share, set or cleared. The URL is shown with any password as ***; a URL
// that is none is refused with the reason under the field, and the dialog
// stays open.
//
// UI thread only.
#pragma once

#include <wx/dialog.h>

#include <string>

#include "app/lab_settings.h"

class wxStaticText;
class wxTextCtrl;

class CLabHistoryDlg : public wxDialog {
 public:
  // url: the settings file's (with its password while this session has
  // it); inUse: the one this session uses, and where it came from.
  CLabHistoryDlg(wxWindow* parent, const std::string& url, const LabChoice& inUse);

  wxTextCtrl* Field() const { return m_field; }
  // The field emptied: the lab history is cleared when accepted.
  void Clear();
  // Takes the field's URL; false, with the reason shown, when it is none.
  bool Accept();
  // After Accept: the URL chosen (empty: none). An unedited field keeps the
  // URL given, password and all.
  const std::string& Url() const { return m_url; }
  // The line under the field: why the URL was refused ("" when it was not).
  std::string Problem() const;

 private:
  std::string m_url;
  std::string m_shown;  // the field's first text
  wxTextCtrl* m_field = nullptr;
  wxStaticText* m_problem = nullptr;
};
