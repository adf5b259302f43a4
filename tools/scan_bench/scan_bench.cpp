// scan_bench: runs the real auto-detect dialog over a whole block of 256 addresses
// against a substitute server that answers at once, and prints the wall time of each
// scan, the longest gap between two probes (also less the server's answers within it,
// which the dialog cannot shorten) and the dialog's handling of its ticks over the first
// and the last 32 probes, then whether the targets were met. Probes are timed where the
// dialog sends them, through a wrapper around the server channel. A bare 10 ms timer that
// probes the same server runs before each scan: the gaps this machine gives with no dialog.
#include <windows.h>
// after windows.h
#include <commctrl.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "config/core/server_messages.h"
#include "config/core/win32_server_channel.h"
#include "config/resources/resource.h"
#include "config/ui/win32_auto_detect_dialog.h"
#include "tests/wine/support/substitute_server.h"

namespace orvel::bench {
namespace {

constexpr int kRuns = 5;
constexpr double kWallTargetMs = 3200;
constexpr double kGapTargetMs = 20;
constexpr std::size_t kEdgeProbes = 32;  // the first and the last probes whose ticks are timed
constexpr std::uint32_t kBlockStart = 0x0A010200;  // 10.1.2.0, stop octet 255: 256 addresses

double Now() {
  static const double frequency = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return static_cast<double>(f.QuadPart);
  }();
  LARGE_INTEGER counter;
  QueryPerformanceCounter(&counter);
  return static_cast<double>(counter.QuadPart) * 1000.0 / frequency;  // milliseconds
}

// The real channel, with the moment of every probe noted.
class TimedChannel : public ServerChannel {
 public:
  explicit TimedChannel(ServerChannel& inner) : inner_(inner) {}
  bool Find() override { return inner_.Find(); }
  bool Present() const override { return inner_.Present(); }
  std::uint32_t Send(std::uint32_t message, std::uint32_t wParam, std::uint32_t lParam) override {
    const double sent = Now();
    if (message == SRVM_PROBE_ADDRESS) {
      probes_.push_back(sent);
      serverMsBeforeProbe_.push_back(serverMs_);
    }
    const std::uint32_t answer = inner_.Send(message, wParam, lParam);
    const double took = Now() - sent;
    serverMs_ += took;
    if (message == SRVM_PROBE_ADDRESS) longestAnswerMs_ = std::max(longestAnswerMs_, took);
    return answer;
  }
  const std::vector<double>& probes() const { return probes_; }
  // Time spent waiting for any answer of the server, up to each probe.
  const std::vector<double>& serverMsBeforeProbe() const { return serverMsBeforeProbe_; }
  double longestAnswerMs() const { return longestAnswerMs_; }

 private:
  ServerChannel& inner_;
  std::vector<double> probes_;
  std::vector<double> serverMsBeforeProbe_;
  double serverMs_ = 0;
  double longestAnswerMs_ = 0;
};

struct RunFigures {
  bool ok = false;
  double wallMs = 0;
  std::size_t probes = 0;
  double longestGapMs = 0;
  std::size_t longestGapBefore = 0;  // the probe that came late
  double medianGapMs = 0;
  double longestAnswerMs = 0;  // the server's part of the longest probe
  // The longest gap less the server's answers within it: the part the dialog spent.
  double longestDialogGapMs = 0;
  double longestTickMs = 0;  // the dialog's handling of one timer message
  double meanTickMs = 0;
  // The handling of the ticks that sent the first and the last probes.
  double firstMeanTickMs = 0, firstLongestTickMs = 0;
  double lastMeanTickMs = 0, lastLongestTickMs = 0;
};

// The dialog's own handling of its timer messages, timed by a subclass.
struct TickTiming {
  WNDPROC previous = nullptr;
  const std::vector<double>* probes = nullptr;
  double longestMs = 0;
  double totalMs = 0;
  int ticks = 0;
  std::vector<double> probeTickMs;  // per probe, the handling of the tick that sent it
  HWND start = nullptr;             // the dialog's Start button, enabled again when the scan ends
  double ended = 0;
  HANDLE endedEvent = nullptr;
};
TickTiming* g_tickTiming = nullptr;  // one dialog at a time, on the UI thread

LRESULT CALLBACK TimedDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  TickTiming& timing = *g_tickTiming;
  if (message != WM_TIMER) {
    const LRESULT result = CallWindowProcA(timing.previous, window, message, wParam, lParam);
    // The scan ends on a message of its own; noting it here spares the driver thread a
    // polling loop that would wake beside the dialog every millisecond.
    if (!timing.ended && !timing.probes->empty() && IsWindowEnabled(timing.start)) {
      timing.ended = Now();
      SetEvent(timing.endedEvent);
      PostMessageA(window, WM_COMMAND, IDCANCEL, 0);
    }
    return result;
  }
  const std::size_t probesBefore = timing.probes->size();
  const double begun = Now();
  const LRESULT result = CallWindowProcA(timing.previous, window, message, wParam, lParam);
  const double took = Now() - begun;
  if (timing.probes->size() > probesBefore) timing.probeTickMs.push_back(took);
  timing.longestMs = std::max(timing.longestMs, took);
  timing.totalMs += took;
  ++timing.ticks;
  return result;
}

