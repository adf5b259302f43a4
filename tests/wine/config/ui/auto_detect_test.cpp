// "Advanced Settings" for real: the main dialog runs in this process, opens the
// auto-detect dialog, scans against the substitute server, and reads and writes setup
// files through the common file dialogs; a second thread clicks and types.
#include <windows.h>
// after windows.h
#include <commctrl.h>
#include <commdlg.h>
#include <dlgs.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "config/core/configure_app.h"
#include "config/core/server_messages.h"
#include "config/core/text_ids.h"
#include "config/core/win32_app_platform.h"
#include "config/core/win32_server_channel.h"
#include "config/resources/resource.h"
#include "config/ui/control_names.h"
#include "config/ui/win32_applet_dialog.h"
#include "config/ui/win32_control_annotation.h"
#include "tests/doubles/recording_annotation.h"
#include "tests/wine/config/ui/dialog_driver.h"
#include "tests/wine/support/process_util.h"
#include "tests/wine/support/substitute_server.h"
#include "tests/wine/support/todo_wine.h"

namespace orvel::test {
namespace {

bool AlwaysAdministrator() { return true; }

std::uint32_t Ip(int a, int b, int c, int d) {
  return static_cast<std::uint32_t>(a) << 24 | static_cast<std::uint32_t>(b) << 16 |
         static_cast<std::uint32_t>(c) << 8 | static_cast<std::uint32_t>(d);
}

std::string Text(unsigned id) { return LoadText(GetModuleHandleA(nullptr), id); }

struct Unit {
  const char* name;
  std::uint32_t address;
  const char* mac;
  std::uint8_t port = 0;
  std::uint8_t tcp = 1;
};

MainDialogSession MakeSession(std::initializer_list<Unit> units, const std::string& folder,
                              std::uint32_t start = Ip(192, 168, 0, 2), std::int32_t stop = 2) {
  MainDialogSession session;
  for (int slot = 0; slot < kSlotCount; ++slot) session.entries[slot] = DefaultDeviceEntry(slot);
  int slot = 0;
  for (const Unit& unit : units) {
    DeviceEntry& entry = session.entries[slot++];
    entry.deviceName = unit.name;
    entry.ipAddress = unit.address;
    entry.macText = unit.mac;
    entry.portIndex = unit.port;
    entry.tcpFlag = unit.tcp;
  }
  session.scanStartAddress = start;
  session.scanStopOctet = stop;
  session.settingsFolder = folder;
  return session;
}

// What the other thread sees of the dialogs: the main one, and its UI thread for
// finding the dialogs that open over it.
struct Ui {
  DialogDriver& main;
  DWORD thread;
};

// Runs the main dialog here on the session; the script runs on a driver thread, and a
// dialog it leaves open is cancelled. Returns the dialog's result. As in the program,
// the thread is in a single-threaded apartment and the controls are annotated for
// screen readers, by the platform unless a double is given.
int RunMainDialog(MainDialogSession& session, const std::function<void(Ui&)>& script,
                  ui::ControlAnnotation* annotation = nullptr) {
  const ComApartment apartment;
  Win32ServerChannel server;
  ui::Win32ControlAnnotation platformAnnotation(GetModuleHandleA(nullptr));
  ui::CAppletDlg dialog(GetModuleHandleA(nullptr), server, &AlwaysAdministrator,
                        annotation ? annotation : &platformAnnotation);
  const DWORD uiThread = GetCurrentThreadId();
  std::thread driver([&] {
    HWND window = FindThreadWindow(
        uiThread, [](HWND w) { return GetDlgItem(w, IDC_DEVICE_LIST) != nullptr; });
    if (!window) return;
    {
      DialogDriver d(window, uiThread);
      Ui ui{d, uiThread};
      script(ui);
    }
    if (IsWindow(window)) PostMessageA(window, WM_COMMAND, IDCANCEL, 0);
  });
  const int result = dialog.RunModal(session);
  driver.join();
  return result;
}

// Presses "Ad&vanced Settings" and hands the auto-detect dialog to the script; a dialog
// the script leaves open is cancelled. False when the dialog never appeared.
bool WithAutoDetect(Ui& ui, const std::function<void(DialogDriver&)>& script) {
  ui.main.Click(IDC_ADVANCED);
  HWND window =
      FindThreadWindow(ui.thread, [](HWND w) { return GetDlgItem(w, IDC_AD_RESULTS) != nullptr; });
  if (!window) return false;
  {
    DialogDriver d(window, ui.thread);
    script(d);
  }
  if (IsWindow(window)) PostMessageA(window, WM_COMMAND, IDCANCEL, 0);
  WaitUntil([&] { return !IsWindow(window); });
  ui.main.Sync();
  return true;
}

// The open or save dialog with this title: its initial folder, then the path typed
// into its file name box and OK pressed. Empty when no such dialog came up.
std::optional<std::string> ChooseFile(DWORD uiThread, const std::string& title,
                                      const std::string& path) {
  HWND chooser = FindThreadWindow(uiThread, [&](HWND w) { return WindowTitle(w) == title; });
  if (!chooser) return std::nullopt;
  char folder[MAX_PATH] = {};
  SendMessageA(chooser, CDM_GETFOLDERPATH, sizeof(folder), reinterpret_cast<LPARAM>(folder));
  // The name box is an edit (edt1) or a combo box with an edit (cmb13), by dialog style.
  for (int id : {edt1, cmb13}) {
    if (HWND box = GetDlgItem(chooser, id)) SetWindowTextA(box, path.c_str());
  }
  PostMessageA(chooser, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
               reinterpret_cast<LPARAM>(GetDlgItem(chooser, IDOK)));
  WaitUntil([&] { return !IsWindow(chooser); });
  return std::string(folder);
}

BOOL CALLBACK CollectText(HWND child, LPARAM texts) {
  reinterpret_cast<std::vector<std::string>*>(texts)->push_back(WindowTitle(child));
  return TRUE;
}

bool IsMessageBox(HWND window) {
  return WindowTitle(window) == Text(kTextProductName) && !GetDlgItem(window, IDC_DEVICE_LIST);
}

// The texts of a message box over the dialogs, closed with OK; empty when none came up
// within the time.
std::vector<std::string> TakeMessageBox(DWORD uiThread, DWORD timeoutMs = kDriverTimeoutMs) {
  HWND box = FindThreadWindow(uiThread, IsMessageBox, timeoutMs);
  std::vector<std::string> texts;
  if (!box) return texts;
  EnumChildWindows(box, CollectText, reinterpret_cast<LPARAM>(&texts));
  PostMessageA(box, WM_COMMAND, IDOK, 0);
  WaitUntil([&] { return !IsWindow(box); });
  return texts;
}

bool Contains(const std::vector<std::string>& texts, const std::string& text) {
  for (const std::string& t : texts) {
    if (t == text) return true;
  }
  return false;
}

// The result list's rows as the dialog shows them.
struct ResultRow {
  std::uint32_t address;
  int image;
  std::string name;
  std::string mac;
};

std::vector<ResultRow> ResultRows(DialogDriver& d) {
  std::vector<ResultRow> rows;
  HWND list = d.Item(IDC_AD_RESULTS);
  for (int row = 0; row < d.Rows(IDC_AD_RESULTS); ++row) {
    LVITEMA item{};
    item.mask = LVIF_PARAM | LVIF_IMAGE;
    item.iItem = row;
    SendMessageA(list, LVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&item));
    rows.push_back({static_cast<std::uint32_t>(item.lParam), item.iImage,
                    d.RowText(row, 2, IDC_AD_RESULTS), d.RowText(row, 3, IDC_AD_RESULTS)});
  }
  return rows;
}

int RowOf(const std::vector<ResultRow>& rows, std::uint32_t address) {
  for (std::size_t i = 0; i < rows.size(); ++i) {
    if (rows[i].address == address) return static_cast<int>(i);
  }
  return -1;
}

bool ScanFinished(DialogDriver& d) { return !d.Enabled(IDC_AD_ABORT) && d.Enabled(IDC_AD_START); }

class AutoDetectTest : public ::testing::Test {
 protected:
  TempFolder folder_;
};

TEST_F(AutoDetectTest, FullBlockScanAddsTheTwoCheckedUnitsWithNamesAndMacs) {
  SubstituteServer server(
      "unit 192.168.5.10 mac 00A0DE000010\n"
      "unit 192.168.5.20 mac 00A0DE000020\n"
      "unit 192.168.5.30 mac none\n"
      "unit 192.168.5.40 mac 00A0DE000040 probe no\n"
      "unit 192.168.5.50 mac 00A0DE000050\n"
      "unit 192.168.5.60 mac 00A0DE000060\n"
      "active 192.168.5.60\n");
  ASSERT_TRUE(server.Running()) << server.Error();
  MainDialogSession session = MakeSession({{"Keys", Ip(192, 168, 5, 50), "00A0DE000050"}},
                                          folder_.Path(), Ip(192, 168, 5, 1), 254);
  std::vector<ResultRow> found, checked;
  bool finished = false, addEnabledBefore = true, addEnabledAfter = false;
  int macWidth = 0, macWidthBefore = -1;
  const int result = RunMainDialog(session, [&](Ui& ui) {
    ASSERT_TRUE(WithAutoDetect(ui, [&](DialogDriver& d) {
      macWidthBefore = ListView_GetColumnWidth(d.Item(IDC_AD_RESULTS), 3);
      d.Click(IDC_AD_START);
      finished = WaitUntil([&] { return ScanFinished(d); });
      d.Sync();
      found = ResultRows(d);
      macWidth = ListView_GetColumnWidth(d.Item(IDC_AD_RESULTS), 3);
      addEnabledBefore = d.Enabled(IDOK);
      for (std::uint32_t address : {Ip(192, 168, 5, 10), Ip(192, 168, 5, 30)}) {
        const int row = RowOf(ResultRows(d), address);
        if (row >= 0) d.ClickRow(row, IDC_AD_RESULTS);
      }
      checked = ResultRows(d);
      addEnabledAfter = d.Enabled(IDOK);
      d.Click(IDOK);
    }));
    ui.main.Click(IDOK);
  });
  ASSERT_TRUE(finished);
  // The silent unit and the server's own address get no row.
  ASSERT_EQ(found.size(), 4u);
  EXPECT_EQ(found[0].address, Ip(192, 168, 5, 10));
  EXPECT_EQ(found[0].image, 0);
  EXPECT_EQ(found[0].mac, "00 A0 DE 00 00 10");
  EXPECT_EQ(found[2].address, Ip(192, 168, 5, 30));
  EXPECT_EQ(found[2].mac, "00 00 00 00 00 00");
  EXPECT_EQ(found[3].address, Ip(192, 168, 5, 50));
  EXPECT_EQ(found[3].image, 2);
  EXPECT_EQ(found[3].name, "Keys");
  // Four rows fit on a page: the MAC column stays as wide as it opened (140, or what a
  // wider font needs).
  EXPECT_EQ(macWidth, macWidthBefore);
  EXPECT_GE(macWidth, 140);
  EXPECT_FALSE(addEnabledBefore);
  ASSERT_EQ(checked.size(), 4u);
  EXPECT_EQ(checked[0].image, 1);
  EXPECT_EQ(checked[1].image, 0);
  EXPECT_EQ(checked[2].image, 1);
  EXPECT_TRUE(addEnabledAfter);

  // One probe per address from .1 to .254, numbered from 0.
  std::vector<std::uint32_t> probed;
  for (const ServerLogRecord& record : server.Received()) {
    if (record.message != SRVM_PROBE_ADDRESS) continue;
    EXPECT_EQ(record.wParam, probed.size());
    probed.push_back(record.lParam);
  }
  ASSERT_EQ(probed.size(), 254u);
  EXPECT_EQ(probed.front(), Ip(192, 168, 5, 1));
  EXPECT_EQ(probed.back(), Ip(192, 168, 5, 254));

  ASSERT_EQ(result, IDOK);
  const auto& e = session.entries;
  EXPECT_EQ(e[0].deviceName, "Keys");
  EXPECT_EQ(e[1].ipAddress, Ip(192, 168, 5, 10));
  EXPECT_EQ(e[1].macText, "00A0DE000010");
  EXPECT_EQ(e[2].ipAddress, Ip(192, 168, 5, 30));
  EXPECT_EQ(e[2].macText, "000000000000");
  EXPECT_EQ(e[3].ipAddress, 0u);
  EXPECT_FALSE(e[1].deviceName.empty());
  EXPECT_NE(e[1].deviceName, e[2].deviceName);
  EXPECT_NE(e[1].deviceName, "Keys");
  EXPECT_NE(e[2].deviceName, "Keys");
  EXPECT_EQ(session.scanStartAddress, Ip(192, 168, 5, 1));
  EXPECT_EQ(session.scanStopOctet, 254);
}

// A server that stops taking messages during a scan holds up one probe for its
// limit at most (Wine never calls a window hung): Abort then ends the scan.
TEST_F(AutoDetectTest, AScanOfAServerThatStoppedAnsweringCanBeAborted) {
  SubstituteServer server("unit 192.168.5.10 mac 00A0DE000010\n");
  ASSERT_TRUE(server.Running()) << server.Error();
  MainDialogSession session = MakeSession({}, folder_.Path(), Ip(192, 168, 5, 1), 254);
  bool finished = false;
  std::vector<ResultRow> found;
  RunMainDialog(session, [&](Ui& ui) {
    ASSERT_TRUE(WithAutoDetect(ui, [&](DialogDriver& d) {
      ASSERT_TRUE(server.StopAnswering(120000));
      d.Click(IDC_AD_START);
      d.Click(IDC_AD_ABORT);
      finished = WaitUntil([&] { return ScanFinished(d); }, 10000);
      found = ResultRows(d);
    }));
  });
  EXPECT_TRUE(finished);
  EXPECT_TRUE(found.empty());
}

// The MAC column gives way to the scroll bar by its 17 pixels and still shows a MAC whole.
TEST_F(AutoDetectTest, MacColumnNarrowsOnceRowsNoLongerFitOnAPage) {
  std::string units;
  for (int octet = 1; octet <= 14; ++octet) {
    char line[64];
    std::snprintf(line, sizeof(line), "unit 10.3.3.%d mac 00A0DE0303%02X\n", octet, octet);
    units += line;
  }
  SubstituteServer server(units);
  ASSERT_TRUE(server.Running()) << server.Error();
  MainDialogSession session = MakeSession({}, folder_.Path(), Ip(10, 3, 3, 1), 14);
  int perPage = 0, wide = 0, narrowed = 0, rows = 0;
  bool finished = false;
  std::vector<std::string> faults;
  RunMainDialog(session, [&](Ui& ui) {
    WithAutoDetect(ui, [&](DialogDriver& d) {
      HWND list = d.Item(IDC_AD_RESULTS);
      perPage = ListView_GetCountPerPage(list);
      wide = ListView_GetColumnWidth(list, 3);
      d.Click(IDC_AD_START);
      finished = WaitUntil([&] { return ScanFinished(d); });
      d.Sync();
      narrowed = ListView_GetColumnWidth(list, 3);
      rows = d.Rows(IDC_AD_RESULTS);
      CheckList(list, faults, faults);
    });
  });
  ASSERT_TRUE(finished);
  ASSERT_LT(perPage, 14);
  EXPECT_EQ(rows, 14);
  EXPECT_GE(wide, 140);
  EXPECT_EQ(wide - narrowed, 140 - 123);
  for (const std::string& fault : faults) ADD_FAILURE() << fault;
}

// The list is rebuilt on every check; the row clicked stays where the user saw it.
TEST_F(AutoDetectTest, ClickedRowStaysInViewWhenTheListIsRebuilt) {
  std::string units;
  for (int octet = 1; octet <= 20; ++octet) {
    char line[64];
    std::snprintf(line, sizeof(line), "unit 10.3.4.%d mac 00A0DE0304%02X\n", octet, octet);
    units += line;
  }
  SubstituteServer server(units);
  ASSERT_TRUE(server.Running()) << server.Error();
  MainDialogSession session = MakeSession({}, folder_.Path(), Ip(10, 3, 4, 1), 20);
  struct Case {
    int top;  // the list scrolled to this row before the click
    int row;
    int topAfter = -1;
    int image = -1;
  };
  std::vector<Case> cases = {{10, 15}, {12, 19}, {3, 9}};
  RunMainDialog(session, [&](Ui& ui) {
    WithAutoDetect(ui, [&](DialogDriver& d) {
      HWND list = d.Item(IDC_AD_RESULTS);
      d.Click(IDC_AD_START);
      WaitUntil([&] { return ScanFinished(d); });
      d.Sync();
      for (Case& c : cases) {
        RECT row0{};
        row0.left = LVIR_BOUNDS;
        SendMessageA(list, LVM_GETITEMRECT, 0, reinterpret_cast<LPARAM>(&row0));
        const int height = row0.bottom - row0.top;
        SendMessageA(list, LVM_SCROLL, 0, (c.top - ListView_GetTopIndex(list)) * height);
        d.ClickRow(c.row, IDC_AD_RESULTS);
        c.topAfter = ListView_GetTopIndex(list);
        c.image = ResultRows(d)[static_cast<std::size_t>(c.row)].image;
      }
    });
  });
  for (const Case& c : cases) {
    SCOPED_TRACE(c.row);
    EXPECT_EQ(c.topAfter, c.top);
    EXPECT_EQ(c.image, 1);
  }
}

int FocusedRow(DialogDriver& d, int listId = IDC_AD_RESULTS) {
  return ListView_GetNextItem(d.Item(listId), -1, LVNI_FOCUSED);
}

int SelectedRowCount(DialogDriver& d) {
  return static_cast<int>(ListView_GetSelectedCount(d.Item(IDC_AD_RESULTS)));
}

// The whole way with the keyboard alone: Alt+S scans, Tab reaches the results, the
// arrows, Home and End move, Space checks, unchecks and checks again, Enter adds, and
// Alt+S in the main dialog saves. A unit already in the list stays as it is.
TEST_F(AutoDetectTest, KeyboardAloneScansChecksAndAddsAUnit) {
  SubstituteServer server(
      "unit 192.168.6.10 mac 00A0DE000610\n"
      "unit 192.168.6.20 mac 00A0DE000620\n"
      "unit 192.168.6.30 mac 00A0DE000630\n");
  ASSERT_TRUE(server.Running()) << server.Error();
  MainDialogSession session = MakeSession({{"Keys", Ip(192, 168, 6, 20), "00A0DE000620"}},
                                          folder_.Path(), Ip(192, 168, 6, 1), 40);
  struct Step {
    const char* keys = "";
    int focusedRow = -1;
    std::vector<int> images;
    int selected = -1;
    bool addEnabled = false;
  };
  std::vector<Step> steps;
  bool finished = false, reachedList = false;
  int mainRows = 0;
  std::vector<std::wstring> platformNames;
  const int result = RunMainDialog(session, [&](Ui& ui) {
    ASSERT_TRUE(WithAutoDetect(ui, [&](DialogDriver& d) {
      d.AltKey('S');
      finished = WaitUntil([&] { return ScanFinished(d); });
      d.Sync();
      for (int tabs = 0; tabs < 12 && d.FocusId() != IDC_AD_RESULTS; ++tabs) d.Key(VK_TAB);
      reachedList = d.FocusId() == IDC_AD_RESULTS;
      auto press = [&](const char* label, UINT key) {
        d.Key(key);
        Step step;
        step.keys = label;
        step.focusedRow = FocusedRow(d);
        for (const ResultRow& row : ResultRows(d)) step.images.push_back(row.image);
        step.selected = SelectedRowCount(d);
        step.addEnabled = d.Enabled(IDOK);
        steps.push_back(step);
      };
      press("End", VK_END);
      press("Space", VK_SPACE);
      press("Space again", VK_SPACE);
      press("Space a third time", VK_SPACE);
      // What a screen reader reads on Windows; Wine's oleacc takes no annotation.
      d.OnUiThread([&] {
        platformNames = {AccessibleName(d.Item(IDC_AD_STOP)),
                         AccessibleName(d.Item(IDC_AD_RESULTS)),
                         AccessibleName(d.Item(IDC_AD_RESULTS), 3)};
      });
      press("Up", VK_UP);
      press("Space on the listed unit", VK_SPACE);
      press("Home", VK_HOME);
      press("Down", VK_DOWN);
      d.Key(VK_RETURN);
      WaitUntil([&] { return !IsWindow(d.Window()); });
    }));
    mainRows = ui.main.Rows();
    ui.main.AltKey('S');
    WaitUntil([&] { return !ui.main.DialogOpen(); });
  });
  ASSERT_TRUE(finished);
  EXPECT_TRUE(reachedList);
  struct Want {
    int focusedRow;
    std::vector<int> images;
    bool addEnabled;
  };
  const std::vector<Want> wants = {
      {2, {0, 2, 0}, false}, {2, {0, 2, 1}, true}, {2, {0, 2, 0}, false}, {2, {0, 2, 1}, true},
      {1, {0, 2, 1}, true},  {1, {0, 2, 1}, true}, {0, {0, 2, 1}, true},  {1, {0, 2, 1}, true},
  };
  ASSERT_EQ(steps.size(), wants.size());
  for (std::size_t i = 0; i < steps.size(); ++i) {
    SCOPED_TRACE(steps[i].keys);
    EXPECT_EQ(steps[i].focusedRow, wants[i].focusedRow);
    EXPECT_EQ(steps[i].images, wants[i].images);
    EXPECT_EQ(steps[i].addEnabled, wants[i].addEnabled);
    // Space leaves no row highlighted; the arrows select as in any list.
    if (std::strncmp(steps[i].keys, "Space", 5) == 0) {
      EXPECT_EQ(steps[i].selected, 0);
    }
  }
  ASSERT_EQ(platformNames.size(), 3u);
  TODO_WINE_EXPECT_TRUE(platformNames[0] == TableText(ui::kNameDetectToPart4));
  TODO_WINE_EXPECT_TRUE(platformNames[1] == TableText(ui::kNameResults));
  TODO_WINE_EXPECT_TRUE(platformNames[2] == TableText(ui::kNameRowChecked, "192.168.6.30"));
  EXPECT_EQ(mainRows, 2);
  ASSERT_EQ(result, IDOK);
  EXPECT_EQ(session.entries[0].deviceName, "Keys");
  EXPECT_EQ(session.entries[1].ipAddress, Ip(192, 168, 6, 30));
  EXPECT_EQ(session.entries[1].macText, "00A0DE000630");
  EXPECT_EQ(session.entries[2].ipAddress, 0u);
}

// Every control of "Advanced Settings" that takes the focus, by the name a screen reader
// is given: annotated from the string table (read from the double: Wine's annotation
// fails), or for a button the proxy's, its caption. Each says something and no two are
// alike. A found unit's row says its state and address, and follows a check; every
// annotation is taken back when the dialog goes.
TEST_F(AutoDetectTest, EveryControlAndRowHasANameThatSaysWhatItIs) {
  SubstituteServer server(
      "unit 192.168.5.10 mac 00A0DE000010\n"
      "unit 192.168.5.20 mac 00A0DE000020\n");
  ASSERT_TRUE(server.Running()) << server.Error();
  MainDialogSession session = MakeSession({{"Keys", Ip(192, 168, 5, 20), "00A0DE000020"}},
                                          folder_.Path(), Ip(192, 168, 5, 1), 30);
  std::vector<NameWant> wants = {
      {IDC_AD_STOP, ui::kNameDetectToPart4},
      {IDC_AD_START, 0},
      {IDC_AD_ABORT, 0},
      {IDC_AD_RESULTS, ui::kNameResults},
      {IDOK, 0},
      {IDCANCEL, 0},
      {IDC_AD_IMPORT, 0},
      {IDC_AD_EXPORT, 0},
  };
  const int starts[] = {IDC_AD_START1, IDC_AD_START2, IDC_AD_START3, IDC_AD_START4};
  for (int i = 0; i < 4; ++i) wants.push_back({starts[i], ui::kNameDetectFromPart1 + i});
  std::vector<ControlName> seen;
  using Text = testing::RecordingAnnotation::Text;
  std::optional<Text> description, rowsFound[2], rowChecked;
  testing::RecordingAnnotation names;
  RunMainDialog(
      session,
      [&](Ui& ui) {
        WithAutoDetect(ui, [&](DialogDriver& d) {
          const auto list = reinterpret_cast<std::uintptr_t>(d.Item(IDC_AD_RESULTS));
          d.OnUiThread([&] { seen = ControlNames(d.Window(), names); });
          description = names.Description(list);
          d.Click(IDC_AD_START);
          WaitUntil([&] { return ScanFinished(d); });
          d.Sync();
          for (int row = 0; row < 2; ++row) rowsFound[row] = names.Name(list, row + 1);
          d.ClickRow(0, IDC_AD_RESULTS);
          rowChecked = names.Name(list, 1);
        });
      },
      &names);

  ExpectNames(seen, wants);
  EXPECT_EQ(description, (Text{ui::kDescriptionResults, ""}));
  EXPECT_TRUE(SaysSomething(TableText(ui::kDescriptionResults)));
  EXPECT_EQ(rowsFound[0], (Text{ui::kNameRowFound, "192.168.5.10"}));
  EXPECT_EQ(rowsFound[1], (Text{ui::kNameRowListed, "192.168.5.20"}));
  EXPECT_EQ(rowChecked, (Text{ui::kNameRowChecked, "192.168.5.10"}));
  // The three row names differ, and each says the address it was given.
  std::set<std::wstring> rowNames;
  for (unsigned text : {ui::kNameRowFound, ui::kNameRowChecked, ui::kNameRowListed}) {
    const std::wstring name = TableText(text, "192.168.5.10");
    EXPECT_NE(name.find(L"192.168.5.10"), std::wstring::npos) << text;
    rowNames.insert(name);
  }
  EXPECT_EQ(rowNames.size(), 3u);
  EXPECT_EQ(names.Live(), 0u) << "annotations left behind the dialogs";
}

TEST_F(AutoDetectTest, ExportedTableComesBackWhenImportedInAFreshStart) {
  const std::string path = folder_.File("exported.ini");
  MainDialogSession first = MakeSession({{"Keys", Ip(10, 1, 2, 3), "00A0DE000001", 0, 1},
                                         {"Pads", Ip(172, 16, 0, 9), "00A0DE000002", 5, 0},
                                         {"Bass", Ip(192, 168, 1, 200), "00A0DE0000FF", 15, 1}},
                                        folder_.Path(), Ip(10, 1, 2, 3), 40);
  const MainDialogSession original = first;
  std::optional<std::string> exportFolder;
  bool closedByExport = false;
  RunMainDialog(first, [&](Ui& ui) {
    WithAutoDetect(ui, [&](DialogDriver& d) {
      d.Click(IDC_AD_EXPORT);
      exportFolder = ChooseFile(ui.thread, Text(kTextSaveFileTitle), path);
      closedByExport = WaitUntil([&] { return !IsWindow(d.Window()); });
    });
  });
  ASSERT_TRUE(exportFolder) << "no save dialog titled " << Text(kTextSaveFileTitle);
  EXPECT_EQ(*exportFolder, folder_.Path());
  EXPECT_TRUE(closedByExport);
  ASSERT_TRUE(ReadFileText(path));

  MainDialogSession second =
      MakeSession({{"Other", Ip(10, 9, 9, 9), "000000000009"}}, folder_.Path());
  std::optional<std::string> importFolder;
  const int result = RunMainDialog(second, [&](Ui& ui) {
    WithAutoDetect(ui, [&](DialogDriver& d) {
      d.Click(IDC_AD_IMPORT);
      importFolder = ChooseFile(ui.thread, Text(kTextOpenFileTitle), path);
      WaitUntil([&] { return !IsWindow(d.Window()); });
    });
    ui.main.Click(IDOK);
  });
  ASSERT_TRUE(importFolder) << "no open dialog titled " << Text(kTextOpenFileTitle);
  EXPECT_EQ(*importFolder, folder_.Path());
  ASSERT_EQ(result, IDOK);
  for (int slot = 0; slot < kSlotCount; ++slot) {
    SCOPED_TRACE(slot);
    const DeviceEntry& want = original.entries[slot];
    const DeviceEntry& got = second.entries[slot];
    EXPECT_EQ(got.ipAddress, want.ipAddress);
    if (!want.Used()) continue;
    EXPECT_EQ(got.deviceName, want.deviceName);
    EXPECT_EQ(got.macText, want.macText);
    EXPECT_EQ(got.portIndex, want.portIndex);
    EXPECT_EQ(got.tcpFlag, want.tcpFlag);
  }
  EXPECT_EQ(second.scanStartAddress, Ip(10, 1, 2, 3));
  EXPECT_EQ(second.scanStopOctet, 40);
  std::remove(path.c_str());
}

BOOL CALLBACK FindIcon(HWND child, LPARAM found) {
  if ((GetWindowLongA(child, GWL_STYLE) & SS_TYPEMASK) != SS_ICON) return TRUE;
  *reinterpret_cast<HICON*>(found) =
      reinterpret_cast<HICON>(SendMessageA(child, STM_GETICON, 0, 0));
  return FALSE;
}

// The icon of a message box: the handle its icon control shows.
HICON MessageBoxIcon(HWND box) {
  HICON icon = nullptr;
  EnumChildWindows(box, FindIcon, reinterpret_cast<LPARAM>(&icon));
  return icon;
}

TEST_F(AutoDetectTest, ExportToAFileInUseSaysTheFileWasNotWrittenAndStaysOpen) {
  const std::string path = folder_.File("in_use.ini");
  ASSERT_TRUE(WriteFileText(path, "[Keep]\r\nkey=1\r\n"));
  // Another program holds the file open without sharing it.
  HANDLE held = CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  MainDialogSession session =
      MakeSession({{"Keys", Ip(10, 1, 2, 3), "00A0DE000001"}}, folder_.Path(), Ip(10, 1, 2, 3), 40);
  std::vector<std::string> texts;
  HICON icon = nullptr;
  bool openAfter = false;
  const int result = RunMainDialog(session, [&](Ui& ui) {
    WithAutoDetect(ui, [&](DialogDriver& d) {
      d.Click(IDC_AD_EXPORT);
      HWND chooser = FindThreadWindow(
          ui.thread, [&](HWND w) { return WindowTitle(w) == Text(kTextSaveFileTitle); });
      if (!chooser) return;
      for (int id : {edt1, cmb13}) {
        if (HWND box = GetDlgItem(chooser, id)) SetWindowTextA(box, path.c_str());
      }
      PostMessageA(chooser, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                   reinterpret_cast<LPARAM>(GetDlgItem(chooser, IDOK)));
      // The file exists: the chooser asks before replacing it.
      if (HWND ask = FindThreadWindow(ui.thread, [](HWND w) { return GetDlgItem(w, IDYES); }))
        PostMessageA(ask, WM_COMMAND, IDYES, 0);
      HWND box = FindThreadWindow(ui.thread, IsMessageBox);
      if (!box) return;
      icon = MessageBoxIcon(box);
      texts = TakeMessageBox(ui.thread);
      d.Sync();
      openAfter = d.DialogOpen();
    });
    ui.main.Click(IDOK);
  });
  CloseHandle(held);
  EXPECT_TRUE(Contains(texts, Text(kTextExportFailed)));
  EXPECT_FALSE(Contains(texts, Text(kTextSaveFailed)));
  EXPECT_EQ(icon, LoadIconA(nullptr, IDI_ERROR));
  EXPECT_TRUE(openAfter);
  EXPECT_EQ(ReadFileText(path), std::optional<std::string>("[Keep]\r\nkey=1\r\n"));
  ASSERT_EQ(result, IDOK);
  EXPECT_EQ(session.entries[0].deviceName, "Keys");
  EXPECT_EQ(session.entries[1].ipAddress, 0u);
  std::remove(path.c_str());
}

// Imports a file through the open dialog. Either the dialog closes (then the main
// dialog saves and the session holds the table), or string 8 comes up, after which the
// dialog must still be open and is cancelled.
struct ImportOutcome {
  bool chooserShown = false;
  bool rejected = false;
  bool openAfterRejection = false;
  int result = -1;
};

ImportOutcome ImportThroughDialog(MainDialogSession& session, const std::string& path) {
  ImportOutcome outcome;
  outcome.result = RunMainDialog(session, [&](Ui& ui) {
    WithAutoDetect(ui, [&](DialogDriver& d) {
      d.Click(IDC_AD_IMPORT);
      outcome.chooserShown = ChooseFile(ui.thread, Text(kTextOpenFileTitle), path).has_value();
      // Either the dialog closes or the message comes up over it.
      WaitUntil([&] {
        return !IsWindow(d.Window()) || FindThreadWindow(ui.thread, IsMessageBox, 0) != nullptr;
      });
      if (!IsWindow(d.Window())) return;
      outcome.rejected = Contains(TakeMessageBox(ui.thread), Text(kTextNotSetupFile));
      d.Sync();
      outcome.openAfterRejection = d.DialogOpen();
    });
    ui.main.Click(IDOK);
  });
  return outcome;
}

TEST_F(AutoDetectTest, FileThatIsNotASetupFileGetsTheMessageAndChangesNothing) {
  const std::string path = folder_.File("notes.ini");
  ASSERT_TRUE(WriteFileText(path, "[Something]\r\nkey=1\r\n"));
  const std::string missing = folder_.File("missing.ini");
  for (const std::string& chosen : {path, missing}) {
    SCOPED_TRACE(chosen);
    MainDialogSession session =
        MakeSession({{"Keys", Ip(10, 0, 0, 1), "00A0DE000001"}}, folder_.Path());
    const MainDialogSession before = session;
    const ImportOutcome outcome = ImportThroughDialog(session, chosen);
    EXPECT_TRUE(outcome.chooserShown);
    EXPECT_TRUE(outcome.rejected);
    EXPECT_TRUE(outcome.openAfterRejection);
    ASSERT_EQ(outcome.result, IDOK);
    for (int slot = 0; slot < kSlotCount; ++slot) {
      EXPECT_EQ(session.entries[slot].ipAddress, before.entries[slot].ipAddress) << slot;
    }
    EXPECT_EQ(session.entries[0].deviceName, "Keys");
    EXPECT_EQ(session.scanStartAddress, before.scanStartAddress);
  }
  std::remove(path.c_str());
}

std::string Slot0(const std::string& name, const std::string& address, const std::string& mac,
                  const std::string& port) {
  return "[Device Name]\r\n0=" + name + "\r\n[IP Address]\r\n0=" + address +
         "\r\n[Protect No]\r\n0=" + mac + "\r\n[Device ID]\r\n0=" + port + "\r\n";
}

TEST_F(AutoDetectTest, BadSetupFilesNeverCrashAndGiveTheMessageOrTheFileValues) {
  std::string junk(4096, '\0');
  std::uint32_t seed = 12345;
  for (char& c : junk) {
    seed = seed * 1103515245u + 12345u;
    c = static_cast<char>(seed >> 24);
  }
  const std::string longName(10000, 'N');
  struct Case {
    const char* label;
    std::string content;
    bool rejected;
    std::function<void(const MainDialogSession&)> check;
  };
  const std::vector<Case> cases = {
      {"binary junk", junk, true, nullptr},
      {"no Device ID section",
       "[Device Name]\r\n0=A\r\n[IP Address]\r\n0=167772161\r\n[Protect No]\r\n0=00\r\n", true,
       nullptr},
      {"address -1", Slot0("A", "-1", "00A0DE000001", "0"), true, nullptr},
      {"port -1", Slot0("A", "167772161", "00A0DE000001", "-1"), true, nullptr},
      {"name ERROR", Slot0("ERROR", "167772161", "00A0DE000001", "0"), true, nullptr},
      {"negative port", Slot0("A", "167772161", "00A0DE000001", "-5"), false,
       [](const MainDialogSession& s) {
         EXPECT_EQ(s.entries[0].ipAddress, Ip(10, 0, 0, 1));
         EXPECT_EQ(s.entries[0].portIndex, 251);
         EXPECT_EQ(s.entries[0].tcpFlag, 1);  // no Tcp section
       }},
      {"huge values",
       Slot0("A", "167772161", "00A0DE000001", "999999999999999999999") +
           "[IP Address]\r\n1=99999999999999999999999\r\n[Device ID]\r\n1=4294967297\r\n"
           "[Net Address]\r\nValue=99999999999999999\r\n[Stop Address Field3]\r\n"
           "Value=100000\r\n",
       false,
       [](const MainDialogSession& s) {
         EXPECT_EQ(s.entries[0].ipAddress, Ip(10, 0, 0, 1));
         EXPECT_EQ(s.entries[0].deviceName, "A");
         EXPECT_LE(s.scanStopOctet, 255);  // the range fields cap it
       }},
      {"10,000-character name", Slot0(longName, "167772161", "00A0DE000001", "2"), false,
       [](const MainDialogSession& s) {
         EXPECT_EQ(s.entries[0].deviceName, std::string(259, 'N'));
         EXPECT_EQ(s.entries[0].portIndex, 2);
       }},
      {"no range sections", Slot0("A", "-1062731774", "00A0DE000001", "0"), false,
       [](const MainDialogSession& s) {
         EXPECT_EQ(s.entries[0].ipAddress, Ip(192, 168, 0, 2));
         EXPECT_EQ(s.entries[1].ipAddress, 0u);
         EXPECT_EQ(s.scanStartAddress, Ip(192, 168, 0, 2));
         EXPECT_EQ(s.scanStopOctet, 2);
       }},
  };
  const std::string path = folder_.File("bad.ini");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    ASSERT_TRUE(WriteFileText(path, c.content));
    MainDialogSession session =
        MakeSession({{"Keys", Ip(10, 9, 9, 9), "00A0DE000009"}}, folder_.Path());
    const ImportOutcome outcome = ImportThroughDialog(session, path);
    EXPECT_TRUE(outcome.chooserShown);
    EXPECT_EQ(outcome.rejected, c.rejected);
    ASSERT_EQ(outcome.result, IDOK);
    if (c.rejected) {
      EXPECT_TRUE(outcome.openAfterRejection);
      EXPECT_EQ(session.entries[0].deviceName, "Keys");
      EXPECT_EQ(session.entries[0].ipAddress, Ip(10, 9, 9, 9));
    } else if (c.check) {
      c.check(session);
    }
    std::remove(path.c_str());
  }
}

