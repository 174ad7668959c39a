#include "app/lab_history_dlg.h"

#include <wx/button.h>
#include <wx/sizer.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

#include "history/lab_history.h"

namespace {

constexpr int kLabDialogWrap = 520;

}  // namespace

CLabHistoryDlg::CLabHistoryDlg(wxWindow* parent, const std::string& url, const LabChoice& inUse)
    : wxDialog(parent, wxID_ANY, "Lab History", wxDefaultPosition, wxDefaultSize,
               wxDEFAULT_DIALOG_STYLE),
      m_url(url),
      m_shown(ShownUrl(url)) {
  auto* sizer = new wxBoxSizer(wxVERTICAL);
  auto* about = new wxStaticText(
      this, wxID_ANY,
      wxString::FromUTF8("A lab history is a PostgreSQL server the lab's stations share. Every "
                         "run is kept in this station's own history first, then sent to the "
                         "lab's; runs wait here while the server is away."));
  about->Wrap(kLabDialogWrap);
  sizer->Add(about, 0, wxALL, 12);

  auto* row = new wxBoxSizer(wxHORIZONTAL);
  row->Add(new wxStaticText(this, wxID_ANY, "&URL:"), 0, wxALIGN_CENTER_VERTICAL | wxRIGHT, 6);
  m_field = new wxTextCtrl(this, wxID_ANY, wxString::FromUTF8(m_shown), wxDefaultPosition,
                           wxSize(kLabDialogWrap - 40, -1), wxTE_PROCESS_ENTER);
  m_field->SetHint("postgresql://server/velmo");
  row->Add(m_field, 1, wxALIGN_CENTER_VERTICAL);
  sizer->Add(row, 0, wxLEFT | wxRIGHT | wxEXPAND, 12);

  auto* hint = new wxStaticText(
      this, wxID_ANY,
      wxString::FromUTF8("Passwords belong in ~/.pgpass, not here: the settings file keeps the "
                         "URL without one. This station is called \"" +
                         wxControl::EscapeMnemonics(StationName()).utf8_string() +
                         "\" (VELMO_STATION changes it)."));
  hint->Wrap(kLabDialogWrap);
  sizer->Add(hint, 0, wxLEFT | wxRIGHT | wxTOP, 12);
  if (inUse.from == LabUrlFrom::kOption || inUse.from == LabUrlFrom::kEnvironment) {
    auto* overridden = new wxStaticText(
        this, wxID_ANY,
        wxControl::EscapeMnemonics(wxString::FromUTF8(
            std::string("This session reads and sends runs to ") + ShownUrl(inUse.url) + ", from " +
            LabUrlOrigin(inUse.from) + "; the URL here is used when that is not given.")));
    overridden->Wrap(kLabDialogWrap);
    sizer->Add(overridden, 0, wxLEFT | wxRIGHT | wxTOP, 12);
  }
  m_problem = new wxStaticText(this, wxID_ANY, "");
  m_problem->SetForegroundColour(wxColour(0xc0, 0x1c, 0x28));
  sizer->Add(m_problem, 0, wxLEFT | wxRIGHT | wxTOP | wxEXPAND, 12);

  auto* buttons = new wxBoxSizer(wxHORIZONTAL);
  auto* clear = new wxButton(this, wxID_CLEAR, "C&lear");
  buttons->Add(clear);
  buttons->AddStretchSpacer();
  buttons->Add(new wxButton(this, wxID_CANCEL, "Cancel"), 0, wxRIGHT, 6);
  auto* set = new wxButton(this, wxID_OK, "&Set");
  set->SetDefault();
  buttons->Add(set);
  sizer->Add(buttons, 0, wxALL | wxEXPAND, 12);
  SetSizerAndFit(sizer);

  clear->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { Clear(); });
  auto accept = [this](wxCommandEvent&) {
    if (Accept()) EndModal(wxID_OK);
  };
  set->Bind(wxEVT_BUTTON, accept);
  m_field->Bind(wxEVT_TEXT_ENTER, accept);
  m_field->SetFocus();
}

void CLabHistoryDlg::Clear() {
  m_field->Clear();
  m_problem->SetLabel("");
  m_field->SetFocus();
}

bool CLabHistoryDlg::Accept() {
  const std::string text = m_field->GetValue().Strip(wxString::both).utf8_string();
  // The password shown as *** is the one kept, not "***".
  if (!m_shown.empty() && text == m_shown) return true;
  if (!text.empty()) {
    if (const std::string problem = LabUrlProblem(text); !problem.empty()) {
      m_problem->SetLabel(wxControl::EscapeMnemonics(wxString::FromUTF8(problem)));
      m_problem->Wrap(kLabDialogWrap);
      Layout();
      Fit();
      return false;
    }
  }
  m_problem->SetLabel("");
  m_url = text;
  return true;
}

std::string CLabHistoryDlg::Problem() const { return m_problem->GetLabelText().utf8_string(); }
