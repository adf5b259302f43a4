// "Advanced Settings" for real: the main dialog runs in this process, opens the
// auto-detect dialog, scans against the substitute server, and reads and writes setup
// files through the common file dialogs; a second thread clicks and types.
#include <windows.h>
// after windows.h
#include <commctrl.h>
#include <commdlg.h>
#include <dlgs.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "config/core/configure_app.h"
#include "config/core/server_messages.h"
#include "config/core/text_ids.h"
#include "config/core/win32_app_platform.h"
#include "config/core/win32_server_channel.h"
#include "config/resources/resource.h"
#include "config/ui/win32_applet_dialog.h"
#include "tests/wine/config/dialog_driver.h"
#include "tests/wine/support/process_util.h"
#include "tests/wine/support/substitute_server.h"

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
// dialog it leaves open is cancelled. Returns the dialog's result.
int RunMainDialog(MainDialogSession& session, const std::function<void(Ui&)>& script) {
  Win32ServerChannel server;
  ui::CAppletDlg dialog(GetModuleHandleA(nullptr), server, &AlwaysAdministrator);
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
  DialogDriver::WaitFor([&] { return !IsWindow(window); });
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
  DialogDriver::WaitFor([&] { return !IsWindow(chooser); });
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
  DialogDriver::WaitFor([&] { return !IsWindow(box); });
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
  int macWidth = 0;
  const int result = RunMainDialog(session, [&](Ui& ui) {
    ASSERT_TRUE(WithAutoDetect(ui, [&](DialogDriver& d) {
      d.Click(IDC_AD_START);
      finished = DialogDriver::WaitFor([&] { return ScanFinished(d); });
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
  EXPECT_EQ(macWidth, 140);  // four rows fit on a page
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
  int perPage = 0, narrowed = 0, rows = 0;
  bool finished = false;
  RunMainDialog(session, [&](Ui& ui) {
    WithAutoDetect(ui, [&](DialogDriver& d) {
      HWND list = d.Item(IDC_AD_RESULTS);
      perPage = ListView_GetCountPerPage(list);
      d.Click(IDC_AD_START);
      finished = DialogDriver::WaitFor([&] { return ScanFinished(d); });
      d.Sync();
      narrowed = ListView_GetColumnWidth(list, 3);
      rows = d.Rows(IDC_AD_RESULTS);
    });
  });
  ASSERT_TRUE(finished);
  ASSERT_LT(perPage, 14);
  EXPECT_EQ(rows, 14);
  EXPECT_EQ(narrowed, 123);
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
      closedByExport = DialogDriver::WaitFor([&] { return !IsWindow(d.Window()); });
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
      DialogDriver::WaitFor([&] { return !IsWindow(d.Window()); });
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
      DialogDriver::WaitFor([&] {
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

}  // namespace
}  // namespace orvel::test
