// EnumDevices with its instruments examined side by side, through the real
// DLL: every instrument asked exactly what a lone open asks, the list in the
// system's order, the caller's filters run on the caller's thread once every
// instrument is closed again; and the chooser abandoning examinations in
// flight when it is cancelled, with nothing left behind.
#include <gtest/gtest.h>

#include <windows.h>
// windows.h first: the system headers rely on its types.

#include <atomic>
#include <chrono>
#include <functional>
#include <cstdio>
#include <map>
#include <thread>
#include <set>
#include <string>
#include <vector>

#include "chooser_dialog.h"
#include "com_test_util.h"
#include "sim/sim_client.h"

namespace {

using velcorin::sim::SimClient;
using Clock = std::chrono::steady_clock;
using Serials = std::vector<std::string>;
using Request = std::vector<std::uint8_t>;

constexpr double kTransferLimit = 1.0;  // seconds, the component's time limit per read

double SecondsSince(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

std::string Serial(int n) { return velcorin::sim::NumberedSerial("CONC", n); }

// `keys(n)` adds faults to instrument n; every instrument has two channels and a type of its own.
std::string Config(int count, const std::function<std::string(int)>& keys) {
  return velcorin::sim::NumberedInstruments(
      "CONC", count, "channels = 2", [&](int n) { return "type = " + std::to_string(0x3001 + n) + "\n" + keys(n); });
}

std::vector<Request> RequestBytes(const SimClient& sim, const std::string& serial) {
  std::vector<Request> bytes;
  for (const auto& request : sim.RequestsOf(serial)) bytes.push_back(request.bytes);
  return bytes;
}

// Sixteen instruments: every third slow, two failing after a full time limit.
// Each answering one gets exactly the requests a lone OpenDev sends, the list
// is the one an examination one at a time gives, and the examinations overlap.
TEST(ConcurrentEnumeration, EachInstrumentIsAskedWhatALoneOpenAsksInTheSystemsOrder) {
  constexpr int kCount = 16;
  const std::set<int> failing = {4, 11};
  SimClient sim(Config(kCount, [&](int n) -> std::string {
    if (failing.count(n)) return "fail_transfers = 2";
    return n % 3 == 0 ? "delay_ms = 40" : "";
  }));
  auto device = CreateByProgId<_Device>(L"Velcorin.Device");
  const Bstr alonePath(Widened(sim.DevicePath(Serial(1))));
  sim.MarkLog();
  VARIANT_BOOL ok = VARIANT_FALSE;
  ASSERT_EQ(device->OpenDev(alonePath.get(), &ok), S_OK);
  ASSERT_EQ(ok, VARIANT_TRUE);
  device->CloseDev();
  const std::vector<Request> alone = RequestBytes(sim, Serial(1));
  ASSERT_EQ(alone.size(), 8u);  // six identity commands, two channels

  sim.WaitUntilAllFree();
  sim.MarkLog();
  auto found = NewList();
  ASSERT_EQ(device->EnumDevices(found.Get(), NewList().Get(), &ok), S_OK);
  EXPECT_EQ(ok, VARIANT_TRUE);
  Serials answering;
  for (int n = 0; n < kCount; ++n)
    if (!failing.count(n)) answering.push_back(Serial(n));
  EXPECT_EQ(SerialsOf(found.Get()), sim.InSystemOrder(answering));
  for (int n = 0; n < kCount; ++n) {
    if (failing.count(n))
      EXPECT_EQ(sim.RequestsOf(Serial(n)).size(), 6u) << Serial(n);  // all six sent, then left alone
    else
      EXPECT_EQ(RequestBytes(sim, Serial(n)), alone) << Serial(n);
  }
  // A slow instrument's eight exchanges take 320 ms: others are asked meanwhile.
  const auto log = sim.Requests();
  std::map<std::string, std::pair<std::size_t, std::size_t>> span;  // first and last request
  for (std::size_t i = 0; i < log.size(); ++i) {
    auto [at, added] = span.try_emplace(log[i].serial, i, i);
    at->second.second = i;
  }
  const auto& [slowFirst, slowLast] = span.at(Serial(0));
  std::set<std::string> meanwhile;
  for (std::size_t i = slowFirst; i <= slowLast; ++i) meanwhile.insert(log[i].serial);
  EXPECT_GT(meanwhile.size(), 1u);
}

// A caller's filter that enumerates again with the same Device from inside,
// and raises on one device; it notes the thread it is called on.
class ReenteringFilter final : public FakeEnumFilter {
 public:
  ReenteringFilter(_Device* device, ComPtr<_Collection> tokens, int raiseOnCall, std::function<void()> beforeInner)
      : FakeEnumFilter(IncludeDevs, FilterByDeviceId),
        device_(device),
        tokens_(std::move(tokens)),
        raiseOnCall_(raiseOnCall),
        beforeInner_(std::move(beforeInner)) {}
  STDMETHODIMP get_Tokens(_Collection** v) override {
    threads_.insert(GetCurrentThreadId());
    if (++calls_ == raiseOnCall_) return E_OUTOFMEMORY;
    if (calls_ == 1) {
      beforeInner_();
      auto inner = NewList();
      VARIANT_BOOL listed = VARIANT_FALSE;
      innerHr_ = device_->EnumDevices(inner.Get(), NewList().Get(), &listed);
      inner_ = SerialsOf(inner.Get());
    }
    return tokens_.CopyTo(v);
  }

  std::set<DWORD> threads_;
  HRESULT innerHr_ = E_FAIL;
  Serials inner_;

 private:
  _Device* device_;
  ComPtr<_Collection> tokens_;
  int raiseOnCall_;
  std::function<void()> beforeInner_;
  int calls_ = 0;
};

// The filters run once every examination has ended, so an enumeration from
// inside one finds every instrument closed again; a filter's error ends the
// call with what was listed before it, and leaves every instrument free.
TEST(ConcurrentEnumeration, FiltersThatReenterOrRaiseRunOnTheCallersThreadAfterTheExaminations) {
  constexpr int kCount = 6;
  SimClient sim(Config(kCount, [](int) { return std::string("delay_ms = 20"); }));
  Serials all;
  for (int n = 0; n < kCount; ++n) all.push_back(Serial(n));
  const Serials ordered = sim.InSystemOrder(all);
  auto device = CreateByProgId<_Device>(L"Velcorin.Device");
  auto tokens = NewList();
  for (int n = 0; n < kCount; ++n) {
    VARIANT id = I4(0x3001 + n), missing;
    V_VT(&missing) = VT_ERROR, V_ERROR(&missing) = DISP_E_PARAMNOTFOUND;
    tokens->Add(&id, &missing, &missing, &missing);
  }
  for (const int raiseOnCall : {0, 3}) {
    sim.WaitUntilAllFree();
    // The simulator takes a moment to listen again after each close.
    ComPtr<ReenteringFilter> filter(
        new ReenteringFilter(device.Get(), tokens, raiseOnCall, [&] { sim.WaitUntilAllFree(); }));
    auto filters = NewList(), found = NewList();
    VARIANT item;
    V_VT(&item) = VT_DISPATCH, V_DISPATCH(&item) = filter.Get();
    VARIANT missing;
    V_VT(&missing) = VT_ERROR, V_ERROR(&missing) = DISP_E_PARAMNOTFOUND;
    filters->Add(&item, &missing, &missing, &missing);
    VARIANT_BOOL listed = VARIANT_FALSE;
    const HRESULT hr = device->EnumDevices(found.Get(), filters.Get(), &listed);
    EXPECT_EQ(filter->threads_, std::set<DWORD>{GetCurrentThreadId()});
    EXPECT_EQ(filter->innerHr_, S_OK);
    EXPECT_EQ(filter->inner_, ordered);
    if (raiseOnCall) {
      EXPECT_TRUE(FAILED(hr));
      EXPECT_EQ(SerialsOf(found.Get()), Serials(ordered.begin(), ordered.begin() + raiseOnCall - 1));
    } else {
      EXPECT_EQ(hr, S_OK);
      EXPECT_EQ(SerialsOf(found.Get()), ordered);
    }
    TakeErrorInfo();
  }
  // Nothing is left open: each instrument opens for a Device of its own.
  for (int n = 0; n < kCount; ++n) {
    ASSERT_TRUE(sim.WaitUntilFree(Serial(n), 2000)) << Serial(n);
    auto other = CreateByProgId<_Device>(L"Velcorin.Device");
    const Bstr path(Widened(sim.DevicePath(Serial(n))));
    VARIANT_BOOL opened = VARIANT_FALSE;
    EXPECT_EQ(other->OpenDev(path.get(), &opened), S_OK);
    EXPECT_EQ(opened, VARIANT_TRUE) << Serial(n);
  }
}

// Cancel, Esc and the close box end the dialog while a silent instrument is
// being examined, long before its six time limits are out; afterwards the
// abandoned examinations' threads and handles are gone and the instrument free.
TEST(ConcurrentEnumeration, TheChooserCancelledDuringASilentExaminationLeavesNothingBehind) {
  const std::string silent = Serial(1);
  SimClient sim(Config(3, [](int n) { return std::string(n == 1 ? "silent = yes" : ""); }));
  auto chooser = CreateByProgId<_Chooser>(L"Velcorin.Chooser");
  ASSERT_TRUE(chooser);
  const HMODULE dll = GetModuleHandleW(VELCORIN_DLL_NAME);
  ASSERT_TRUE(dll);
  // Each way gets ready first (finding the close box takes a while), then acts.
  struct Way {
    const char* name;
    std::function<std::function<bool()>(const Dialog&)> ready;
  };
  const Way ways[] = {
      {"the close box",
       [](const Dialog& d) {
         const POINT box = CloseBox(d.window);
         return [box] { return ClickAt(box); };
       }},
      {"Esc", [](const Dialog&) { return [] { return Xdo("key Escape"); }; }},
      {"Cancel",
       [](const Dialog& d) { return [cancel = d.cancel] { return SendMessageW(cancel, BM_CLICK, 0, 0) == 0; }; }},
  };
  DWORD handlesAfterFirst = 0;
  for (const Way& way : ways) {
    sim.WaitUntilFree(silent, 3 * 1000);
    sim.MarkLog();
    double closedAfter = -1, afterInput = -1;
    DialogDriver driver(
        [&](const Dialog& d) {
          ASSERT_TRUE(WaitFor([&] { return !sim.RequestsOf(silent).empty(); }));
          const auto cancel = way.ready(d);
          EXPECT_TRUE(Searching(d));
          EXPECT_GT(ThreadsStartedIn(dll), 0u);
          const auto start = Clock::now();
          ASSERT_TRUE(cancel());
          const auto delivered = Clock::now();  // xdotool has sent its input
          EXPECT_TRUE(WaitFor([&] { return !IsWindow(d.window); }, 5000));
          closedAfter = SecondsSince(start), afterInput = SecondsSince(delivered);
        },
        false);
    VARIANT_BOOL selected = VARIANT_TRUE;
    EXPECT_EQ(chooser->ShowDialog(&selected), S_OK);
    driver.Join();
    ASSERT_TRUE(driver.SawDialog());
    EXPECT_EQ(selected, VARIANT_FALSE) << way.name;
    EXPECT_GE(closedAfter, 0) << way.name;
    // Well inside the silent instrument's first time limit, let alone its six.
    EXPECT_LT(closedAfter, kTransferLimit) << way.name;
    printf("[ figure ] dialog closed by %s during a silent examination: %.3f s, %.3f s after the input was sent\n",
           way.name, closedAfter, afterInput);
    // The abandoned examination ends at once: its worker is gone and the instrument free.
    EXPECT_TRUE(WaitFor([&] { return ThreadsStartedIn(dll) == 0; }, 5000)) << way.name;
    EXPECT_TRUE(sim.WaitUntilFree(silent, 2000)) << way.name;
    EXPECT_LT(sim.RequestsOf(silent).size(), 6u) << way.name;   // abandoned, not waited out
    if (!handlesAfterFirst) handlesAfterFirst = OpenHandles();  // the first dialog loads what later ones reuse
  }
  EXPECT_TRUE(WaitFor([&] { return OpenHandles() <= handlesAfterFirst + 2; }, 5000))
      << OpenHandles() << " handles, " << handlesAfterFirst << " after the first dialog";
}

// A window of the calling thread that notes what reaches it while the caller
// waits, painting as `paint` says.
enum class Paint { Validates, NeverValidates, Animates };

struct CallerWindow {
  explicit CallerWindow(Paint how) : paint(how) {
    WNDCLASSW type{};
    type.lpfnWndProc = Procedure;
    type.hInstance = GetModuleHandleW(nullptr);
    type.lpszClassName = L"VelcorinWaitProbe";
    RegisterClassW(&type);  // the second time it exists already
    window = CreateWindowExW(0, type.lpszClassName, L"probe", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 200, 100, nullptr,
                             nullptr, type.hInstance, nullptr);
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    ValidateRect(window, nullptr);
  }
  ~CallerWindow() { DestroyWindow(window); }

  static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM w, LPARAM l) {
    auto* self = reinterpret_cast<CallerWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (!self) return DefWindowProcW(window, message, w, l);
    if (message == kSentMessage) self->sentDuringWait |= self->waiting, self->sentSeen = true;
    if (message != WM_PAINT) return DefWindowProcW(window, message, w, l);
    self->paints += self->waiting ? 1 : 0;
    if (self->paint == Paint::NeverValidates) return 0;
    PAINTSTRUCT ps;
    EndPaint(window, (BeginPaint(window, &ps), &ps));
    if (self->paint == Paint::Animates) InvalidateRect(window, nullptr, FALSE);
    return 0;
  }

  static constexpr UINT kSentMessage = WM_APP + 3;
  std::atomic<Paint> paint;
  HWND window = nullptr;
  bool waiting = false, sentDuringWait = false, sentSeen = false;
  int paints = 0;
};

// Makes a window that asks for paint forever valid again after a while, so that
// a wait that never returns to its handles fails the test instead of hanging it.
class PaintStormBreaker {
 public:
  explicit PaintStormBreaker(HWND window)
      : thread_([this, window] {
          broke_ = WaitForSingleObject(done_, 20 * 1000) == WAIT_TIMEOUT;
          if (broke_) SetWindowLongPtrW(window, GWLP_USERDATA, 0);
          if (broke_) ValidateRect(window, nullptr);
        }) {}
  ~PaintStormBreaker() {
    Broke();
    CloseHandle(done_);
  }
  bool Broke() {
    SetEvent(done_);
    if (thread_.joinable()) thread_.join();
    return broke_;
  }