BOOL CALLBACK FindAutoDetect(HWND window, LPARAM result) {
  if (GetDlgItem(window, IDC_AD_RESULTS) && IsWindowVisible(window)) {
    *reinterpret_cast<HWND*>(result) = window;
    return FALSE;
  }
  return TRUE;
}

// One dialog, one scan: Start is pressed from a second thread, which waits until the
// dialog has ended the scan (Start enabled again) and then cancels the dialog.
RunFigures RunOnce(ServerChannel& server) {
  TimedChannel timed(server);
  ui::CAutoDetectDlg::Handover handover;
  handover.scanStartAddress = kBlockStart;
  handover.scanStopOctet = 255;
  handover.server = &timed;
  for (int slot = 0; slot < kSlotCount; ++slot) handover.entries[slot] = DefaultDeviceEntry(slot);
  ui::CAutoDetectDlg dialog(GetModuleHandleA(nullptr), std::move(handover));

  RunFigures figures;
  TickTiming tickTiming;
  tickTiming.probes = &timed.probes();
  g_tickTiming = &tickTiming;
  double started = 0;
  tickTiming.endedEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  const DWORD uiThread = GetCurrentThreadId();
  std::thread driver([&] {
    HWND window = nullptr;
    for (int i = 0; i < 2000 && !window; ++i) {
      EnumThreadWindows(uiThread, FindAutoDetect, reinterpret_cast<LPARAM>(&window));
      if (!window) Sleep(5);
    }
    if (!window) return;
    tickTiming.start = GetDlgItem(window, IDC_AD_START);
    tickTiming.previous = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&TimedDialogProc)));
    started = Now();
    PostMessageA(window, WM_COMMAND, MAKEWPARAM(IDC_AD_START, BN_CLICKED),
                 reinterpret_cast<LPARAM>(tickTiming.start));
    // A scan that never ends still closes the dialog, and the run counts as unfinished.
    if (WaitForSingleObject(tickTiming.endedEvent, 30000) != WAIT_OBJECT_0)
      PostMessageA(window, WM_COMMAND, IDCANCEL, 0);
  });
  dialog.DoModal(nullptr);
  driver.join();
  CloseHandle(tickTiming.endedEvent);

  const std::vector<double>& probes = timed.probes();
  figures.ok = tickTiming.ended != 0;
  figures.wallMs = tickTiming.ended - started;
  figures.probes = probes.size();
  std::vector<double> gaps;
  const std::vector<double>& serverMs = timed.serverMsBeforeProbe();
  for (std::size_t i = 1; i < probes.size(); ++i) {
    gaps.push_back(probes[i] - probes[i - 1]);
    if (gaps.back() > figures.longestGapMs) {
      figures.longestGapMs = gaps.back();
      figures.longestGapBefore = i;
    }
    figures.longestDialogGapMs =
        std::max(figures.longestDialogGapMs, gaps.back() - (serverMs[i] - serverMs[i - 1]));
  }
  if (!gaps.empty()) {
    std::sort(gaps.begin(), gaps.end());
    figures.medianGapMs = gaps[gaps.size() / 2];
  }
  figures.longestAnswerMs = timed.longestAnswerMs();
  figures.longestTickMs = tickTiming.longestMs;
  figures.meanTickMs = tickTiming.ticks ? tickTiming.totalMs / tickTiming.ticks : 0;
  const std::vector<double>& perProbe = tickTiming.probeTickMs;
  auto edge = [&](std::size_t from, double& mean, double& longest) {
    const std::size_t to = std::min(perProbe.size(), from + kEdgeProbes);
    for (std::size_t i = from; i < to; ++i) {
      mean += perProbe[i];
      longest = std::max(longest, perProbe[i]);
    }
    if (to > from) mean /= static_cast<double>(to - from);
  };
  edge(0, figures.firstMeanTickMs, figures.firstLongestTickMs);
  edge(perProbe.size() > kEdgeProbes ? perProbe.size() - kEdgeProbes : 0, figures.lastMeanTickMs,
       figures.lastLongestTickMs);
  g_tickTiming = nullptr;
  return figures;
}

