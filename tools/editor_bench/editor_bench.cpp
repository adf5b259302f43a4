// Times sorting and Apply on a full device list of 256 rows in the real list view of
// the main dialog (template 102 of Orvelcfg's resources), driven by DeviceListEditor
// over Win32EditorView, against a bubble sort that swaps neighbouring rows inside the
// control. Prints figures, message counts and where the editor's view calls spend
// their time; never fails on timing. --no-swap leaves out the swap sort, which takes
// minutes.
#include <windows.h>
// after windows.h
#include <commctrl.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "config/core/server_channel.h"
#include "config/editor/device_list_editor.h"
#include "config/editor/field_rules.h"
#include "config/resources/resource.h"
#include "config/ui/win32_controls.h"
#include "config/ui/win32_editor_view.h"

namespace {

using orvel::kSlotCount;

constexpr int kSwapRuns = 2;
constexpr int kRuns = 21;
constexpr int kCellCapacity = 260;
constexpr UINT_PTR kCounterSubclass = 1;

// As the main dialog lays the list out.
const std::array<orvel::ui::ListColumn, 4> kColumns = {{{"Device Name", 110},
                                                        {"Device IP Address", 136},
                                                        {"Device MAC Address", 150},
                                                        {"Device Port No.", 90}}};

class NoServer : public orvel::ServerChannel {
 public:
  bool Find() override { return false; }
  bool Present() const override { return false; }
  std::uint32_t Send(std::uint32_t, std::uint32_t, std::uint32_t) override { return 0; }
};

struct Counters {
  long getText = 0, setText = 0, getItem = 0, setItem = 0, getState = 0, setState = 0;
  long insert = 0, deleteAll = 0, otherListMessages = 0, paints = 0, itemChanged = 0;
  long redrawOff = 0;
};

struct Figures {
  double min = 0, median = 0, paintMedian = 0;
};

double Now() {
  static const double frequency = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return static_cast<double>(f.QuadPart);
  }();
  LARGE_INTEGER t;
  QueryPerformanceCounter(&t);
  return 1000.0 * static_cast<double>(t.QuadPart) / frequency;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const std::size_t n = values.size();
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// The first differing byte decides, as unsigned; a prefix is the smaller.
bool ByteLess(const char* a, const char* b) {
  return std::strcmp(a, b) < 0;  // strcmp compares as unsigned char
}

// Where the time of the editor's view calls goes.
class TimedView : public orvel::ui::Win32EditorView {
 public:
  struct Tally {
    const char* name;
    long calls = 0;
    double ms = 0;
  };
  std::array<Tally, 10> tallies{{{"RowText"},
                                 {"SetRowText"},
                                 {"RowSlot"},
                                 {"SetRowSlot"},
                                 {"RowState"},
                                 {"SetRowState"},
                                 {"InsertRow"},
                                 {"other list"},
                                 {"SetListRedraw"},
                                 {"field/enable"}}};
  void Reset() {
    for (auto& t : tallies) t.calls = 0, t.ms = 0;
  }
  template <typename F>
  auto Time(int index, F f) -> decltype(f()) {
    struct Done {
      Tally& t;
      double start;
      ~Done() {
        ++t.calls;
        t.ms += Now() - start;
      }
    } done{tallies[index], Now()};
    return f();
  }
  std::string RowText(int row, int column) override {
    return Time(0, [&] { return Win32EditorView::RowText(row, column); });
  }
  void SetRowText(int row, int column, const std::string& text) override {
    Time(1, [&] { Win32EditorView::SetRowText(row, column, text); });
  }
  std::uint32_t RowSlot(int row) override {
    return Time(2, [&] { return Win32EditorView::RowSlot(row); });
  }
  void SetRowSlot(int row, std::uint32_t slot) override {
    Time(3, [&] { Win32EditorView::SetRowSlot(row, slot); });
  }
  unsigned RowState(int row) override {
    return Time(4, [&] { return Win32EditorView::RowState(row); });
  }
  void SetRowState(int row, unsigned state, unsigned mask) override {
    Time(5, [&] { Win32EditorView::SetRowState(row, state, mask); });
  }
  void InsertRow(int row, const std::array<std::string, 4>& texts, std::uint32_t slot) override {
    Time(6, [&] { Win32EditorView::InsertRow(row, texts, slot); });
  }
  void DeleteAllRows() override {
    Time(7, [&] { Win32EditorView::DeleteAllRows(); });
  }
  int RowCount() override {
    return Time(7, [&] { return Win32EditorView::RowCount(); });
  }
  void SetListRedraw(bool redraw) override {
    Time(8, [&] { Win32EditorView::SetListRedraw(redraw); });
  }
  void SetText(int id, const std::string& text) override {
    Time(9, [&] { Win32EditorView::SetText(id, text); });
  }
  void Enable(int id, bool enabled) override {
    Time(9, [&] { Win32EditorView::Enable(id, enabled); });
  }
  void SetFocus(int id) override {
    Time(9, [&] { Win32EditorView::SetFocus(id); });
  }
  void SetColumnWidth(int column, int width) override {
    Time(7, [&] { Win32EditorView::SetColumnWidth(column, width); });
  }
};

class Bench {
 public:
  bool Open();
  void Close();
  void Run();