TEST_F(AutoDetectTest, CancelKeepsTheRangeTypedIntoTheStartFields) {
  MainDialogSession session =
      MakeSession({{"Keys", Ip(10, 0, 0, 1), "00A0DE000001"}}, folder_.Path());
  std::string typedStart, typedStop;
  const int result = RunMainDialog(session, [&](Ui& ui) {
    WithAutoDetect(ui, [&](DialogDriver& d) {
      d.ClickField(IDC_AD_START1);
      d.Type("10.0.0.5");
      d.ClickField(IDC_AD_STOP);
      d.Type("20");
      typedStart = d.Text(IDC_AD_START1) + "." + d.Text(IDC_AD_START2) + "." +
                   d.Text(IDC_AD_START3) + "." + d.Text(IDC_AD_START4);
      typedStop = d.Text(IDC_AD_STOP);
      d.Click(IDCANCEL);
    });
    ui.main.Click(IDOK);
  });
  EXPECT_EQ(typedStart, "10.0.0.5");
  EXPECT_EQ(typedStop, "20");
  ASSERT_EQ(result, IDOK);
  EXPECT_EQ(session.scanStartAddress, Ip(10, 0, 0, 5));
  EXPECT_EQ(session.scanStopOctet, 20);
  EXPECT_EQ(session.entries[0].deviceName, "Keys");
  EXPECT_EQ(session.entries[1].ipAddress, 0u);
}

