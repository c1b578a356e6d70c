// The examinations of one enumeration, run on worker threads: each instrument
// through a handle of its own, up to kMaxConcurrentExaminations at once, with
// exactly the exchanges a lone examination makes.
#pragma once

#include <windows.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Velcorin_h.h"
#include "common/com_object.h"
#include "common/owners.h"
#include "common/waits.h"

namespace velcorin {

// What an examination leaves for the enumeration's own thread: the record to
// list, made there. Empty for an instrument that is not listed.
using ListingRecord = std::function<ComPtr<_DevInfo>()>;

// What one examination works with: the instrument's device path, the event
// that abandons it (once signalled, give up waiting), and how to wait.
struct Examination {
  const std::u16string& path;
  HANDLE abandoned;
  WaitForAny wait;
};

// Examines one instrument; touches no object of the caller's.
using ExamineInstrument = std::function<ListingRecord(const Examination& examination)>;

// Whether the thread that awaits the examinations is one of the examiners:
// one thread fewer to start, none at all for a single instrument.
enum class AwaitingThread { OnlyWaits, ExaminesToo };

class Examiners {
 public:
  // Starts examining every path; `complete` runs once, on the thread that ends
  // the last examination (at once, on this thread, when there is none).
  Examiners(std::vector<std::u16string> paths, ExamineInstrument examine, std::function<void()> complete,
            AwaitingThread awaiting);
  // Abandons what is still in flight: no further instrument is opened, the
  // transfers waiting are cancelled, and the workers close their handles and
  // end on their own.
  ~Examiners();
  Examiners(const Examiners&) = delete;
  Examiners& operator=(const Examiners&) = delete;

  bool Complete() const;
  // Examines along when the caller does, and waits for every examination to
  // end, keeping this thread's windows painted and doing nothing else; then
  // the records in listing order.
  std::vector<ListingRecord> Await();

 private:
  struct Shared;
  static DWORD WINAPI Work(void* shared);

  std::shared_ptr<Shared> shared_;
  std::vector<UniqueKernelHandle> workers_;
  AwaitingThread awaiting_;
};

}  // namespace velcorin
