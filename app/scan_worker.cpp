#include "app/scan_worker.h"

#include "app/graph_scan_chart.h"
#include "session/output_file.h"

namespace {

// One verdict box: the worker waits until it was closed or the run was
// cancelled.
class VerdictWait {
 public:
  void Done() { Set(&m_done); }
  void Cancel() { Set(&m_cancelled); }
  void Await() {
    std::unique_lock<std::mutex> hold(m_lock);
    m_changed.wait(hold, [this] { return m_done || m_cancelled; });
  }

 private:
  void Set(bool* flag) {
    {
      std::lock_guard<std::mutex> hold(m_lock);
      *flag = true;
    }
    m_changed.notify_all();
  }
  std::mutex m_lock;
  std::condition_variable m_changed;
  bool m_done = false;
  bool m_cancelled = false;
};

// What the posted calls share with the sink. They may run after the worker
// has gone, so they hold this and not the sink; once cancelled they do
// nothing.
struct SinkState {
  explicit SinkState(ScanWindow& w) : window(w) {}
  ScanWindow& window;
  std::mutex lock;
  bool cancelled = false;
  std::shared_ptr<VerdictWait> pending;

  bool Cancelled() {
    std::lock_guard<std::mutex> hold(lock);
    return cancelled;
  }
};

}  // namespace

class CScanWorker::Sink : public ScanSink {
 public:
  Sink(ScanWindow& window, UiPost post)
      : m_state(std::make_shared<SinkState>(window)), m_post(std::move(post)) {}

  void SetScanning(bool scanning) override { m_state->window.SetScanning(scanning); }
  void LogOpenFailed() override {
    Post([](ScanWindow& w) { w.ShowLogOpenFailed(); });
  }
  void LogWriteFailed(int) override {
    Post([](ScanWindow& w) { w.ShowLogWriteFailed(); });
  }
  void RunStarted() override {
    Post([](ScanWindow& w) { w.ShowRunStarted(); });
  }
  void Elapsed(long seconds) override {
    Post([seconds](ScanWindow& w) { w.ShowElapsed(seconds); });
  }
  void Sampled(int32_t lba, uint16_t te, uint16_t fe) override {
    Post([lba, te, fe](ScanWindow& w) { w.ShowSample(lba, te, fe); });
  }
  void SampleFailed(const RunEnd& end) override {
    PostAndWait([end](ScanWindow& w) { w.ShowSampleFailure(end); });
  }
  void SampleFailureEnded(const RunEnd& end) override {
    Post([end](ScanWindow& w) { w.ShowSampleFailureEnded(end); });
  }
  void Finished() override {
    Post([](ScanWindow& w) { w.ShowFinished(); });
  }

  void Verdict(ScanVerdict verdict) override {
    PostAndWait([verdict](ScanWindow& w) { w.ShowVerdict(verdict); });
  }

  // Releases a worker waiting on the verdict box; no posted update runs
  // after this.
  void Cancel() {
    std::shared_ptr<VerdictWait> pending;
    {
      std::lock_guard<std::mutex> hold(m_state->lock);
      m_state->cancelled = true;
      pending = m_state->pending;
    }
    if (pending) pending->Cancel();
  }

 private:
  // For a modal box: the worker waits until it was closed or the run was
  // cancelled.
  template <typename F>
  void PostAndWait(F show) {
    auto shown = std::make_shared<VerdictWait>();
    {
      std::lock_guard<std::mutex> hold(m_state->lock);
      if (m_state->cancelled) return;
      m_state->pending = shown;
    }
    m_post([state = m_state, shown, show] {
      if (!state->Cancelled()) show(state->window);
      shown->Done();
    });
    shown->Await();
  }

  template <typename F>
  void Post(F update) {
    m_post([state = m_state, update] {
      if (!state->Cancelled()) update(state->window);
    });
  }

  std::shared_ptr<SinkState> m_state;
  UiPost m_post;
};

CScanWorker::CScanWorker(ScanSettings& settings, CGraphCtrl& graph, ScanWindow& window, UiPost post,
                         std::string logPath)
    : m_chart(std::make_unique<CGraphScanChart>(graph)),
      m_sink(std::make_unique<Sink>(window, std::move(post))),
      m_run(settings, *m_chart, *m_sink, OutputStreamOpener(logPath)) {}

CScanWorker::~CScanWorker() {
  RequestStop();
  Join();
}

void CScanWorker::Start() {
  m_thread = std::thread([this] {
    m_run.Run();
    LetGo();
  });
}

void CScanWorker::HoldUntilDone(std::shared_ptr<void> held) {
  std::lock_guard<std::mutex> hold(m_heldLock);
  m_held = std::move(held);
}

void CScanWorker::LetGo() {
  std::shared_ptr<void> held;
  {
    std::lock_guard<std::mutex> hold(m_heldLock);
    held = std::move(m_held);
  }
}

void CScanWorker::RequestStop() {
  m_run.RequestStop();
  m_sink->Cancel();
  LetGo();
}

void CScanWorker::Join() {
  if (m_thread.joinable()) m_thread.join();
}
