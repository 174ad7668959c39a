#include "app/smart_mode_dlg.h"

#include <wx/button.h>
#include <wx/gauge.h>
#include <wx/listctrl.h>
#include <wx/renderer.h>
#include <wx/stattext.h>

#include <algorithm>
#include <mutex>

#include "app/sunken_text.h"
#include "console/scan_verdict.h"
#include "records/run_end_text.h"
#include "res/resource_ids.h"

// Posts each update to the dialog; after Cancel none runs, even one
// already queued.
class CSmartScanWorker::Sink : public SmartScanSink {
 public:
  Sink(wxEvtHandler& dialog, std::function<void(int, const std::string&)> rowText,
       std::function<void(int)> started, std::function<void()> stepped,
       std::shared_ptr<SmartReadings> readings)
      : m_dialog(dialog),
        m_readings(std::move(readings)),
        m_state(std::make_shared<State>()),
        m_rowText(std::move(rowText)),
        m_started(std::move(started)),
        m_stepped(std::move(stepped)) {}

  void Started(int rows) override {
    Post([f = m_started, rows] { f(rows); });
  }
  void RowTesting(int row) override {
    Post([f = m_rowText, row] { f(row, kSmartTesting); });
  }
  void RowVerdict(int row, SmartVerdict verdict) override {
    Post([f = m_rowText, row, verdict] { f(row, SmartVerdictText(verdict)); });
  }
  void Stepped() override { Post(m_stepped); }
  void RowEnded(int row, const SmartRowEnd& ended) override {
    if (!m_readings || row < 0) return;
    std::lock_guard<std::mutex> hold(m_readings->lock);
    if (m_readings->rows.size() <= static_cast<size_t>(row))
      m_readings->rows.resize(static_cast<size_t>(row) + 1);
    m_readings->rows[static_cast<size_t>(row)] = ended;
  }

  void Cancel() {
    std::lock_guard<std::mutex> hold(m_state->lock);
    m_state->cancelled = true;
  }

 private:
  struct State {
    std::mutex lock;
    bool cancelled = false;
  };
  void Post(std::function<void()> update) {
    m_dialog.CallAfter([state = m_state, update = std::move(update)] {
      {
        std::lock_guard<std::mutex> hold(state->lock);
        if (state->cancelled) return;
      }
      update();
    });
  }

  wxEvtHandler& m_dialog;
  std::shared_ptr<SmartReadings> m_readings;
  std::shared_ptr<State> m_state;
  std::function<void(int, const std::string&)> m_rowText;
  std::function<void(int)> m_started;
  std::function<void()> m_stepped;
};

std::string SmartAnswerLine(RunOutcome outcome, const RunCause& cause,
                            const std::optional<SpeedCode>& fitSpeed) {
  if (HasVerdict(outcome)) return SmartAnswerText(fitSpeed);
  return RunEndStatus(outcome, cause);
}

std::string SmartAnswerLine(const ScanRecord& record) {
  std::optional<SpeedCode> fit;
  if (record.fitSpeed) fit = static_cast<SpeedCode>(record.fitSpeed->speedCode);
  return SmartAnswerLine(record.outcome, record.cause, fit);
}

CSmartScanWorker::CSmartScanWorker(std::vector<SpeedCode> rows, wxEvtHandler& dialog,
                                   std::function<void(int, const std::string&)> rowText,
                                   std::function<void(int)> started, std::function<void()> stepped,
                                   std::shared_ptr<SmartReadings> readings)
    : m_sink(std::make_unique<Sink>(dialog, std::move(rowText), std::move(started),
                                    std::move(stepped), std::move(readings))),
      m_run(std::move(rows), *m_sink) {}

CSmartScanWorker::~CSmartScanWorker() {
  RequestStop();
  Join();
}

void CSmartScanWorker::Start() {
  m_thread = std::thread([this] { m_run.Run(); });
}

void CSmartScanWorker::RequestStop() {
  // The run's stop first: once it returns, the worker posts nothing more.
  m_run.RequestStop();
  m_sink->Cancel();
}

void CSmartScanWorker::Join() {
  if (m_thread.joinable()) m_thread.join();
}

