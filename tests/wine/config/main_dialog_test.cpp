// The real main dialog in this process, typed into through its message loop (posted
// key and mouse messages, as the user makes them) from a second thread, against the
// substitute server.
#include <windows.h>
// after windows.h
#include <commctrl.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "config/core/configure_app.h"
#include "config/core/win32_server_channel.h"
#include "config/resources/resource.h"
#include "config/ui/win32_applet_dialog.h"
#include "tests/wine/config/dialog_driver.h"
#include "tests/wine/support/substitute_server.h"

namespace orvel::test {
namespace {

constexpr DWORD kTimeoutMs = kDriverTimeoutMs;

bool AlwaysAdministrator() { return true; }

std::uint32_t Ip(int a, int b, int c, int d) {
  return static_cast<std::uint32_t>(a) << 24 | static_cast<std::uint32_t>(b) << 16 |
         static_cast<std::uint32_t>(c) << 8 | static_cast<std::uint32_t>(d);
}

BOOL CALLBACK FindMainDialog(HWND window, LPARAM result) {
  if (GetDlgItem(window, IDC_DEVICE_LIST) && IsWindowVisible(window)) {
    *reinterpret_cast<HWND*>(result) = window;
    return FALSE;
  }
  return TRUE;
}

struct Unit {
  const char* name;
  std::uint32_t address;
  const char* mac;
};

// Runs the dialog on this thread with the units; script runs on a driver thread and
// must leave the dialog closed (or it is cancelled).
struct DialogOutcome {
  int result = -1;
  MainDialogSession session;
};

DialogOutcome RunDialog(std::initializer_list<Unit> units,
                        const std::function<void(DialogDriver&)>& script) {
  MainDialogSession session;
  for (int slot = 0; slot < kSlotCount; ++slot) session.entries[slot] = DefaultDeviceEntry(slot);
  int slot = 0;
  for (const Unit& unit : units) {
    session.entries[slot].deviceName = unit.name;
    session.entries[slot].ipAddress = unit.address;
    session.entries[slot].macText = unit.mac;
    ++slot;
  }
  session.scanStartAddress = Ip(192, 168, 0, 2);
  session.scanStopOctet = 2;

  Win32ServerChannel server;
  ui::CAppletDlg dialog(GetModuleHandleA(nullptr), server, &AlwaysAdministrator);
  const DWORD uiThread = GetCurrentThreadId();
  std::thread driver([&] {
    HWND window = nullptr;
    // The dialog is created on the other thread; wait for it there.
    const ULONGLONG deadline = GetTickCount64() + kTimeoutMs;
    while (!window && GetTickCount64() < deadline) {
      EnumThreadWindows(uiThread, FindMainDialog, reinterpret_cast<LPARAM>(&window));
      if (!window) Sleep(20);
    }
    if (!window) return;
    {
      DialogDriver d(window, uiThread);
      script(d);
    }
    if (IsWindow(window)) PostMessageA(window, WM_COMMAND, IDCANCEL, 0);
  });
  DialogOutcome outcome;
  outcome.result = dialog.RunModal(session);
  driver.join();
  outcome.session = session;
  return outcome;
}

class MainDialogTest : public ::testing::Test {};

TEST_F(MainDialogTest, TypedAddressWithKnownMacLocksAndFillsMacFields) {
  SubstituteServer server("unit 10.0.0.25 mac 00A0DE0B0C0D\n");
  ASSERT_TRUE(server.Running()) << server.Error();
  std::string mac, address;
  bool macEnabled = true;
  RunDialog({{"Keys", Ip(10, 0, 0, 1), "000000000001"}}, [&](DialogDriver& d) {
    d.ClickField(IDC_OCTET1);
    d.Type("10.0.0.25");
    address = d.Address();
    mac = d.Mac();
    macEnabled = d.Enabled(IDC_MAC1) || d.Enabled(IDC_MAC6);
  });
  EXPECT_EQ(address, "10.0.0.25");
  EXPECT_EQ(mac, "00A0DE0B0C0D");
  EXPECT_FALSE(macEnabled);
}

TEST_F(MainDialogTest, WithoutServerMacFieldsStayEditable) {
  std::string mac;
  bool macEnabled = false;
  RunDialog({{"Keys", Ip(10, 0, 0, 1), "00112233445A"}}, [&](DialogDriver& d) {
    d.ClickField(IDC_OCTET1);
    d.Type("10.0.0.25");
    mac = d.Mac();
    macEnabled = d.Enabled(IDC_MAC1) && d.Enabled(IDC_MAC6);
  });
  EXPECT_EQ(mac, "00112233445A");
  EXPECT_TRUE(macEnabled);
}

TEST_F(MainDialogTest, TypedAddressesWithDotsLandInTheirFields) {
  for (const char* typed : {"192.168.0.10", "10.0.0.25", "172.16.254.1", "1.2.3.4"}) {
    std::string address;
    RunDialog({{"Keys", Ip(9, 9, 9, 9), "000000000001"}}, [&](DialogDriver& d) {
      d.ClickField(IDC_OCTET1);
      d.Type(typed);
      address = d.Address();
    });
    EXPECT_EQ(address, typed);
  }
}

TEST_F(MainDialogTest, EnterInAFieldLeavesTheDialogOpen) {
  bool openAfterEnter = false;
  const DialogOutcome outcome =
      RunDialog({{"Keys", Ip(10, 0, 0, 1), "000000000001"}}, [&](DialogDriver& d) {
        for (int id : {IDC_DEVICE_NAME, IDC_OCTET2, IDC_MAC3}) {
          d.ClickField(id);
          d.Key(VK_RETURN);
        }
        openAfterEnter = d.DialogOpen();
      });
  EXPECT_TRUE(openAfterEnter);
  EXPECT_EQ(outcome.result, IDCANCEL);
}

TEST_F(MainDialogTest, NewEntryTypedAndAppliedIsInTheTable) {
  SubstituteServer server("unit 10.0.0.9 mac 000102030409\n");
  ASSERT_TRUE(server.Running()) << server.Error();
  int rows = 0;
  const DialogOutcome outcome =
      RunDialog({{"Keys", Ip(10, 0, 0, 1), "000000000001"}}, [&](DialogDriver& d) {
        d.Click(IDC_NEW);
        d.ClickField(IDC_DEVICE_NAME);
        d.Type("Pads");
        d.ClickField(IDC_OCTET1);
        d.Type("10.0.0.9");
        d.Click(IDC_APPLY);
        rows = d.Rows();
        d.Click(IDOK);
      });
  EXPECT_EQ(rows, 2);
  ASSERT_EQ(outcome.result, IDOK);
  EXPECT_EQ(outcome.session.entries[1].deviceName, "Pads");
  EXPECT_EQ(outcome.session.entries[1].ipAddress, Ip(10, 0, 0, 9));
  EXPECT_EQ(outcome.session.entries[1].macText, "000102030409");
}

TEST_F(MainDialogTest, ClickRightAfterAddressCommitActsExactlyOnce) {
  // Octet 3 is committed when the click on Remove takes the focus away, and its look-up
  // moves the focus about before the button sees its click. Where that costs the button
  // its click, the dialog clicks it; Wine's buttons keep theirs (they take the press
  // after the focus has settled), so here the test shows that the click acts, and acts
  // once: a second click would remove a second entry.
  std::vector<std::string> names;
  const DialogOutcome outcome = RunDialog({{"Keys", Ip(10, 0, 0, 1), "000000000001"},
                                           {"Pads", Ip(10, 0, 0, 2), "000000000002"},
                                           {"Bass", Ip(10, 0, 0, 3), "000000000003"}},
                                          [&](DialogDriver& d) {
                                            d.ClickField(IDC_OCTET3);
                                            d.Type("7");
                                            d.Click(IDC_REMOVE);
                                            for (int row = 0; row < d.Rows(); ++row) {
                                              names.push_back(d.RowText(row, 0));
                                            }
                                            d.Click(IDOK);
                                          });
  EXPECT_EQ(names, (std::vector<std::string>{"Pads", "Bass"}));
  ASSERT_EQ(outcome.result, IDOK);
  EXPECT_EQ(outcome.session.entries[0].deviceName, "Pads");
}

// The list's own sort moves the rows; the texts, the item data and the focus must
// travel together, and an Apply must leave the list sorted with the focus on the
// renamed row.
TEST_F(MainDialogTest, HeaderClickSortsAndApplyKeepsTheOrderAndTheFocus) {
  struct Shown {
    std::vector<std::string> names;
    std::vector<std::string> slotNames;  // the table's name for each row's item data
    std::string focused;
    std::string nameField;
  };
  Shown sorted, applied;
  const DialogOutcome outcome = RunDialog(
      {{"Gamma", Ip(10, 0, 0, 1), "000000000001"},
       {"alpha", Ip(10, 0, 0, 2), "000000000002"},
       {"Beta", Ip(10, 0, 0, 3), "000000000003"}},
      [&](DialogDriver& d) {
        const char* const tableNames[] = {"Gamma", "alpha", "Beta"};
        HWND list = d.Item(IDC_DEVICE_LIST);
        auto look = [&](Shown& shown, const char* renamed) {
          for (int row = 0; row < d.Rows(); ++row) {
            shown.names.push_back(d.RowText(row, 0));
            LVITEMA item = {};
            item.mask = LVIF_PARAM;
            item.iItem = row;
            SendMessageA(list, LVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&item));
            shown.slotNames.push_back(item.lParam == 0 && renamed ? renamed
                                                                  : tableNames[item.lParam % 3]);
          }
          const int focused = ListView_GetNextItem(list, -1, LVNI_FOCUSED);
          shown.focused = focused >= 0 ? d.RowText(focused, 0) : "<none>";
          shown.nameField = d.Text(IDC_DEVICE_NAME);
        };
        d.SelectRow(0);  // Gamma
        HWND header = ListView_GetHeader(list);
        RECT column{};
        SendMessageA(header, HDM_GETITEMRECT, 0, reinterpret_cast<LPARAM>(&column));
        d.ClickAt(header, (column.left + column.right) / 2, (column.top + column.bottom) / 2);
        look(sorted, nullptr);

        d.ClickField(IDC_DEVICE_NAME);
        d.Type("Aaa");
        d.Click(IDC_APPLY);
        look(applied, "Aaa");
        d.Click(IDOK);
      });
  EXPECT_EQ(sorted.names, (std::vector<std::string>{"Beta", "Gamma", "alpha"}));
  EXPECT_EQ(sorted.slotNames, sorted.names);
  EXPECT_EQ(sorted.focused, "Gamma");
  EXPECT_EQ(sorted.nameField, "Gamma");
  EXPECT_EQ(applied.names, (std::vector<std::string>{"Aaa", "Beta", "alpha"}));
  EXPECT_EQ(applied.slotNames, applied.names);
  EXPECT_EQ(applied.focused, "Aaa");
  ASSERT_EQ(outcome.result, IDOK);
  // The table keeps its slot order.
  EXPECT_EQ(outcome.session.entries[0].deviceName, "Aaa");
  EXPECT_EQ(outcome.session.entries[1].deviceName, "alpha");
  EXPECT_EQ(outcome.session.entries[2].deviceName, "Beta");
}

}  // namespace
}  // namespace orvel::test
