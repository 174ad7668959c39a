// How long the History window takes to open on the history in
// $XDG_DATA_HOME (bench/history_scale.sh fills one), or on the lab history
// VELMO_HISTORY names: from its making to the first rows drawn, and the
// rows' count. Run under a display (xvfb-run).
#include <wx/app.h>
#include <wx/evtloop.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "app/history_dlg.h"
#include "app/user_prompts.h"

namespace {

class CBenchApp : public wxApp {
 public:
  bool OnInit() override {
    const auto start = std::chrono::steady_clock::now();
    const char* lab = std::getenv("VELMO_HISTORY");
    auto* history = new CHistoryDlg(
        nullptr, m_prompts, lab != nullptr ? lab : "", [](const ScanRecord&, const std::string&) {},
        [](const std::vector<ScanRecord>&) {});
    std::string error;
    if (!history->Reload(&error)) std::fprintf(stderr, "%s\n", error.c_str());
    if (!history->Where().empty()) std::fprintf(stderr, "%s\n", history->Where().c_str());
    history->Show();
    // Shown and painted: the rows in view fetched and drawn.
    while (!history->IsShownOnScreen() || wxTheApp->Pending()) {
      wxTheApp->Dispatch();
      wxTheApp->ProcessIdle();
    }
    history->List()->Update();
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::steady_clock::now() - start)
                        .count();
    std::printf("%lld ms, %d rows, first \"%s\"\n", static_cast<long long>(ms),
                history->List()->GetItemCount(),
                history->List()->GetItemText(0, 1).utf8_string().c_str());
    history->Destroy();
    return false;
  }

 private:
  CWxPrompts m_prompts;
};

}  // namespace

wxIMPLEMENT_APP_NO_MAIN(CBenchApp);

int main(int argc, char** argv) { return wxEntry(argc, argv); }