struct BaselineState {
  ServerChannel* channel;
  std::uint32_t next;
};

LRESULT CALLBACK BaselineProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* state = reinterpret_cast<BaselineState*>(GetWindowLongPtrA(window, GWLP_USERDATA));
  if (message != WM_TIMER || !state) return DefWindowProcA(window, message, wParam, lParam);
  state->channel->Send(SRVM_PROBE_ADDRESS, state->next - kBlockStart, state->next);
  if (++state->next > kBlockStart + 255) {
    KillTimer(window, 1);
    PostQuitMessage(0);
  }
  return 0;
}

// The floor this machine sets: a bare window whose 10 ms timer sends one probe a tick,
// with no dialog, list or painting.
RunFigures RunBaseline(ServerChannel& server) {
  TimedChannel timed(server);
  BaselineState state{&timed, kBlockStart};
  WNDCLASSA windowClass{};
  windowClass.lpfnWndProc = BaselineProc;
  windowClass.hInstance = GetModuleHandleA(nullptr);
  windowClass.lpszClassName = "orvel_scan_bench_baseline";
  RegisterClassA(&windowClass);
  HWND window = CreateWindowExA(0, windowClass.lpszClassName, "", WS_OVERLAPPED, 0, 0, 0, 0,
                                nullptr, nullptr, windowClass.hInstance, nullptr);
  RunFigures figures;
  if (!window) return figures;
  SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&state));
  const double started = Now();
  SetTimer(window, 1, 10, nullptr);
  MSG message;
  while (GetMessageA(&message, nullptr, 0, 0) > 0) DispatchMessageA(&message);
  figures.wallMs = Now() - started;
  DestroyWindow(window);
  const std::vector<double>& probes = timed.probes();
  figures.ok = probes.size() == 256;
  figures.probes = probes.size();
  for (std::size_t i = 1; i < probes.size(); ++i) {
    figures.longestGapMs = std::max(figures.longestGapMs, probes[i] - probes[i - 1]);
  }
  return figures;
}

