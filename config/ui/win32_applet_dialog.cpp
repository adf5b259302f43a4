#include "config/ui/win32_applet_dialog.h"

#include <array>

#include "config/core/server_messages.h"
#include "config/core/win32_app_platform.h"
#include "config/resources/resource.h"
#include "config/ui/win32_auto_detect_dialog.h"
#include "config/ui/win32_controls.h"

namespace orvel::ui {
namespace {

using Route = MessageRoute<CAppletDlg>;
using Kind = Route::Kind;

constexpr char kDigits[] = "0123456789";
constexpr char kHexDigits[] = "0123456789ABCDEF";

}  // namespace

CAppletDlg::CAppletDlg(HINSTANCE instance, ServerChannel& server, bool (*isAdministrator)(),
                       ControlAnnotation* annotation)
    : Dialog(instance, IDD_MAIN_DIALOG),
      instance_(instance),
      server_(server),
      isAdministrator_(isAdministrator),
      annotation_(annotation),
      names_(annotation),
      editor_(view_, server),
      flow_(*this, server, editor_) {}

CAppletDlg::~CAppletDlg() { DestroyHeaderImages(); }

int CAppletDlg::RunModal(MainDialogSession& session) {
  session_ = &session;
  const INT_PTR result = DoModal(nullptr);
  if (result == IDOK) flow_.CopyBack(session);
  session_ = nullptr;
  return static_cast<int>(result);
}

BOOL CAppletDlg::OnInitDialog() {
  view_.Attach(hwnd());
  flow_.OnInitDialog(*session_);
  return TRUE;
}

void CAppletDlg::OnOK() { flow_.OnOK(); }
void CAppletDlg::OnCancel() { flow_.OnCancel(); }

std::uint32_t CAppletDlg::WindowHandle() {
  return static_cast<std::uint32_t>(reinterpret_cast<UINT_PTR>(hwnd()));
}

MainDialogHost::Answer CAppletDlg::ShowMessage(TextId text, bool askYesNo) {
  const std::string body = LoadText(instance_, text);
  const std::string caption = LoadText(instance_, kTextProductName);
  const int answer = MessageBoxA(hwnd(), body.c_str(), caption.c_str(),
                                 MB_ICONINFORMATION | (askYesNo ? MB_YESNO : MB_OK));
  if (!askYesNo) return Answer::kOk;
  return answer == IDYES ? Answer::kYes : Answer::kNo;
}

void CAppletDlg::PrepareWindow() {
  icon_ = LoadIconA(instance_, MAKEINTRESOURCEA(IDI_APPLICATION_ICON));
  SendMessageA(hwnd(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon_));
  SendMessageA(hwnd(), WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon_));
  SendMessageA(Item(IDC_DEVICE_NAME), EM_LIMITTEXT, kNameLimit, 0);

  HWND foreground = GetForegroundWindow();
  if (!foreground) {
    SetForegroundWindow(hwnd());
  } else if (foreground != hwnd()) {
    const DWORD other = GetWindowThreadProcessId(foreground, nullptr);
    const DWORD self = GetCurrentThreadId();
    AttachThreadInput(self, other, TRUE);
    SetForegroundWindow(hwnd());
    AttachThreadInput(self, other, FALSE);
  }
}

void CAppletDlg::AllowServerNotifications() {
  // This program runs elevated and the server usually does not: Windows drops
  // messages above WM_USER from a lower integrity level unless the window lets
  // them through. Only these two, and only to this window.
  for (UINT message : {SRVM_USE_STATE_CHANGED, SRVM_RECHECK_DEVICES}) {
    ChangeWindowMessageFilterEx(hwnd(), message, MSGFLT_ALLOW, nullptr);
  }
}

