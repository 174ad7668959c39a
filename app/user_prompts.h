// Everything the windows ask of a person: message boxes, confirmations, the
// notice for a drive that refuses the diagnostic mode, About, the file,
// folder and print dialogs, and the Smart Scan dialog; and, for whoever
// watches, every status text the main window shows. The window asks through this interface so that tests (and
// the documentation run) can answer instead of a person.
//
// UI thread only.
#pragma once

#include <wx/window.h>

#include <string>

class CLabHistoryDlg;
class CSmartModeDlg;
class wxPrintDialogData;
class wxPrintout;

class UserPrompts {
 public:
  virtual ~UserPrompts() = default;
  // OK button only, the application's name as caption (or the one given).
  virtual void Message(wxWindow* parent, const std::string& text,
                       const std::string& caption = {}) = 0;
  // Before what cannot be undone: true when the user takes the action (its
  // button says action, "Delete"), false for Cancel.
  virtual bool Confirm(wxWindow* parent, const std::string& question, const std::string& detail,
                       const std::string& action) = 0;
  virtual void DriveNotice(wxWindow* parent) = 0;
  virtual void About(wxWindow* parent) = 0;
  // File dialogs: false when cancelled, else the path chosen.
  // File, Save's picture (the extension is the window's to add).
  virtual bool SavePicturePath(wxWindow* parent, std::string* path) = 0;
  // File, Open Record....
  virtual bool OpenRecordPath(wxWindow* parent, std::string* path) = 0;
  // Export Report: defaultName in; the path comes back with the extension of
  // the type chosen (ReportPathOfType), which decides the report's format.
  virtual bool ReportPath(wxWindow* parent, const std::string& defaultName, std::string* path) = 0;
  // The folder for "Save a report of every run to...".
  virtual bool ReportFolder(wxWindow* parent, std::string* folder) = 0;
  // The print dialog, then printing printout as data says.
  virtual void Print(wxWindow* parent, wxPrintout& printout, wxPrintDialogData& data) = 0;
  // A Smart Scan's dialog (or a recorded one's report), modal.
  virtual void SmartDialog(CSmartModeDlg& dialog) = 0;
  // Run, Lab History…, modal: true when its URL was set (Accept).
  virtual bool LabHistoryDialog(CLabHistoryDlg& dialog) = 0;
  // Every status text as it is set: a status the next poll replaces at once
  // is still seen.
  virtual void StatusShown(const std::string& text) = 0;
};

// The real dialogs.
class CWxPrompts : public UserPrompts {
 public:
  void Message(wxWindow* parent, const std::string& text, const std::string& caption) override;
  bool Confirm(wxWindow* parent, const std::string& question, const std::string& detail,
               const std::string& action) override;
  void DriveNotice(wxWindow* parent) override;
  void About(wxWindow* parent) override;
  bool SavePicturePath(wxWindow* parent, std::string* path) override;
  bool OpenRecordPath(wxWindow* parent, std::string* path) override;
  bool ReportPath(wxWindow* parent, const std::string& defaultName, std::string* path) override;
  bool ReportFolder(wxWindow* parent, std::string* folder) override;
  void Print(wxWindow* parent, wxPrintout& printout, wxPrintDialogData& data) override;
  void SmartDialog(CSmartModeDlg& dialog) override;
  bool LabHistoryDialog(CLabHistoryDlg& dialog) override;
  void StatusShown(const std::string&) override {}
};

inline constexpr char kAppName[] = "Velmo";

// What a file dialog leaves of the screen's work area for a title bar.
inline constexpr int kTitleBarRoom = 40;