 private:
  static INT_PTR CALLBACK DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
  static LRESULT CALLBACK CountingListProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                                           UINT_PTR, DWORD_PTR self);
  void Count(UINT message, WPARAM wParam);

  void Pump();
  void ResetToSlotOrder();
  void StepNameSortTo(int direction);
  std::vector<std::pair<std::string, std::uint32_t>> Rows();
  void SwapSortInControl(int rows, int column);
  void SwapRows(int row);
  void SelectRow(int row);

  // Times work after prepare, then the paint it left pending.
  using Tallies = decltype(TimedView::tallies);
  Figures Measure(int runs, const std::function<void(int)>& prepare,
                  const std::function<void()>& work, Counters* counted = nullptr,
                  Tallies* tallies = nullptr);

  HINSTANCE instance_ = GetModuleHandleA(nullptr);
  NoServer server_;
  TimedView view_;
  orvel::DeviceListEditor editor_{view_, server_};
  HWND dialog_ = nullptr;
  HWND list_ = nullptr;
  HIMAGELIST headerImages_ = nullptr;
  bool routeListEvents_ = true;

 public:
  bool skipSwaps_ = false;

 private:
  Counters counters_;
};

INT_PTR CALLBACK Bench::DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    SetWindowLongPtrA(dialog, DWLP_USER, lParam);
    return TRUE;
  }
  auto* self = reinterpret_cast<Bench*>(GetWindowLongPtrA(dialog, DWLP_USER));
  if (!self) return FALSE;
  if (message == WM_NOTIFY) {
    const auto* header = reinterpret_cast<const NMHDR*>(lParam);
    if (header->idFrom == IDC_DEVICE_LIST && header->code == LVN_ITEMCHANGED) {
      ++self->counters_.itemChanged;
      const auto* change = reinterpret_cast<const NMLISTVIEW*>(lParam);
      if (self->routeListEvents_) self->editor_.OnListItemChanged(change->iItem, change->uNewState);
    }
    return TRUE;
  }
  if (message == WM_COMMAND && LOWORD(wParam) == IDC_DEVICE_NAME && HIWORD(wParam) == EN_CHANGE) {
    self->editor_.OnNameChange();
    return TRUE;
  }
  return FALSE;
}

LRESULT CALLBACK Bench::CountingListProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                                         UINT_PTR, DWORD_PTR self) {
  reinterpret_cast<Bench*>(self)->Count(message, wParam);
  return DefSubclassProc(window, message, wParam, lParam);
}