int RowNamed(DialogDriver& d, const std::string& name) {
  for (int row = 0; row < d.Rows(); ++row) {
    if (d.RowText(row, 0) == name) return row;
  }
  return -1;
}

std::string SelectedName(DialogDriver& d) {
  const int row = ListView_GetNextItem(d.Item(IDC_DEVICE_LIST), -1, LVNI_SELECTED);
  return row < 0 ? std::string("(none)") : d.RowText(row, 0);
}

// Scans the dialog's range and checks the rows at these addresses, then adds them.
void ScanCheckAndAdd(DialogDriver& d, std::initializer_list<std::uint32_t> addresses) {
  d.Click(IDC_AD_START);
  WaitUntil([&] { return ScanFinished(d); });
  d.Sync();
  for (std::uint32_t address : addresses) {
    const int row = RowOf(ResultRows(d), address);
    if (row >= 0) d.ClickRow(row, IDC_AD_RESULTS);
  }
  d.Click(IDOK);
}

// The main dialog after the merge: what it selects and shows, and what Undo brings back.
TEST_F(AutoDetectTest, UndoAfterAddingFoundUnitsRestoresTheTableAndTheSelection) {
  SubstituteServer server("unit 192.168.5.10 mac 00A0DE000010\n");
  ASSERT_TRUE(server.Running()) << server.Error();
  MainDialogSession session = MakeSession({{"Keys", Ip(192, 168, 5, 50), "00A0DE000050"},
                                           {"Pads", Ip(192, 168, 5, 51), "00A0DE000051"}},
                                          folder_.Path(), Ip(192, 168, 5, 10), 10);
  int rowsAdded = 0, rowsUndone = 0;
  std::string selectedAdded, nameAdded, selectedUndone, nameUndone;
  bool undoAfterAdd = false, undoAfterUndo = true;
  const int result = RunMainDialog(session, [&](Ui& ui) {
    ui.main.SelectRow(RowNamed(ui.main, "Pads"));
    ASSERT_TRUE(
        WithAutoDetect(ui, [&](DialogDriver& d) { ScanCheckAndAdd(d, {Ip(192, 168, 5, 10)}); }));
    rowsAdded = ui.main.Rows();
    selectedAdded = SelectedName(ui.main);
    nameAdded = ui.main.Text(IDC_DEVICE_NAME);
    undoAfterAdd = ui.main.Enabled(IDC_UNDO);
    ui.main.Click(IDC_UNDO);
    rowsUndone = ui.main.Rows();
    selectedUndone = SelectedName(ui.main);
    nameUndone = ui.main.Text(IDC_DEVICE_NAME);
    undoAfterUndo = ui.main.Enabled(IDC_UNDO);
    ui.main.Click(IDOK);
  });
  EXPECT_EQ(rowsAdded, 3);
  EXPECT_EQ(selectedAdded, "UNIT3");
  EXPECT_EQ(nameAdded, "UNIT3");
  EXPECT_TRUE(undoAfterAdd);
  EXPECT_EQ(rowsUndone, 2);
  EXPECT_EQ(selectedUndone, "Pads");
  EXPECT_EQ(nameUndone, "Pads");
  EXPECT_FALSE(undoAfterUndo);
  ASSERT_EQ(result, IDOK);
  EXPECT_EQ(session.entries[1].deviceName, "Pads");
  EXPECT_EQ(session.entries[2].ipAddress, 0u);
}