CSmartModeDlg::CSmartModeDlg(wxWindow* parent,
                             std::function<void(std::unique_ptr<CSmartScanWorker>)> stoppedWorker)
    : wxDialog(parent, wxID_ANY, wxString::FromUTF8(kSmartModeTemplate.title), wxDefaultPosition,
               wxDefaultSize, wxCAPTION | wxSYSTEM_MENU | wxMINIMIZE_BOX | wxCLOSE_BOX),
      m_stoppedWorker(std::move(stoppedWorker)) {
  m_layout.Build(this, kSmartModeTemplate);
  SetClientSize(m_layout.ClientSize());
  m_progress = m_layout.Get<wxGauge>(IDC_PROGRESS);
  m_resultList = m_layout.Get<wxListCtrl>(IDC_RESULT_LIST);
  // The answer's two lines under the list, inside its group box.
  const int answerHeight = 2 * GetCharHeight() + 6;
  GrowBelowList(answerHeight);
  const wxRect list = m_resultList->GetRect();
  m_answer = new wxStaticText(this, wxID_ANY, "", wxPoint(list.x, list.GetBottom() + 4),
                              wxSize(list.width, answerHeight - 4), wxST_NO_AUTORESIZE);
  // Exit is the first tab stop and holds the focus; there is no OK button,
  // so Enter elsewhere leaves the dialog open.
  SetEscapeId(wxID_NONE);
  SetAffirmativeId(wxID_NONE);
  Bind(wxEVT_BUTTON, &CSmartModeDlg::OnExit, this, IDC_EXIT);
  Bind(wxEVT_CLOSE_WINDOW, &CSmartModeDlg::OnClose, this);
  Bind(wxEVT_CHAR_HOOK, &CSmartModeDlg::OnCharHook, this);
  m_layout.Control(IDC_EXIT)->SetFocus();
}

CSmartModeDlg::~CSmartModeDlg() {
  if (m_pWorkerThread) {
    m_pWorkerThread->RequestStop();
    if (m_stoppedWorker) m_stoppedWorker(std::move(m_pWorkerThread));
  }
}

bool CSmartModeDlg::OnInitDialog() {
  m_pWorkerThread.reset();
  InitResultList();
  ShowDiscInfo();
  std::vector<SpeedCode> rows = FillSpeedRows();
  FitListToRows(static_cast<int>(rows.size()));
  m_speedRows = rows;
  m_readings = std::make_shared<SmartReadings>();
  m_pWorkerThread = std::make_unique<CSmartScanWorker>(
      std::move(rows), *this,
      [this](int row, const std::string& text) {
        m_resultList->SetItem(row, 1, wxString::FromUTF8(text));
        m_resultList->EnsureVisible(row);
      },
      [this](int count) {
        m_progress->SetRange(std::max(count, 1));
        m_progress->SetValue(0);
      },
      [this] {
        m_progress->SetValue(std::min(m_progress->GetValue() + 1, m_progress->GetRange()));
        ShowAnswerIfDone();
      },
      m_readings);
  m_pWorkerThread->Start();
  return true;
}

void CSmartModeDlg::ShowRecord(const ScanRecord& record) {
  m_pWorkerThread.reset();
  InitResultList();
  m_layout.Control(IDC_DISC_TYPE)->SetLabel(wxString::FromUTF8(record.disc.type));
  m_layout.Control(IDC_MANUFACTURER_ID)->SetLabel(wxString::FromUTF8(record.disc.manufacturerId));
  m_layout.Control(IDC_MANUFACTURER_ID)
      ->SetToolTip(wxString::FromUTF8(record.disc.manufacturerName.value_or("unknown")));
  m_layout.Control(IDC_MEDIA_TYPE_ID)->SetLabel(wxString::FromUTF8(record.disc.mediaTypeId));
  m_layout.Control(IDC_CAPACITY)->SetLabel(wxString::FromUTF8(record.disc.capacity));
  const wxColour background(kResultTextBackground & 0xFF, (kResultTextBackground >> 8) & 0xFF,
                            (kResultTextBackground >> 16) & 0xFF);
  for (size_t i = 0; i < record.rows.size(); ++i) {
    const SmartRow& row = record.rows[i];
    const long item = m_resultList->InsertItem(static_cast<long>(i), wxString::FromUTF8(row.speed));
    m_resultList->SetItemBackgroundColour(item, background);
    const int result = row.result == kSmartRowOk               ? kSampleFit
                       : row.result == kSmartRowNotRecommended ? kSampleNotRecommended
                                                               : kSampleFailed;
    m_resultList->SetItem(item, 1, wxString::FromUTF8(SmartVerdictText(result)));
  }
  m_progress->SetRange(std::max<int>(static_cast<int>(record.rows.size()), 1));
  m_progress->SetValue(static_cast<int>(record.rows.size()));
  FitListToRows(static_cast<int>(record.rows.size()));
  ShowAnswer(SmartAnswerLine(record), record.outcome == RunOutcome::kOk ? kColorGreen : kColorRed);
  SetTitle(GetTitle() + " - recorded run");
}

void CSmartModeDlg::ShowAnswerIfDone() {
  if (!m_readings || !m_answerText.empty()) return;
  std::vector<SmartRowEnd> ended;
  {
    std::lock_guard<std::mutex> hold(m_readings->lock);
    for (const auto& row : m_readings->rows) {
      if (!row) return;
      ended.push_back(*row);
    }
  }
  if (ended.size() != m_speedRows.size()) return;
  const SmartEnd end = JudgeSmartRows(ended, true);
  ShowAnswer(SmartAnswerLine(end.end.outcome, end.end.cause, end.fitSpeed),
             end.end.outcome == RunOutcome::kOk ? kColorGreen : kColorRed);
}