void Bench::Count(UINT message, WPARAM wParam) {
  switch (message) {
    case LVM_GETITEMTEXTA:
      ++counters_.getText;
      break;
    case LVM_SETITEMTEXTA:
      ++counters_.setText;
      break;
    case LVM_GETITEMA:
      ++counters_.getItem;
      break;
    case LVM_SETITEMA:
      ++counters_.setItem;
      break;
    case LVM_GETITEMSTATE:
      ++counters_.getState;
      break;
    case LVM_SETITEMSTATE:
      ++counters_.setState;
      break;
    case LVM_INSERTITEMA:
      ++counters_.insert;
      break;
    case LVM_DELETEALLITEMS:
      ++counters_.deleteAll;
      break;
    case WM_PAINT:
      ++counters_.paints;
      break;
    case WM_SETREDRAW:
      if (!wParam) ++counters_.redrawOff;
      break;
    default:
      if (message >= LVM_FIRST && message < LVM_FIRST + 0x100) ++counters_.otherListMessages;
      break;
  }
}

bool Bench::Open() {
  INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_LISTVIEW_CLASSES | ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&controls);
  dialog_ = CreateDialogParamA(instance_, MAKEINTRESOURCEA(IDD_MAIN_DIALOG), nullptr, &DialogProc,
                               reinterpret_cast<LPARAM>(this));
  if (!dialog_) return false;
  list_ = GetDlgItem(dialog_, IDC_DEVICE_LIST);
  view_.Attach(dialog_);

  // Names in descending order, so that ascending by name reverses the list.
  std::array<orvel::DeviceEntry, kSlotCount> entries{};
  for (int slot = 0; slot < kSlotCount; ++slot) {
    orvel::DeviceEntry& entry = entries[slot];
    char name[32];
    std::snprintf(name, sizeof(name), "Unit %03d", kSlotCount - 1 - slot);
    entry.deviceName = name;
    entry.ipAddress = 0x0A000000u | static_cast<std::uint32_t>(slot / 200) << 8 |
                      static_cast<std::uint32_t>(slot % 200 + 1);
    char mac[16];
    std::snprintf(mac, sizeof(mac), "00A0DE%06X", 0x100000 + slot);
    entry.macText = mac;
    entry.portIndex = static_cast<std::uint8_t>(slot % orvel::kPortCount);
  }

  // The main dialog's opening order: entries, fields, first entry, list, rows.
  editor_.Load(entries);
  HWND port = GetDlgItem(dialog_, IDC_PORT);
  for (int number = 1; number <= orvel::kPortCount; ++number) {
    const std::string text = std::to_string(number);
    SendMessageA(port, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
  }
  SendMessageA(GetDlgItem(dialog_, IDC_DEVICE_NAME), EM_LIMITTEXT, orvel::kNameLimit, 0);
  editor_.PresentFirstEntry();
  headerImages_ =
      orvel::ui::LoadSmallIcons(instance_, dialog_, {IDI_SORT_NONE, IDI_SORT_UP, IDI_SORT_DOWN});
  ListView_SetExtendedListViewStyle(list_, 0xA1);
  view_.SetColumnExtra(orvel::ui::AddListColumns(
      list_, kColumns, {orvel::kListPageWidth, orvel::kListPageWidthWithScrollBar}));
  Header_SetImageList(ListView_GetHeader(list_), headerImages_);
  for (int column = 0; column < 3; ++column)
    view_.SetSortImage(column, editor_.sortDirection(column));
  editor_.FinishOpening();

  ShowWindow(dialog_, SW_SHOW);
  UpdateWindow(dialog_);
  Pump();
  return ListView_GetItemCount(list_) == kSlotCount;
}

void Bench::Close() {
  if (list_) RemoveWindowSubclass(list_, &CountingListProc, kCounterSubclass);
  if (dialog_) {
    Header_SetImageList(ListView_GetHeader(list_), nullptr);
    DestroyWindow(dialog_);
  }
  if (headerImages_) ImageList_Destroy(headerImages_);
}

void Bench::Pump() {
  MSG message;
  while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
}