void CAppletDlg::PrepareFields() {
  HWND port = Item(IDC_PORT);
  for (int number = 1; number <= kPortCount; ++number) {
    const std::string text = std::to_string(number);
    SendMessageA(port, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
  }
  for (int id = IDC_OCTET1; id <= IDC_OCTET4; ++id) {
    SendMessageA(Item(id), EM_LIMITTEXT, kOctetLimit, 0);
  }
  for (int id = IDC_MAC1; id <= IDC_MAC6; ++id) {
    SendMessageA(Item(id), EM_LIMITTEXT, kMacFieldLimit, 0);
  }
  NameControls();
}

// The buttons read their captions; every other control that takes the focus gets a
// name: the list, the name field, each octet and MAC field by its place, the port box
// and the edit inside it, which is what holds the focus.
void CAppletDlg::NameControls() {
  auto name = [&](HWND window, unsigned text) {
    names_.Name(reinterpret_cast<std::uintptr_t>(window), 0, text);
  };
  name(Item(IDC_DEVICE_LIST), kNameDeviceList);
  name(Item(IDC_DEVICE_NAME), kNameDeviceName);
  for (int i = 0; i < 4; ++i) name(Item(IDC_OCTET1 + i), kNameAddressPart1 + i);
  for (int i = 0; i < 6; ++i) name(Item(IDC_MAC1 + i), kNameMacByte1 + i);
  HWND port = Item(IDC_PORT);
  name(port, kNamePort);
  COMBOBOXINFO parts = {};
  parts.cbSize = sizeof(parts);
  if (GetComboBoxInfo(port, &parts) && parts.hwndItem) name(parts.hwndItem, kNamePort);
}

void CAppletDlg::PrepareList() {
  headerImages_ = LoadSmallIcons(instance_, hwnd(), {IDI_SORT_NONE, IDI_SORT_UP, IDI_SORT_DOWN});
  HWND list = Item(IDC_DEVICE_LIST);
  ListView_SetExtendedListViewStyle(list, 0xA1);
  // Names are cut with an ellipsis when too long; addresses, MACs and ports never are.
  const std::array<ListColumn, 4> columns = {{
      {"Device Name", 110, "", "", true},
      {"Device IP Address", 136, AddressColumnText(0xFFFFFFFFu), kDigits, true},
      {"Device MAC Address", 150, MacColumnText({0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}), kHexDigits,
       true},
      {"Device Port No.", 90, std::to_string(kPortCount), kDigits, false},
  }};
  view_.SetColumnExtra(
      AddListColumns(list, columns, {kListPageWidth, kListPageWidthWithScrollBar}));
  Header_SetImageList(ListView_GetHeader(list), headerImages_);
  for (int column = 0; column < 3; ++column)
    view_.SetSortImage(column, editor_.sortDirection(column));
  SetScrollRange(list, SB_VERT, 0, 255, FALSE);
}

void CAppletDlg::DestroyHeaderImages() {
  if (!headerImages_) return;
  if (hwnd()) Header_SetImageList(ListView_GetHeader(Item(IDC_DEVICE_LIST)), nullptr);
  ImageList_Destroy(headerImages_);
  headerImages_ = nullptr;
}

void CAppletDlg::EnableSaveAndClose(bool enabled) { EnableWindow(Item(IDOK), enabled); }

bool CAppletDlg::IsPushButton(HWND window) const {
  if (!window || GetParent(window) != hwnd()) return false;
  char className[16] = {};
  GetClassNameA(window, className, sizeof(className));
  if (lstrcmpiA(className, "Button") != 0) return false;
  const LONG type = GetWindowLongA(window, GWL_STYLE) & BS_TYPEMASK;
  return type == BS_PUSHBUTTON || type == BS_DEFPUSHBUTTON;
}

bool CAppletDlg::PreTranslateMessage(MSG& message) {
  const bool input = (message.message >= WM_KEYFIRST && message.message <= WM_KEYLAST) ||
                     (message.message >= WM_MOUSEFIRST && message.message <= WM_MOUSELAST);
  if (!input) return false;
  editor_.BeginInputMessage();

  if (message.message == WM_KEYDOWN) {
    editor_.OnKeyDown(static_cast<unsigned>(message.wParam));
    // Enter closes the dialog only from a push button. In a field it does nothing:
    // the field's own handling would hand it on to the default button. An open port
    // list still closes on it.
    if (message.wParam == VK_RETURN && !IsPushButton(GetFocus())) {
      HWND port = Item(IDC_PORT);
      if (IsChild(port, GetFocus()) && SendMessageA(port, CB_GETDROPPEDSTATE, 0, 0)) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
      }
      return true;
    }
  }
  if (message.message == WM_CHAR &&
      editor_.OnChar(view_.Focus(), static_cast<char>(message.wParam))) {
    return true;
  }

  if (!IsDialogMessageA(hwnd(), &message)) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  // The address commit ran its server round trip inside this click, and the
  // focus moves it made may have released the button: then it is clicked here.
  // A button still held down clicks itself when the mouse comes up.
  if (editor_.clickRedispatch() && message.message == WM_LBUTTONDOWN &&
      (message.wParam & MK_LBUTTON)) {
    HWND focus = GetFocus();
    const bool stillPressed = (SendMessageA(focus, BM_GETSTATE, 0, 0) & BST_PUSHED) != 0;
    if (IsPushButton(focus) && !stillPressed) {
      const int id = GetDlgCtrlID(focus);
      SendMessageA(hwnd(), WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(focus));
    }
  }
  return true;
}

LRESULT CAppletDlg::OnFieldCommand(const RoutedMessage& message) {
  const UINT id = message.id;
  const UINT code = message.code;
  const int octet = static_cast<int>(id) - IDC_OCTET1 + 1;
  const int mac = static_cast<int>(id) - IDC_MAC1 + 1;
  const bool isOctet = octet >= 1 && octet <= 4;
  const bool isMac = mac >= 1 && mac <= 6;
  switch (code) {
    case EN_CHANGE:
      if (id == IDC_DEVICE_NAME) editor_.OnNameChange();
      break;
    case EN_UPDATE:
      if (isOctet) editor_.OnOctetUpdate(octet);
      if (isMac) editor_.OnMacUpdate(mac);
      break;
    case EN_KILLFOCUS:
      if (isOctet) editor_.OnOctetKillFocus(octet);
      if (isMac) editor_.OnMacKillFocus(mac);
      break;
    case EN_SETFOCUS:
      if (isOctet) editor_.OnOctetSetFocus(octet);
      if (isMac || id == IDC_DEVICE_NAME) editor_.OnLookupFieldSetFocus();
      break;
    default:
      break;
  }
  return 0;
}