TEST_F(AutoDetectTest, ImportedUnitIsCheckedAgainstTheServersMac) {
  SubstituteServer server("unit 10.4.4.4 mac 00A0DE000044\n");
  ASSERT_TRUE(server.Running()) << server.Error();
  const std::string path = folder_.File("moved.ini");
  ASSERT_TRUE(WriteFileText(path, Slot0("Desk", "168035332", "00A0DE000099", "0")));  // 10.4.4.4
  MainDialogSession session =
      MakeSession({{"Keys", Ip(10, 9, 9, 9), "00A0DE000009"}}, folder_.Path());
  std::string mac;
  bool macFieldsEnabled = true, applyEnabled = false;
  RunMainDialog(session, [&](Ui& ui) {
    WithAutoDetect(ui, [&](DialogDriver& d) {
      d.Click(IDC_AD_IMPORT);
      ChooseFile(ui.thread, Text(kTextOpenFileTitle), path);
      WaitUntil([&] { return !IsWindow(d.Window()); });
    });
    mac = ui.main.Mac();
    macFieldsEnabled = ui.main.Enabled(IDC_MAC1);
    applyEnabled = ui.main.Enabled(IDC_APPLY);
    ui.main.Click(IDOK);
  });
  // The server's MAC is shown, locked, and can be taken over with Apply.
  EXPECT_EQ(mac, "00A0DE000044");
  EXPECT_FALSE(macFieldsEnabled);
  EXPECT_TRUE(applyEnabled);
  std::remove(path.c_str());
}