void Bench::ResetToSlotOrder() {
  editor_.RebuildList(0, false);
  UpdateWindow(list_);
  Pump();
}

// Header clicks on the name column until it shows the given direction; each click sorts.
void Bench::StepNameSortTo(int direction) {
  for (int guard = 0; guard < 4; ++guard) {
    if (editor_.sortColumn() == 0 && editor_.sortDirection(0) == direction) return;
    editor_.OnColumnClick(0);
  }
}

std::vector<std::pair<std::string, std::uint32_t>> Bench::Rows() {
  std::vector<std::pair<std::string, std::uint32_t>> rows;
  const int count = view_.RowCount();
  for (int row = 0; row < count; ++row)
    rows.emplace_back(view_.RowText(row, 0), view_.RowSlot(row));
  return rows;
}

// Exchanges all four cell texts and the item data of a row and the next.
void Bench::SwapRows(int row) {
  std::array<std::array<char, kCellCapacity>, 8> cells{};
  LVITEMA item = {};
  for (int side = 0; side < 2; ++side) {
    for (int column = 0; column < 4; ++column) {
      item.iSubItem = column;
      item.pszText = cells[side * 4 + column].data();
      item.cchTextMax = kCellCapacity;
      SendMessageA(list_, LVM_GETITEMTEXTA, static_cast<WPARAM>(row + side),
                   reinterpret_cast<LPARAM>(&item));
    }
  }
  LPARAM data[2] = {};
  for (int side = 0; side < 2; ++side) {
    LVITEMA get = {};
    get.mask = LVIF_PARAM;
    get.iItem = row + side;
    SendMessageA(list_, LVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&get));
    data[side] = get.lParam;
  }
  for (int side = 0; side < 2; ++side) {
    for (int column = 0; column < 4; ++column) {
      LVITEMA set = {};
      set.iSubItem = column;
      set.pszText = cells[(1 - side) * 4 + column].data();
      SendMessageA(list_, LVM_SETITEMTEXTA, static_cast<WPARAM>(row + side),
                   reinterpret_cast<LPARAM>(&set));
    }
    LVITEMA set = {};
    set.mask = LVIF_PARAM;
    set.iItem = row + side;
    set.lParam = data[1 - side];
    SendMessageA(list_, LVM_SETITEMA, 0, reinterpret_cast<LPARAM>(&set));
  }
}

// Ascending, passes until one swaps nothing; equal rows are never swapped.
void Bench::SwapSortInControl(int rows, int column) {
  std::array<char, kCellCapacity> left{}, right{};
  bool swapped = true;
  while (swapped) {
    swapped = false;
    for (int row = 0; row + 1 < rows; ++row) {
      LVITEMA item = {};
      item.iSubItem = column;
      item.cchTextMax = kCellCapacity;
      item.pszText = left.data();
      SendMessageA(list_, LVM_GETITEMTEXTA, static_cast<WPARAM>(row),
                   reinterpret_cast<LPARAM>(&item));
      item.pszText = right.data();
      SendMessageA(list_, LVM_GETITEMTEXTA, static_cast<WPARAM>(row + 1),
                   reinterpret_cast<LPARAM>(&item));
      if (ByteLess(right.data(), left.data())) {
        SwapRows(row);
        swapped = true;
      }
    }
  }
}

void Bench::SelectRow(int row) {
  ListView_SetItemState(list_, -1, 0, LVIS_SELECTED | LVIS_FOCUSED);
  view_.SetRowState(row, orvel::EditorView::kRowSelected | orvel::EditorView::kRowFocused,
                    orvel::EditorView::kRowSelected | orvel::EditorView::kRowFocused);
  Pump();
}