LRESULT CAppletDlg::OnPortCommand(const RoutedMessage& message) {
  switch (message.code) {
    case CBN_SELCHANGE:
      editor_.OnPortSelChange();
      break;
    case CBN_EDITUPDATE:
      editor_.OnPortEditUpdate();
      break;
    case CBN_SETFOCUS:
      editor_.OnLookupFieldSetFocus();
      break;
    default:
      break;
  }
  return 0;
}

LRESULT CAppletDlg::OnListNotify(const RoutedMessage& message) {
  const auto* list = reinterpret_cast<const NMLISTVIEW*>(message.lParam);
  if (list->hdr.code == LVN_ITEMCHANGED) {
    editor_.OnListItemChanged(list->iItem, list->uNewState);
  } else if (list->hdr.code == LVN_COLUMNCLICK) {
    editor_.OnColumnClick(list->iSubItem);
  }
  return 0;
}

void CAppletDlg::RunAutoDetect() {
  CAutoDetectDlg::Handover handover;
  handover.scanStartAddress = flow_.scanStartAddress();
  handover.scanStopOctet = flow_.scanStopOctet();
  handover.server = server_.Present() ? &server_ : nullptr;
  handover.settingsFolder = session_ ? session_->settingsFolder : std::string();
  handover.annotation = annotation_;
  for (int slot = 0; slot < kSlotCount; ++slot)
    handover.entries[slot] = editor_.table()[slot].entry;

  CAutoDetectDlg dialog(instance_, std::move(handover));
  const INT_PTR result = dialog.DoModal(hwnd());
  flow_.SetScanRange(dialog.scanStartAddress(), dialog.scanStopOctet());
  if (result == IDOK && !dialog.exported()) {
    const autodetect::AddressScan& scan = dialog.scan();
    const int rows = scan.resultCount() > 0 ? scan.resultCount() : 0;
    editor_.MergeAutoDetect(dialog.imported() ? &scan.tableCopy() : nullptr,
                            std::span(scan.rows().data(), static_cast<std::size_t>(rows)));
  }
  SetFocus(Item(IDC_DEVICE_LIST));
  editor_.UpdateCountButtons();
}

bool CAppletDlg::OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
  using D = CAppletDlg;
  using M = const RoutedMessage&;
  constexpr auto fields = &CallMember<D, &D::OnFieldCommand>;
  constexpr auto port = &CallMember<D, &D::OnPortCommand>;
  constexpr auto list = &CallMember<D, &D::OnListNotify>;
  static constexpr Route kRoutes[] = {
      {Kind::kCommand, EN_CHANGE, IDC_DEVICE_NAME, IDC_DEVICE_NAME, fields},
      {Kind::kCommand, EN_SETFOCUS, IDC_DEVICE_NAME, IDC_DEVICE_NAME, fields},
      {Kind::kCommand, EN_UPDATE, IDC_OCTET1, IDC_MAC6, fields},
      {Kind::kCommand, EN_KILLFOCUS, IDC_OCTET1, IDC_MAC6, fields},
      {Kind::kCommand, EN_SETFOCUS, IDC_OCTET1, IDC_MAC6, fields},
      {Kind::kCommand, CBN_SELCHANGE, IDC_PORT, IDC_PORT, port},
      {Kind::kCommand, CBN_EDITUPDATE, IDC_PORT, IDC_PORT, port},
      {Kind::kCommand, CBN_SETFOCUS, IDC_PORT, IDC_PORT, port},
      Click<D>(IDC_NEW, [](D& d) { d.editor_.New(); }),
      Click<D>(IDC_DUPLICATE, [](D& d) { d.editor_.Duplicate(); }),
      Click<D>(IDC_REMOVE, [](D& d) { d.editor_.Remove(); }),
      Click<D>(IDC_REMOVE_ALL, [](D& d) { d.editor_.RemoveAll(); }),
      Click<D>(IDC_UNDO, [](D& d) { d.editor_.Undo(); }),
      Click<D>(IDC_APPLY, [](D& d) { d.editor_.Apply(); }),
      Click<D>(IDC_ADVANCED, [](D& d) { d.RunAutoDetect(); }),
      {Kind::kNotify, static_cast<UINT>(LVN_ITEMCHANGED), IDC_DEVICE_LIST, IDC_DEVICE_LIST, list},
      {Kind::kNotify, static_cast<UINT>(LVN_COLUMNCLICK), IDC_DEVICE_LIST, IDC_DEVICE_LIST, list},
      {Kind::kMessage, SRVM_USE_STATE_CHANGED, 0, 0,
       [](D& d, M m) -> LRESULT {
         return d.flow_.OnUseStateChanged(static_cast<std::uint32_t>(m.lParam));
       }},
      Message<D>(SRVM_RECHECK_DEVICES, [](D& d) { d.editor_.OnRecheckDevices(); }),
  };
  return RouteMessage<CAppletDlg>(kRoutes, *this, message, wParam, lParam, result);
}

}  // namespace orvel::ui