TEST_F(AutoDetectTest, TwoUnitsWithoutAMacCanEachBeRenamedAndApplied) {
  SubstituteServer server(
      "unit 192.168.9.10 mac none\n"
      "unit 192.168.9.11 mac none\n");
  ASSERT_TRUE(server.Running()) << server.Error();
  MainDialogSession session = MakeSession({}, folder_.Path(), Ip(192, 168, 9, 10), 11);
  std::vector<bool> applyEnabled;
  const int result = RunMainDialog(session, [&](Ui& ui) {
    ASSERT_TRUE(WithAutoDetect(ui, [&](DialogDriver& d) {
      ScanCheckAndAdd(d, {Ip(192, 168, 9, 10), Ip(192, 168, 9, 11)});
    }));
    for (const auto& [from, to] : {std::pair{"UNIT1", "Left"}, std::pair{"UNIT2", "Right"}}) {
      ui.main.SelectRow(RowNamed(ui.main, from));
      ui.main.ClickField(IDC_DEVICE_NAME);
      ui.main.Type(to);
      applyEnabled.push_back(ui.main.Enabled(IDC_APPLY));
      ui.main.Click(IDC_APPLY);
    }
    // A new entry with an all-zero MAC still clashes with them.
    ui.main.Click(IDC_NEW);
    ui.main.ClickField(IDC_DEVICE_NAME);
    ui.main.Type("Third");
    ui.main.ClickField(IDC_OCTET1);
    ui.main.Type("10.0.0.3");
    applyEnabled.push_back(ui.main.Enabled(IDC_APPLY));
    ui.main.Click(IDOK);
  });
  EXPECT_EQ(applyEnabled, (std::vector<bool>{true, true, false}));
  ASSERT_EQ(result, IDOK);
  EXPECT_EQ(session.entries[0].deviceName, "Left");
  EXPECT_EQ(session.entries[1].deviceName, "Right");
  EXPECT_EQ(session.entries[0].macText, "000000000000");
  EXPECT_EQ(session.entries[1].macText, "000000000000");
  EXPECT_EQ(session.entries[2].ipAddress, 0u);
}