Figures Bench::Measure(int runs, const std::function<void(int)>& prepare,
                       const std::function<void()>& work, Counters* counted, Tallies* tallies) {
  // One untimed run counts the messages: the counting subclass costs more per
  // message under Wine than most of the messages it counts.
  if (counted) {
    prepare(0);
    SetWindowSubclass(list_, &CountingListProc, kCounterSubclass,
                      reinterpret_cast<DWORD_PTR>(this));
    counters_ = Counters{};
    work();
    UpdateWindow(list_);
    *counted = counters_;
    RemoveWindowSubclass(list_, &CountingListProc, kCounterSubclass);
    Pump();
  }
  std::vector<double> calls, painted;
  for (int run = 1; run <= runs; ++run) {
    prepare(run);
    view_.Reset();
    const double start = Now();
    work();
    const double called = Now();
    UpdateWindow(list_);
    const double done = Now();
    if (run == 1 && tallies) *tallies = view_.tallies;
    Pump();
    calls.push_back(called - start);
    painted.push_back(done - start);
    std::fprintf(stderr, ".");
    std::fflush(stderr);
  }
  std::fprintf(stderr, "\n");
  return {*std::min_element(calls.begin(), calls.end()), Median(calls), Median(painted)};
}

void PrintFigures(const char* what, int runs, const Figures& f) {
  std::printf("  %-44s %4d %9.2f %9.2f %11.2f\n", what, runs, f.min, f.median, f.paintMedian);
}

template <typename Tallies>
void PrintTallies(const char* what, const Tallies& tallies) {
  std::printf("  %-30s", what);
  for (const auto& t : tallies) std::printf(" %5ld %6.2f", t.calls, t.ms);
  std::printf("\n");
}

void PrintCounters(const char* what, const Counters& c) {
  std::printf("  %-30s %7ld %7ld %6ld %6ld %6ld %6ld %6ld %5ld %6ld %7ld %5ld\n", what, c.getText,
              c.setText, c.getItem, c.setItem, c.getState, c.setState, c.insert, c.redrawOff,
              c.otherListMessages, c.itemChanged, c.paints);
}

const char* Verdict(bool met) { return met ? "met" : "MISSED"; }