int Main() {
  INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_LISTVIEW_CLASSES | ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&controls);

  std::string units;
  for (int octet = 7; octet < 256; octet += 16) {
    char line[80];
    std::snprintf(line, sizeof(line), "unit 10.1.2.%d mac 00A0DE0102%02X\n", octet, octet);
    units += line;
  }
  test::SubstituteServer server(units);
  if (!server.Running()) {
    std::fprintf(stderr, "scan_bench: no substitute server: %s\n", server.Error().c_str());
    return 1;
  }
  Win32ServerChannel channel;
  if (!channel.Find()) {
    std::fprintf(stderr, "scan_bench: the server window was not found\n");
    return 1;
  }

  int dpi = USER_DEFAULT_SCREEN_DPI;
  if (HDC screen = GetDC(nullptr)) {
    dpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
  }
  std::printf(
      "full scan of 256 addresses (10.1.2.0 to 10.1.2.255), 16 units, server answers at once, "
      "%d DPI\n",
      dpi);
  std::printf("target: under %.0f ms a block, no gap between probes over %.0f ms\n", kWallTargetMs,
              kGapTargetMs);
  RunFigures worst;
  RunFigures floor;  // the worst of the bare timer's runs
  bool allOk = true;
  for (int run = 1; run <= kRuns; ++run) {
    // The bare timer runs just before each scan, so that a busy spell of the machine shows
    // in both figures.
    const RunFigures bare = RunBaseline(channel);
    floor.wallMs = std::max(floor.wallMs, bare.wallMs);
    floor.longestGapMs = std::max(floor.longestGapMs, bare.longestGapMs);
    std::printf("bare timer before run %d: wall %.1f ms, %zu probes, longest gap %.1f ms\n", run,
                bare.wallMs, bare.probes, bare.longestGapMs);
    const RunFigures f = RunOnce(channel);
    std::printf(
        "run %d:%s wall %.1f ms, %zu probes, longest gap %.1f ms (before probe %zu), median gap "
        "%.1f ms, longest server answer %.1f ms, longest gap less the server's answers %.1f ms\n"
        "       tick handling: all mean %.2f ms longest %.1f ms; first %zu probes mean %.2f ms "
        "longest %.1f ms; last %zu probes mean %.2f ms longest %.1f ms\n",
        run, f.ok ? "" : " (did not finish)", f.wallMs, f.probes, f.longestGapMs,
        f.longestGapBefore, f.medianGapMs, f.longestAnswerMs, f.longestDialogGapMs, f.meanTickMs,
        f.longestTickMs, kEdgeProbes, f.firstMeanTickMs, f.firstLongestTickMs, kEdgeProbes,
        f.lastMeanTickMs, f.lastLongestTickMs);
    allOk = allOk && f.ok && f.probes == 256;
    worst.wallMs = std::max(worst.wallMs, f.wallMs);
    worst.longestGapMs = std::max(worst.longestGapMs, f.longestGapMs);
    worst.longestDialogGapMs = std::max(worst.longestDialogGapMs, f.longestDialogGapMs);
    worst.firstMeanTickMs = std::max(worst.firstMeanTickMs, f.firstMeanTickMs);
    worst.firstLongestTickMs = std::max(worst.firstLongestTickMs, f.firstLongestTickMs);
    worst.lastMeanTickMs = std::max(worst.lastMeanTickMs, f.lastMeanTickMs);
    worst.lastLongestTickMs = std::max(worst.lastLongestTickMs, f.lastLongestTickMs);
  }
  std::printf(
      "worst of %d: wall %.1f ms, longest gap %.1f ms (less the server's answers %.1f ms); tick "
      "handling first %zu probes mean %.2f ms longest %.1f ms, last %zu probes mean %.2f ms "
      "longest %.1f ms%s\n",
      kRuns, worst.wallMs, worst.longestGapMs, worst.longestDialogGapMs, kEdgeProbes,
      worst.firstMeanTickMs, worst.firstLongestTickMs, kEdgeProbes, worst.lastMeanTickMs,
      worst.lastLongestTickMs, allOk ? "" : " (some run did not scan 256 addresses)");
  std::printf(
      "baseline (bare 10 ms timer, one probe a tick, no dialog), worst of %d: wall %.1f ms, "
      "longest gap %.1f ms\n",
      kRuns, floor.wallMs, floor.longestGapMs);
  std::printf("target: every block under %.0f ms: %s; no gap over %.0f ms: %s\n", kWallTargetMs,
              allOk && worst.wallMs < kWallTargetMs ? "met" : "MISSED", kGapTargetMs,
              allOk && worst.longestGapMs <= kGapTargetMs ? "met" : "MISSED");
  return allOk ? 0 : 1;
}

}  // namespace
}  // namespace orvel::bench

int main() { return orvel::bench::Main(); }