// Text on the clipboard and WM_PASTE to the focused field, as Ctrl+V does it.
void Paste(DialogDriver& d, const std::string& text) {
  if (!OpenClipboard(d.Window())) return;
  EmptyClipboard();
  if (HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, text.size() + 1)) {
    std::memcpy(GlobalLock(memory), text.c_str(), text.size() + 1);
    GlobalUnlock(memory);
    if (!SetClipboardData(CF_TEXT, memory)) GlobalFree(memory);
  }
  CloseClipboard();
  PostMessageA(d.Focus(), WM_PASTE, 0, 0);
  d.Sync();
}

TEST_F(AutoDetectTest, FourDigitsPastedIntoTheFirstFieldAreCappedAt223) {
  MainDialogSession session = MakeSession({}, folder_.Path(), Ip(192, 168, 0, 2), 2);
  std::string shown;
  int focusAfter = 0;
  RunMainDialog(session, [&](Ui& ui) {
    WithAutoDetect(ui, [&](DialogDriver& d) {
      d.ClickField(IDC_AD_START1);
      Paste(d, "1234");
      shown = d.Text(IDC_AD_START1);
      focusAfter = d.FocusId();
      d.Click(IDCANCEL);
    });
    ui.main.Click(IDOK);  // the range reaches the session with the save
  });
  EXPECT_EQ(shown, "223");
  EXPECT_EQ(focusAfter, IDC_AD_START2);
  EXPECT_EQ(session.scanStartAddress, Ip(223, 168, 0, 2));
}