 private:
  HANDLE done_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  bool broke_ = false;
  std::thread thread_;
};

// While EnumDevices waits, another thread sends the caller's window a message
// and invalidates it: the window is painted, the message waits for the return.
// A window that never validates, or one that animates, costs polls, not the return.
TEST(ConcurrentEnumeration, TheCallersWindowsArePaintedAndNothingElseReachesThem) {
  SimClient sim(Config(3, [](int n) { return std::string(n == 1 ? "delay_ms = 250" : ""); }));
  auto device = CreateByProgId<_Device>(L"Velcorin.Device");
  for (const Paint paint : {Paint::Validates, Paint::NeverValidates, Paint::Animates}) {
    SCOPED_TRACE(static_cast<int>(paint));
    sim.WaitUntilAllFree();
    CallerWindow probe(paint);
    PaintStormBreaker breaker(probe.window);
    InvalidateRect(probe.window, nullptr, FALSE);
    std::vector<std::thread> others;
    if (paint == Paint::Validates) {
      others.emplace_back(
          [window = probe.window] { Sleep(100), SendMessageW(window, CallerWindow::kSentMessage, 0, 0); });
      others.emplace_back([window = probe.window] { Sleep(300), InvalidateRect(window, nullptr, FALSE); });
    }
    auto found = NewList();
    VARIANT_BOOL ok = VARIANT_FALSE;
    probe.waiting = true;
    const auto start = Clock::now();
    EXPECT_EQ(device->EnumDevices(found.Get(), NewList().Get(), &ok), S_OK);
    const double took = SecondsSince(start);
    probe.waiting = false;
    EXPECT_FALSE(breaker.Broke()) << "the wait never went back to its handles";
    EXPECT_EQ(CountOf(found.Get()), 3);
    EXPECT_GT(probe.paints, 0);
    // One paint per poll at most, not a spin.
    EXPECT_LT(probe.paints, 3 + static_cast<int>(took * 1000 / 50) * 2);
    if (others.empty()) continue;
    EXPECT_FALSE(probe.sentDuringWait);
    EXPECT_TRUE(WaitFor([&] {
      MSG message;
      PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE);  // lets the sent message in
      return probe.sentSeen;
    }));
    for (std::thread& other : others) other.join();
  }
}

