#include "app/drive_info_dlg.h"

#include <wx/button.h>
#include <wx/menu.h>
#include <wx/menuitem.h>
#include <wx/settings.h>
#include <wx/sizer.h>
#include <wx/stattext.h>

#include "app/scan_dlg.h"
#include "app/side_window.h"
#include "app/user_prompts.h"
#include "records/drive_facts_text.h"

namespace {

constexpr int kDriveInfoId = wxID_HIGHEST + 182;
constexpr char kReadingFacts[] = "reading\u2026";
constexpr int kValueWidth = 420;  // pixels; the profile lists wrap rather than widen the dialog

}  // namespace

CDriveInfoDlg::CDriveInfoDlg(wxWindow* parent, const std::string& driveName,
                             const std::string& node)
    : wxDialog(parent, wxID_ANY, "Drive Information", wxDefaultPosition, wxDefaultSize,
               wxDEFAULT_DIALOG_STYLE) {
  auto* grid = new wxFlexGridSizer(2, wxSize(12, 6));
  const auto add = [&](const std::string& label, const std::string& value) {
    auto* name = new wxStaticText(this, wxID_ANY, wxString::FromUTF8(label));
    name->SetForegroundColour(wxSystemSettings::GetColour(wxSYS_COLOUR_GRAYTEXT));
    // The drive's own bytes: an ampersand is no mnemonic.
    auto* shown = new wxStaticText(this, wxID_ANY, "");
    shown->SetLabelText(wxString::FromUTF8(value));
    grid->Add(name, 0, wxALIGN_RIGHT);
    grid->Add(shown, 0, wxALIGN_LEFT);
    m_values.push_back(shown);
    m_shown.emplace_back(label, value);
  };
  add("Drive:", driveName + " (" + node + ")");
  for (const DriveFactLine& line : DriveFactLines(DriveFacts{})) add(line.label, kReadingFacts);
  grid->AddGrowableCol(1);

  auto* column = new wxBoxSizer(wxVERTICAL);
  column->Add(grid, 1, wxEXPAND | wxALL, 18);
  auto* buttons = new wxBoxSizer(wxHORIZONTAL);
  buttons->AddStretchSpacer();
  buttons->Add(new wxButton(this, wxID_CLOSE, "&Close"));
  column->Add(buttons, 0, wxEXPAND | wxLEFT | wxRIGHT | wxBOTTOM, 18);
  SetSizer(column);
  CloseByKeys(*this);
  for (wxStaticText* value : m_values) value->Wrap(kValueWidth);
  Fit();
}

void CDriveInfoDlg::ShowFacts(const DriveFacts& facts) {
  const std::vector<DriveFactLine> lines = DriveFactLines(facts);
  for (size_t i = 0; i < lines.size() && i + 1 < m_values.size(); ++i) {
    m_shown[i + 1].second = lines[i].value;
    m_values[i + 1]->SetLabelText(wxString::FromUTF8(lines[i].value));
    m_values[i + 1]->Wrap(kValueWidth);
  }
  m_read = true;
  Layout();
  Fit();
  Refresh();
}

void CScanDlg::BuildDriveInfoMenu() {
  wxMenuBar* bar = GetMenuBar();
  if (bar == nullptr || bar->GetMenuCount() == 0) return;
  wxMenu* file = bar->GetMenu(0);
  // After History...: what the drive is, beside what it has done.
  const size_t after = std::min<size_t>(2, file->GetMenuItemCount());
  file->Insert(after, kDriveInfoId, "Drive &Information...");
  Bind(wxEVT_MENU, &CScanDlg::OnDriveInfoMenu, this, kDriveInfoId);
  // Only with a drive to ask.
  Bind(
      wxEVT_UPDATE_UI,
      [this](wxUpdateUIEvent& event) {
        event.Enable(m_session && m_session->Initialized() &&
                     m_session->Manager().GetSelected() != kNoDriveSelected);
      },
      kDriveInfoId);
}

void CScanDlg::OnDriveInfoMenu(wxCommandEvent&) {
  if (*m_driveInfo != nullptr) {
    (*m_driveInfo)->Raise();
    return;
  }
  const uint8_t selected =
      m_session && m_session->Initialized() ? m_session->Manager().GetSelected() : kNoDriveSelected;
  if (selected == kNoDriveSelected) {
    m_prompts->Message(this, "There is no drive to tell its facts.");
    return;
  }
  // The run's commands are the drive's now; the facts read for it stand.
  if (m_scanning == 1 && !m_driveFacts) {
    m_prompts->Message(this, "A scan is running; the drive tells its facts when it has ended.");
    return;
  }
  char name[100] = {};
  m_session->Manager().GetDriveName(name);
  auto* dialog = new CDriveInfoDlg(this, name, m_session->Manager().GetDrivePath(selected));
  *m_driveInfo = dialog;
  dialog->Bind(wxEVT_DESTROY, [slot = m_driveInfo](wxWindowDestroyEvent& event) {
    if (event.GetWindow() == *slot) *slot = nullptr;
    event.Skip();
  });
  dialog->Show();
  if (m_scanning == 1) {
    dialog->ShowFacts(*m_driveFacts);
    return;
  }
  if (m_factsThread.joinable()) m_factsThread.join();
  uint64_t generation;
  {
    MutexLock hold(m_driveLock);
    generation = m_generation;
  }
  // Never on the UI thread: a drive may take its time to answer.
  m_factsThread = std::thread([this, generation, slot = m_driveInfo] {
    DriveFacts facts = ReadDriveFacts();
    CallAfter([this, generation, slot, facts = std::move(facts)] {
      {
        MutexLock hold(m_driveLock);
        if (m_generation != generation || m_closing) return;
      }
      if (*slot != nullptr) (*slot)->ShowFacts(facts);
    });
  });
}