// ---------------------------------------------------------------------------
// How the dialog looks in the user's language: before, during and after a scan, and
// the message of a rejected file. Texts must fit their controls and controls must not
// overlap, whatever font the language brings; the pictures are kept for a person to
// look at (ORVEL_SCREENSHOT_DIR).

BOOL CALLBACK CollectChild(HWND child, LPARAM children) {
  if (GetParent(child) == GetAncestor(child, GA_PARENT) && IsWindowVisible(child))
    reinterpret_cast<std::vector<HWND>*>(children)->push_back(child);
  return TRUE;
}

std::string ClassOf(HWND window) {
  char name[64] = {};
  GetClassNameA(window, name, sizeof(name));
  return name;
}

// Every text that does not fit its control or list column, every two controls that
// overlap (a group box may hold others), every list column wider than it needs or past
// the list's edge and list picture not at the DPI's size, and the face the dialog's
// texts were drawn in.
struct Layout {
  std::vector<std::string> clipped;
  std::vector<std::string> overlaps;
  std::vector<std::string> lists;
  std::string face;
};

Layout LayoutOf(HWND dialog) {
  std::vector<HWND> children;
  EnumChildWindows(dialog, CollectChild, reinterpret_cast<LPARAM>(&children));
  Layout layout;
  std::vector<std::string>& faults = layout.clipped;
  std::vector<std::pair<HWND, RECT>> boxes;
  for (HWND child : children) {
    if (GetParent(child) != dialog) continue;
    const std::string kind = ClassOf(child);
    const LONG style = GetWindowLongA(child, GWL_STYLE);
    const bool groupBox = kind == "Button" && (style & BS_TYPEMASK) == BS_GROUPBOX;
    RECT client{};
    GetClientRect(child, &client);
    const std::string text = WindowTitle(child);
    if (!text.empty() && (kind == "Button" || kind == "Static")) {
      HDC dc = GetDC(child);
      HGDIOBJ old =
          SelectObject(dc, reinterpret_cast<HFONT>(SendMessageA(child, WM_GETFONT, 0, 0)));
      RECT need = {0, 0, client.right, 0};
      const bool wraps = kind == "Static" && (style & SS_TYPEMASK) <= SS_RIGHT;
      DrawTextA(dc, text.c_str(), -1, &need, DT_CALCRECT | (wraps ? DT_WORDBREAK : DT_SINGLELINE));
      char face[LF_FACESIZE] = {};
      GetTextFaceA(dc, sizeof(face), face);
      layout.face = face;
      SelectObject(dc, old);
      ReleaseDC(child, dc);
      // Room a button's frame, a box's check mark or a group box's indent takes.
      const int frame = kind == "Static" ? 0 : groupBox ? 16 : 6;
      if (need.right + frame > client.right || need.bottom > client.bottom + (groupBox ? 100 : 0))
        faults.push_back(Joined(
            {"\"", text, "\" needs ", std::to_string(need.right), "x", std::to_string(need.bottom),
             ", has ", std::to_string(client.right), "x", std::to_string(client.bottom)}));
    }
    if (kind == "SysListView32") CheckList(child, layout.clipped, layout.lists);
    RECT box{};
    GetWindowRect(child, &box);
    if (!groupBox) boxes.emplace_back(child, box);
  }
  for (std::size_t i = 0; i < boxes.size(); ++i) {
    for (std::size_t j = i + 1; j < boxes.size(); ++j) {
      RECT overlap{};
      // Controls that touch in dialog units may share one pixel column once rounded.
      if (IntersectRect(&overlap, &boxes[i].second, &boxes[j].second) &&
          overlap.right - overlap.left > 1 && overlap.bottom - overlap.top > 1)
        layout.overlaps.push_back(Joined({"\"", WindowTitle(boxes[i].first), "\" (",
                                          std::to_string(GetDlgCtrlID(boxes[i].first)),
                                          ") overlaps \"", WindowTitle(boxes[j].first), "\" (",
                                          std::to_string(GetDlgCtrlID(boxes[j].first)), ")"}));
    }
  }
  return layout;
}

