#include "discovery/examiners.h"

#include <utility>

#include "common/error_info.h"
#include "discovery/core/examination_queue.h"

namespace velcorin {

struct Examiners::Shared {
  Shared(std::vector<std::u16string> instrumentPaths, ExamineInstrument examineOne, std::function<void()> done)
      : paths(std::move(instrumentPaths)),
        examine(std::move(examineOne)),
        complete(std::move(done)),
        queue(paths.size()),
        abandoned(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}

  void Run(WaitForAny wait) {
    RunExaminer(
        queue,
        [this, wait](std::size_t index) {
          return examine(Examination{paths[index], abandoned.get(), wait});
        },
        [this] { complete(); });
  }

  const std::vector<std::u16string> paths;
  const ExamineInstrument examine;
  const std::function<void()> complete;
  ExaminationQueue<ListingRecord> queue;
  const UniqueKernelHandle abandoned;  // manual reset: every worker sees it
};

Examiners::Examiners(std::vector<std::u16string> paths, ExamineInstrument examine, std::function<void()> complete,
                     AwaitingThread awaiting)
    : shared_(std::make_shared<Shared>(std::move(paths), std::move(examine),
                                       complete ? std::move(complete) : std::function<void()>([] {}))),
      awaiting_(awaiting) {
  if (!shared_->abandoned) throw ComError{HRESULT_FROM_WIN32(GetLastError())};
  if (shared_->paths.empty()) {
    shared_->complete();
    return;
  }
  const bool awaiterExamines = awaiting == AwaitingThread::ExaminesToo;
  const std::size_t workers = ExaminerCount(shared_->paths.size()) - (awaiterExamines ? 1 : 0);
  for (std::size_t i = 0; i < workers; ++i) {
    auto share = std::make_unique<std::shared_ptr<Shared>>(shared_);
    UniqueKernelHandle worker(CreateThread(nullptr, 0, &Work, share.get(), 0, nullptr));
    if (!worker) break;
    static_cast<void>(share.release());  // the worker's now
    workers_.push_back(std::move(worker));
  }
  // No thread to be had: one after another, here.
  if (workers_.empty() && !awaiterExamines) shared_->Run(WaitForAnyObject);
}

Examiners::~Examiners() {
  shared_->queue.Abandon();
  SetEvent(shared_->abandoned.get());
}

DWORD WINAPI Examiners::Work(void* share) {
  const std::unique_ptr<std::shared_ptr<Shared>> shared(static_cast<std::shared_ptr<Shared>*>(share));
  try {
    (*shared)->Run(WaitForAnyObject);
  } catch (...) {
  }
  return 0;
}

bool Examiners::Complete() const { return shared_->queue.Complete(); }

std::vector<ListingRecord> Examiners::Await() {
  if (awaiting_ == AwaitingThread::ExaminesToo) shared_->Run(WaitForAnyKeepingWindowsPainted);
  for (const UniqueKernelHandle& worker : workers_) {
    const HANDLE thread = worker.get();
    WaitForAnyKeepingWindowsPainted(1, &thread, INFINITE);
  }
  return shared_->queue.TakeOutcomes();
}

}  // namespace velcorin
