// EnumDevices: lists the attached instruments of the family, each identified
// by the device layer, narrowed by the caller's filters.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "Velcorin_h.h"
#include "discovery/examiners.h"

namespace velcorin {

// One enumeration: the system's list walked, its instruments examined
// concurrently on worker threads, then the records passed through the
// caller's filters, on the caller's thread and in the system's order.
class Enumeration {
 public:
  // Walks the system's list and starts examining what it holds on worker
  // threads; `examined` runs once the examinations have ended (on a worker
  // thread, or at once), and the caller finishes when it likes.
  static std::unique_ptr<Enumeration> StartInBackground(const ExamineInstrument& examine,
                                                        std::function<void()> examined);
  // The same for a caller that goes on to Finish at once: it examines along.
  static std::unique_ptr<Enumeration> StartWithCaller(const ExamineInstrument& examine);

  // Whether Finish would find every examination ended.
  bool Examined() const { return !examiners_ || examiners_->Complete(); }

  // Waits for the examinations, keeping this thread's windows painted; then
  // appends the DevInfo of every instrument that answered and passes the
  // filters, in the system's order. False when the system refused the list.
  bool Finish(_Collection* outList, _Collection* filter);

 private:
  static std::unique_ptr<Enumeration> Start(const ExamineInstrument& examine, std::function<void()> examined,
                                            AwaitingThread awaiting);

  std::optional<Examiners> examiners_;  // none when the system refused the list
};

// Empties outList, then an Enumeration from start to finish. Instruments that
// cannot be opened or identified are left out.
bool EnumerateDevices(_Collection* outList, _Collection* filter, const ExamineInstrument& examine);

}  // namespace velcorin