// The window as it stands on the screen, as a 24-bit BMP file.
bool SaveWindowImage(HWND window, const std::string& path) {
  RECT box{};
  GetWindowRect(window, &box);
  const int width = box.right - box.left, height = box.bottom - box.top;
  if (width <= 0 || height <= 0) return false;
  // What the display shows, once it has caught up with the painting (PrintWindow
  // gives only the background here). Without a window manager the caption stays dark.
  RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
  Sleep(500);
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
  HGDIOBJ old = SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, width, height, screen, box.left, box.top, SRCCOPY);
  SelectObject(memory, old);
  BITMAPINFOHEADER info{};
  info.biSize = sizeof info;
  info.biWidth = width;
  info.biHeight = height;
  info.biPlanes = 1;
  info.biBitCount = 24;
  info.biCompression = BI_RGB;
  const int stride = (width * 3 + 3) & ~3;
  std::vector<char> bits(static_cast<std::size_t>(stride) * height);
  GetDIBits(memory, bitmap, 0, height, bits.data(), reinterpret_cast<BITMAPINFO*>(&info),
            DIB_RGB_COLORS);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  // A picture of one or two flat colours caught nothing of the dialog.
  std::set<std::uint32_t> colours;
  for (int y = 0; y < height && colours.size() <= 8; ++y) {
    const char* row = bits.data() + static_cast<std::size_t>(y) * stride;
    for (int x = 0; x < width; ++x) {
      const auto* p = reinterpret_cast<const unsigned char*>(row + 3 * x);
      colours.insert(p[0] | p[1] << 8 | p[2] << 16);
    }
  }
  const bool printed = colours.size() > 8;
  BITMAPFILEHEADER file{};
  file.bfType = 0x4D42;
  file.bfOffBits = sizeof file + sizeof info;
  file.bfSize = file.bfOffBits + static_cast<DWORD>(bits.size());
  FILE* out = std::fopen(path.c_str(), "wb");
  if (!out) return false;
  const bool written = std::fwrite(&file, sizeof file, 1, out) == 1 &&
                       std::fwrite(&info, sizeof info, 1, out) == 1 &&
                       std::fwrite(bits.data(), bits.size(), 1, out) == 1;
  return std::fclose(out) == 0 && written && printed;
}

std::string ScreenshotPath(const std::string& what) {
  char language[16] = {};
  std::snprintf(language, sizeof(language), "%04x", GetUserDefaultUILanguage());
  const int dpi = DpiOf(nullptr);
  const std::string scale = dpi == 96 ? "" : "_" + std::to_string(dpi) + "dpi";
  CreateDirectoryA(ORVEL_SCREENSHOT_DIR, nullptr);
  return Joined({ORVEL_SCREENSHOT_DIR, "\\auto_detect_", language, scale, "_", what, ".bmp"});
}

// The UI language the run was started for (ORVEL_EXPECTED_UI_LANGUAGE, hex), if any.
std::optional<LANGID> ExpectedUiLanguage() {
  char value[16] = {};
  if (!GetEnvironmentVariableA("ORVEL_EXPECTED_UI_LANGUAGE", value, sizeof(value)))
    return std::nullopt;
  return static_cast<LANGID>(std::strtoul(value, nullptr, 16));
}

TEST(AutoDetectScreens, RunsInTheLanguageItWasStartedFor) {
  const std::optional<LANGID> expected = ExpectedUiLanguage();
  if (!expected) GTEST_SKIP() << "no language asked for";
  ASSERT_EQ(GetUserDefaultUILanguage(), *expected)
      << "the prefix did not take the language; is its locale generated?";
  if (PRIMARYLANGID(*expected) == LANG_JAPANESE) {
    // The table's Japanese text 8, as UTF-8.
    wchar_t text[128] = {};
    LoadStringW(GetModuleHandleA(nullptr), kTextNotSetupFile, text, 128);
    EXPECT_EQ(std::wstring(text),
              L"Quorin Network Driver\u306e\u8a2d\u5b9a\u30d5\u30a1"
              L"\u30a4\u30eb\u3067\u306f\u3042\u308a\u307e\u305b"
              L"\u3093\u3002");
  }
}

TEST_F(AutoDetectTest, TextsFitAndNothingOverlapsBeforeDuringAndAfterAScan) {
  SubstituteServer server(
      "unit 192.168.7.10 mac 00A0DE000010\n"
      "unit 192.168.7.20 mac 00A0DE000020\n"
      "unit 192.168.7.30 mac 00A0DE000030\n"
      "unit 192.168.7.200 mac 00A0DE0000C8\n");
  ASSERT_TRUE(server.Running()) << server.Error();
  const std::string junk = folder_.File("junk.ini");
  ASSERT_TRUE(WriteFileText(junk, "not a setup file"));
  MainDialogSession session = MakeSession({{"Keys", Ip(192, 168, 7, 20), "00A0DE000020"}},
                                          folder_.Path(), Ip(192, 168, 7, 1), 254);
  struct Shot {
    std::string what;
    Layout layout;
    bool saved = false;
  };
  std::vector<Shot> shots;
  bool sawScanRunning = false;
  std::vector<std::string> message;
  RunMainDialog(session, [&](Ui& ui) {
    ui.main.Sync();
    shots.push_back({"main", LayoutOf(ui.main.Window()),
                     SaveWindowImage(ui.main.Window(), ScreenshotPath("main"))});
    WithAutoDetect(ui, [&](DialogDriver& d) {
      auto shoot = [&](const std::string& what, HWND window) {
        d.Sync();
        shots.push_back({what, LayoutOf(window), SaveWindowImage(window, ScreenshotPath(what))});
      };
      shoot("before", d.Window());
      d.Click(IDC_AD_START);
      // Part way: the first units are listed and the progress line moves.
      WaitUntil([&] { return d.Rows(IDC_AD_RESULTS) >= 2; });
      sawScanRunning = d.Enabled(IDC_AD_ABORT);
      shoot("during", d.Window());
      WaitUntil([&] { return ScanFinished(d); });
      shoot("after", d.Window());
      d.Click(IDC_AD_IMPORT);
      ChooseFile(ui.thread, Text(kTextOpenFileTitle), junk);
      HWND box = FindThreadWindow(ui.thread, IsMessageBox);
      if (box) {
        WaitUntil([&] { return IsWindowVisible(box) != FALSE; });
        Sleep(200);
        shots.push_back({"message", {}, SaveWindowImage(box, ScreenshotPath("message"))});
      }
      message = TakeMessageBox(ui.thread);
    });
  });
  EXPECT_TRUE(sawScanRunning);
  ASSERT_EQ(shots.size(), 5u);
  // A run at another scaling (ORVEL_EXPECTED_DPI) must really have had it.
  char expectedDpi[8] = {};
  if (GetEnvironmentVariableA("ORVEL_EXPECTED_DPI", expectedDpi, sizeof(expectedDpi))) {
    EXPECT_EQ(DpiOf(nullptr), std::atoi(expectedDpi));
  }
  for (const Shot& shot : shots) {
    EXPECT_TRUE(shot.saved) << shot.what;
    for (const std::string& fault : shot.layout.overlaps)
      ADD_FAILURE() << shot.what << ": " << fault;
    for (const std::string& fault : shot.layout.lists) ADD_FAILURE() << shot.what << ": " << fault;
    if (shot.layout.face.empty() || shot.layout.face == "Tahoma") {
      for (const std::string& fault : shot.layout.clipped)
        ADD_FAILURE() << shot.what << ": " << fault;
    } else if (!shot.layout.clipped.empty()) {
      // Windows keeps a dialog's Tahoma in every language and links the glyphs it
      // lacks; Wine replaces a face that lacks the code page's character set (in a
      // Japanese prefix, with a fixed-width font), so its measures say nothing about
      // the dialog on Windows.
      std::printf("%s: drawn in a replacement face; %zu texts would clip, not counted\n",
                  shot.what.c_str(), shot.layout.clipped.size());
      RecordProperty(shot.what + "_clipped_in_replacement_face",
                     static_cast<int>(shot.layout.clipped.size()));
    }
  }
  EXPECT_TRUE(Contains(message, Text(kTextNotSetupFile)));
  std::remove(junk.c_str());
}

}  // namespace
}  // namespace orvel::test
