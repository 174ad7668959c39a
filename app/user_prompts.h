// The modal prompts the main window raises: message boxes and the notice for
// a drive that refuses the diagnostic mode. The window asks through this
// interface so that tests can answer the prompts instead of a person.
//
// UI thread only.
#pragma once

#include <wx/window.h>

#include <string>

class UserPrompts {
 public:
  virtual ~UserPrompts() = default;
  // OK button only, the application's name as caption (or the one given).
  virtual void Message(wxWindow* parent, const std::string& text,
                       const std::string& caption = {}) = 0;
  virtual void DriveNotice(wxWindow* parent) = 0;
  virtual void About(wxWindow* parent) = 0;
};

// The real dialogs.
class CWxPrompts : public UserPrompts {
 public:
  void Message(wxWindow* parent, const std::string& text, const std::string& caption) override;
  void DriveNotice(wxWindow* parent) override;
  void About(wxWindow* parent) override;
};

inline constexpr char kAppName[] = "Velmo";