void Bench::Run() {
  const int rows = kSlotCount;
  Counters swapCounts, sortCounts, clickCounts, applyPlainCounts, applySortedCounts;
  Tallies sortCalls, clickCalls, applyPlainCalls, applySortedCalls;

  // (a) Neighbour swaps in the control, from the reverse order. List events are off,
  // as they are while a header click sorts.
  std::vector<std::pair<std::string, std::uint32_t>> swapOrder;
  const Figures swaps = Measure(
      skipSwaps_ ? 1 : kSwapRuns, [&](int) { ResetToSlotOrder(); },
      [&] {
        routeListEvents_ = false;
        if (!skipSwaps_) SwapSortInControl(rows, 0);
        routeListEvents_ = true;
      },
      &swapCounts);
  swapOrder = Rows();

  // (b) The editor's SortList with the name column ascending, from the same order.
  const Figures sorts = Measure(
      kRuns,
      [&](int) {
        StepNameSortTo(1);
        ResetToSlotOrder();
      },
      [&] { editor_.SortList(rows); }, &sortCounts, &sortCalls);
  const auto sortOrder = Rows();

  // (b') The whole header click: states remembered, sorted, states restored by name.
  const Figures clicks = Measure(
      kRuns,
      [&](int) {
        StepNameSortTo(0);
        ResetToSlotOrder();
      },
      [&] { editor_.OnColumnClick(0); }, &clickCounts, &clickCalls);
  const auto clickOrder = Rows();

  const bool sameOrder = swapOrder == sortOrder && sortOrder == clickOrder &&
                         static_cast<int>(swapOrder.size()) == rows;
  bool ascending = true;
  for (std::size_t i = 1; i < sortOrder.size(); ++i)
    ascending = ascending && !ByteLess(sortOrder[i].first.c_str(), sortOrder[i - 1].first.c_str());

  // Apply of a renamed row, first in slot order (no active sort), then sorted by name.
  int renamed = 0;
  auto renameRow = [&](int run) {
    const int row = (run * 37 + 11) % rows;
    SelectRow(row);
    char name[32];
    std::snprintf(name, sizeof(name), "Renamed %03d", renamed++);
    SetWindowTextA(GetDlgItem(dialog_, IDC_DEVICE_NAME), name);
    // A click on Apply takes the focus from the fields first.
    SetFocus(GetDlgItem(dialog_, IDC_APPLY));
    Pump();
  };
  StepNameSortTo(0);
  ResetToSlotOrder();
  const Figures applyPlain = Measure(
      kRuns, renameRow, [&] { editor_.Apply(); }, &applyPlainCounts, &applyPlainCalls);
  StepNameSortTo(1);
  Pump();
  const Figures applySorted = Measure(
      kRuns, renameRow, [&] { editor_.Apply(); }, &applySortedCounts, &applySortedCalls);
  const bool applyKeptRows = view_.RowCount() == rows;

  std::printf("Device list of %d rows in the main dialog's list view; times in ms\n", rows);
  std::printf("  %-44s %4s %9s %9s %11s\n", "", "runs", "min", "median", "+paint med");
  PrintFigures("(a) neighbour swaps in the control", kSwapRuns, swaps);
  PrintFigures("(b) DeviceListEditor::SortList", kRuns, sorts);
  PrintFigures("(b) OnColumnClick(0), sort and row states", kRuns, clicks);
  PrintFigures("Apply, slot order (no active sort)", kRuns, applyPlain);
  PrintFigures("Apply, sorted by name ascending", kRuns, applySorted);
  if (skipSwaps_) {
    std::printf("  (a) skipped (--no-swap)\n");
  } else {
    std::printf(
        "  ratio (a)/(b) SortList: min %.0fx, median %.0fx; (a)/OnColumnClick median %.0fx\n",
        swaps.min / sorts.min, swaps.median / sorts.median, swaps.median / clicks.median);
  }
  std::printf(
      "  same row order from (a) and (b): %s; ascending by name: %s; rows after Apply: %s\n",
      skipSwaps_  ? "-"
      : sameOrder ? "yes"
                  : "NO",
      ascending ? "yes" : "NO", applyKeptRows ? "256" : "WRONG");
  std::printf("Targets: sort < 20 ms: %s; (a)/(b) >= 20: %s; Apply < 30 ms: %s\n",
              Verdict(sorts.median < 20 && clicks.median < 20),
              skipSwaps_ ? "-" : Verdict(swaps.median / sorts.median >= 20),
              Verdict(applyPlain.median < 30 && applySorted.median < 30));

  std::printf("Messages to the list in an untimed run (paints until UpdateWindow returned)\n");
  std::printf("  %-30s %7s %7s %6s %6s %6s %6s %6s %5s %6s %7s %5s\n", "", "gettext", "settext",
              "getitm", "setitm", "getst", "setst", "insert", "rdOff", "other", "changed", "paint");
  PrintCounters("(a) neighbour swaps", swapCounts);
  PrintCounters("(b) SortList", sortCounts);
  PrintCounters("(b) OnColumnClick(0)", clickCounts);
  PrintCounters("Apply, slot order", applyPlainCounts);
  PrintCounters("Apply, sorted by name", applySortedCounts);

  std::printf("Editor's view calls in the first timed run: calls and ms\n  %-30s", "");
  for (const auto& t : sortCalls) std::printf(" %13s", t.name);
  std::printf("\n");
  PrintTallies("(b) SortList", sortCalls);
  PrintTallies("(b) OnColumnClick(0)", clickCalls);
  PrintTallies("Apply, slot order", applyPlainCalls);
  PrintTallies("Apply, sorted by name", applySortedCalls);
}

}  // namespace

int main(int argc, char** argv) {
  Bench bench;
  bench.skipSwaps_ = argc > 1 && std::strcmp(argv[1], "--no-swap") == 0;
  if (!bench.Open()) {
    std::fprintf(stderr, "editor_bench: the main dialog did not open with %d rows\n", kSlotCount);
    bench.Close();
    return 1;
  }
  bench.Run();
  bench.Close();
  return 0;
}