// The dialog's fill waits for its examiners the same way: a window of the
// caller's that starts asking for paint without end during the fill does not
// keep the tree empty. (Before the dialog shows, such a window would keep the
// system's modal loop from ever finding its queue empty, and so from showing it.)
TEST(ConcurrentEnumeration, TheChoosersFillEndsBesideAWindowThatNeverValidates) {
  SimClient sim(Config(2, [](int n) { return std::string(n == 1 ? "delay_ms = 250" : ""); }));
  auto chooser = CreateByProgId<_Chooser>(L"Velcorin.Chooser");
  ASSERT_TRUE(chooser);
  CallerWindow probe(Paint::Validates);
  PaintStormBreaker breaker(probe.window);
  bool filled = false;
  DialogDriver driver(
      [&](const Dialog& d) {
        probe.paint = Paint::NeverValidates;
        InvalidateRect(probe.window, nullptr, FALSE);
        filled = WaitUntilFilled(d, 10000) && FindNode(TreeNodes(d.tree), L"M-CONC01");
        probe.paint = Paint::Validates;
      },
      false);
  VARIANT_BOOL selected = VARIANT_TRUE;
  EXPECT_EQ(chooser->ShowDialog(&selected), S_OK);
  driver.Join();
  EXPECT_FALSE(breaker.Broke()) << "the fill never went back to its handles";
  EXPECT_TRUE(driver.SawDialog());
  EXPECT_TRUE(filled);
}

}  // namespace
