#include "discovery/examiners.h"

#include <utility>

#include "common/error_info.h"
#include "discovery/core/examination_queue.h"

namespace velcorin {

namespace {

// When a wake-up for painting finds nothing to paint, the wait goes on by
// polling rather than spinning on a paint state it cannot clear.
constexpr DWORD kPaintlessPollMs = 50;

// Only WM_PAINT is dispatched: input and posted messages stay queued, and a
// call into this apartment waits, so no code of the caller's runs meanwhile.
void WaitKeepingWindowsPainted(HANDLE object) {
  while (MsgWaitForMultipleObjectsEx(1, &object, INFINITE, QS_PAINT, 0) == WAIT_OBJECT_0 + 1) {
    bool painted = false;
    MSG message;
    while (PeekMessageW(&message, nullptr, WM_PAINT, WM_PAINT, PM_REMOVE | PM_QS_PAINT)) {
      DispatchMessageW(&message);
      painted = true;
    }
    if (!painted && WaitForSingleObject(object, kPaintlessPollMs) != WAIT_TIMEOUT) return;
  }
}

}  // namespace

struct Examiners::Shared {
  Shared(std::vector<std::u16string> instrumentPaths, ExamineInstrument examineOne, std::function<void()> done)
      : paths(std::move(instrumentPaths)),
        examine(std::move(examineOne)),
        complete(std::move(done)),
        queue(paths.size()),
        abandoned(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}

  void Run() {
    RunExaminer(
        queue, [this](std::size_t index) { return examine(paths[index], abandoned.get()); },
        [this] { complete(); });
  }

  const std::vector<std::u16string> paths;
  const ExamineInstrument examine;
  const std::function<void()> complete;
  ExaminationQueue<ListingRecord> queue;
  const UniqueKernelHandle abandoned;  // manual reset: every worker sees it
};

Examiners::Examiners(std::vector<std::u16string> paths, ExamineInstrument examine, std::function<void()> complete)
    : shared_(std::make_shared<Shared>(std::move(paths), std::move(examine),
                                       complete ? std::move(complete) : std::function<void()>([] {}))) {
  if (!shared_->abandoned) throw ComError{HRESULT_FROM_WIN32(GetLastError())};
  if (shared_->paths.empty()) {
    shared_->complete();
    return;
  }
  for (std::size_t i = 0; i < ExaminerCount(shared_->paths.size()); ++i) {
    auto share = std::make_unique<std::shared_ptr<Shared>>(shared_);
    UniqueKernelHandle worker(CreateThread(nullptr, 0, &Work, share.get(), 0, nullptr));
    if (!worker) break;
    share.release();  // the worker's now
    workers_.push_back(std::move(worker));
  }
  if (workers_.empty()) shared_->Run();  // no thread to be had: one after another, here
}

Examiners::~Examiners() {
  shared_->queue.Abandon();
  SetEvent(shared_->abandoned.get());
}

DWORD WINAPI Examiners::Work(void* share) {
  const std::unique_ptr<std::shared_ptr<Shared>> shared(static_cast<std::shared_ptr<Shared>*>(share));
  try {
    (*shared)->Run();
  } catch (...) {
  }
  return 0;
}

bool Examiners::Complete() const { return shared_->queue.Complete(); }

std::vector<ListingRecord> Examiners::Await() {
  for (const UniqueKernelHandle& worker : workers_) WaitKeepingWindowsPainted(worker.get());
  return shared_->queue.TakeOutcomes();
}

}  // namespace velcorin
