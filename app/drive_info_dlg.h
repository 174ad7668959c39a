// File, Drive Information...: what the selected drive tells of itself
// (firmware and its date, serial number, loader, buffer, what it reads and
// writes), one label and value a line, "unknown" for what it did not say.
// The dialog opens at once; the facts are read on a worker and handed in
// with ShowFacts.
//
// UI thread only.
#pragma once

#include <wx/dialog.h>

#include <string>
#include <utility>
#include <vector>

#include "commands/drive_facts.h"

class wxFlexGridSizer;
class wxStaticText;

class CDriveInfoDlg : public wxDialog {
 public:
  CDriveInfoDlg(wxWindow* parent, const std::string& driveName, const std::string& node);
  void ShowFacts(const DriveFacts& facts);
  bool Read() const { return m_read; }
  // The rows as shown: label, value.
  std::vector<std::pair<std::string, std::string>> Rows() const { return m_shown; }

 private:
  std::vector<wxStaticText*> m_values;
  std::vector<std::pair<std::string, std::string>> m_shown;  // before wrapping
  bool m_read = false;
};