void CSmartModeDlg::ShowAnswer(const std::string& text, uint32_t colour) {
  m_answerText = text;
  m_answerColour = colour;
  m_answer->SetForegroundColour(
      wxColour(colour & 0xFF, (colour >> 8) & 0xFF, (colour >> 16) & 0xFF));
  m_answer->SetLabel(wxString::FromUTF8(text));
  m_answer->Wrap(m_answer->GetSize().x);
  m_answer->SetToolTip(wxString::FromUTF8(text));
}

void CSmartModeDlg::InitResultList() {
  m_resultList->InsertColumn(0, "Speed", wxLIST_FORMAT_LEFT, 60);
  m_resultList->InsertColumn(1, "Result", wxLIST_FORMAT_LEFT, 135);
  m_resultList->SetWindowStyleFlag(m_resultList->GetWindowStyleFlag() | wxLC_HRULES | wxLC_VRULES |
                                   wxLC_SINGLE_SEL);
  // The text background is the whole list's: rows painted in it on a white
  // list would all look selected.
  m_resultList->SetBackgroundColour(wxColour(kResultTextBackground & 0xFF,
                                             (kResultTextBackground >> 8) & 0xFF,
                                             (kResultTextBackground >> 16) & 0xFF));
}

void CSmartModeDlg::ShowDiscInfo() {
  const DiscView view = StoredDiscInfo();
  auto show = [this](int id, const std::optional<std::string>& text) {
    if (text) m_layout.Control(id)->SetLabel(wxString::FromUTF8(*text));
  };
  show(IDC_DISC_TYPE, view.discType);
  show(IDC_MANUFACTURER_ID, view.manufacturerId);
  show(IDC_MEDIA_TYPE_ID, view.mediaTypeId);
  show(IDC_CAPACITY, view.capacity);
}

void CSmartModeDlg::FitListToRows(int rows) {
  if (rows <= 0) return;
  // The header and the rows as the list draws them, plus its border.
  const int header = wxRendererNative::Get().GetHeaderButtonHeight(m_resultList);
  wxRect first;
  const int rowHeight = m_resultList->GetItemRect(0, first) && first.height > 0
                            ? first.height
                            : m_resultList->GetCharHeight() + 6;
  const wxSize outer = m_resultList->GetSize();
  const wxSize inner = m_resultList->GetClientSize();
  const int border = std::max(outer.y - inner.y, 0);
  const int wanted = header + rows * rowHeight + border + 2;
  const int grow = wanted - outer.y;
  if (grow <= 0) return;
  GrowBelowList(grow);
  const wxRect list = m_resultList->GetRect();
  m_resultList->SetSize(list.x, list.y, list.width, list.height + grow);
}

void CSmartModeDlg::GrowBelowList(int grow) {
  const wxRect list = m_resultList->GetRect();
  for (wxWindow* child : GetChildren()) {
    if (child == m_resultList || child->IsTopLevel()) continue;
    const wxRect r = child->GetRect();
    if (r.y >= list.GetBottom()) {
      child->Move(r.x, r.y + grow);
    } else if (r.Contains(list)) {
      child->SetSize(r.x, r.y, r.width, r.height + grow);  // the group box round it
    }
  }
  const wxSize client = GetClientSize();
  SetClientSize(client.x, client.y + grow);
}

std::vector<SpeedCode> CSmartModeDlg::FillSpeedRows() {
  std::vector<SpeedCode> rows = CurrentSpeedRows();
  for (size_t i = 0; i < rows.size(); ++i) {
    m_resultList->InsertItem(static_cast<long>(i), SpeedLabel(rows[i]));
  }
  return rows;
}

void CSmartModeDlg::OnCancel() {
  if (m_pWorkerThread) {
    m_pWorkerThread->RequestStop();
    if (m_pWorkerThread->Finished()) {
      m_pWorkerThread->Join();
      m_pWorkerThread.reset();
    } else if (m_stoppedWorker) {
      m_stoppedWorker(std::move(m_pWorkerThread));
    }
  }
  if (IsModal()) {
    EndModal(wxID_CANCEL);
  } else {
    Hide();
  }
}

void CSmartModeDlg::OnExit(wxCommandEvent&) { OnCancel(); }

void CSmartModeDlg::OnClose(wxCloseEvent&) { OnCancel(); }

void CSmartModeDlg::OnCharHook(wxKeyEvent& event) {
  if (event.GetKeyCode() == WXK_ESCAPE) {
    OnCancel();
    return;
  }
  if (event.GetKeyCode() == WXK_RETURN || event.GetKeyCode() == WXK_NUMPAD_ENTER) {
    if (dynamic_cast<wxButton*>(wxWindow::FindFocus()) == nullptr) return;  // OnOK: nothing
  }
  event.Skip();
}
