#include "config/ui/win32_auto_detect_dialog.h"

#include <commdlg.h>

#include <array>
#include <utility>
#include <vector>

#include "config/autodetect/autodetect_ids.h"
#include "config/autodetect/setup_file.h"
#include "config/core/text_ids.h"
#include "config/core/win32_app_platform.h"
#include "config/editor/field_rules.h"
#include "config/resources/resource.h"
#include "config/ui/win32_controls.h"

namespace orvel::ui {
namespace {

using autodetect::RangeField;
using Route = MessageRoute<CAutoDetectDlg>;
using Kind = Route::Kind;

static_assert(
    IDC_AD_START1 == autodetect::kIdStartOctet1 && IDC_AD_START2 == autodetect::kIdStartOctet2 &&
        IDC_AD_START3 == autodetect::kIdStartOctet3 &&
        IDC_AD_START4 == autodetect::kIdStartOctet4 && IDC_AD_STOP == autodetect::kIdStopOctet &&
        IDC_AD_START == autodetect::kIdStart && IDC_AD_ABORT == autodetect::kIdAbort &&
        IDC_AD_RESULTS == autodetect::kIdResultList && IDC_AD_IMPORT == autodetect::kIdImport &&
        IDC_AD_EXPORT == autodetect::kIdExport && IDC_AD_MIRROR1 == autodetect::kIdMirror1 &&
        IDC_AD_PROGRESS1 == autodetect::kIdProgressOctet1 &&
        IDC_AD_DOT1 == autodetect::kIdProgressDot1 &&
        IDC_AD_SEARCHING == autodetect::kIdSearchingLabel,
    "the resource script and the scan agree on every control");

constexpr std::array<int, 5> kFieldIds = {IDC_AD_START1, IDC_AD_START2, IDC_AD_START3,
                                          IDC_AD_START4, IDC_AD_STOP};
constexpr std::array<int, 3> kMirrorIds = {IDC_AD_MIRROR1, IDC_AD_MIRROR2, IDC_AD_MIRROR3};
constexpr std::array<int, 4> kProgressIds = {IDC_AD_PROGRESS1, IDC_AD_PROGRESS2, IDC_AD_PROGRESS3,
                                             IDC_AD_PROGRESS4};
constexpr std::array<int, 3> kDotIds = {IDC_AD_DOT1, IDC_AD_DOT2, IDC_AD_DOT3};

constexpr char kDigits[] = "0123456789";
constexpr char kHexDigits[] = "0123456789ABCDEF";

// "Quorin Network Driver Files (*.ini)|||": the bars end the description and an empty
// pattern, so the list holds one entry and the initial name "*.ini" does the filtering.
constexpr char kFilter[] = "Quorin Network Driver Files (*.ini)\0\0\0";

}  // namespace

CAutoDetectDlg::CAutoDetectDlg(HINSTANCE instance, Handover handover)
    : Dialog(instance, IDD_AUTO_DETECT),
      instance_(instance),
      handover_(std::move(handover)),
      range_(*this),
      scan_(handover_.server, *this, *this, range_, MakeWorkingTable(handover_.entries),
            handover_.scanStartAddress),
      flow_(*this, scan_, range_, handover_.scanStartAddress),
      names_(handover_.annotation) {}

CAutoDetectDlg::~CAutoDetectDlg() {
  if (rowImages_) ImageList_Destroy(rowImages_);
}

BOOL CAutoDetectDlg::OnInitDialog() {
  range_.FillRangeFields(handover_.scanStartAddress, handover_.scanStopOctet);

  rowImages_ = LoadSmallIcons(instance_, hwnd(), {IDI_ROW_NEW, IDI_ROW_CHECKED, IDI_ROW_LISTED});
  HWND list = Item(IDC_AD_RESULTS);
  ListView_SetImageList(list, rowImages_, LVSIL_SMALL);
  ListView_SetExtendedListViewStyle(list, LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT);
  // Names are cut with an ellipsis when too long; addresses and MACs never are.
  const std::array<ListColumn, 4> columns = {{
      {"Add", 36},
      {"Device IP Address", 115, AddressColumnText(0xFFFFFFFFu), kDigits},
      {"Device Name", 95},
      {"Device MAC Address", autodetect::kMacColumnWide,
       MacColumnText({0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}), kHexDigits},
  }};
  macExtra_ =
      AddListColumns(list, columns, {autodetect::kMacColumnWide, autodetect::kMacColumnNarrow})
          .back();

  // Each range field by its place; "Detect to" has only the last one of its own.
  for (int i = 0; i < 4; ++i)
    names_.Name(reinterpret_cast<std::uintptr_t>(Item(kFieldIds[i])), 0, kNameDetectFromPart1 + i);
  names_.Name(reinterpret_cast<std::uintptr_t>(Item(IDC_AD_STOP)), 0, kNameDetectToPart4);
  names_.Name(ResultsWindow(), 0, kNameResults);
  names_.Describe(ResultsWindow(), kDescriptionResults);

  ShowProgress(std::nullopt);
  EnableWindow(Item(IDC_AD_ABORT), FALSE);
  EnableWindow(Item(IDOK), FALSE);
  SetFocus(Item(IDC_AD_START1));
  return FALSE;  // the focus is set
}

// --- ScanDisplay

void CAutoDetectDlg::ShowProgress(std::optional<std::uint32_t> address) {
  // A label repaints whenever its text is set, and the first three octets seldom change.
  for (int i = 0; i < 4; ++i) {
    std::string text =
        address ? std::to_string((*address >> (8 * (3 - i))) & 0xFF) : std::string("    ");
    if (text == progressText_[i]) continue;
    SetDlgItemTextA(hwnd(), kProgressIds[i], text.c_str());
    progressText_[i] = std::move(text);
  }
  if (!address) {
    for (int id : kProgressIds) EnableWindow(Item(id), FALSE);
    for (int id : kDotIds) EnableWindow(Item(id), FALSE);
    EnableWindow(Item(IDC_AD_SEARCHING), FALSE);
  }
}

void CAutoDetectDlg::EnableProgressLine() {
  for (int id : kProgressIds) EnableWindow(Item(id), TRUE);
  for (int id : kDotIds) EnableWindow(Item(id), TRUE);
  EnableWindow(Item(IDC_AD_SEARCHING), TRUE);
}

void CAutoDetectDlg::SetRangeFieldsEnabled(bool on) {
  EnableWindow(Item(IDC_AD_STOP), on);
  EnableWindow(Item(IDC_AD_START), on);
  for (int i = 0; i < 4; ++i) EnableWindow(Item(kFieldIds[i]), on);
  for (int id : kMirrorIds) EnableWindow(Item(id), on);
}

void CAutoDetectDlg::EnableControl(int id, bool on) { EnableWindow(Item(id), on); }

bool CAutoDetectDlg::IsControlEnabled(int id) { return IsWindowEnabled(Item(id)) != FALSE; }

int CAutoDetectDlg::FocusedControl() {
  HWND focus = GetFocus();
  return focus && GetParent(focus) == hwnd() ? GetDlgCtrlID(focus) : 0;
}

void CAutoDetectDlg::FocusControl(int id) { SetFocus(Item(id)); }

void CAutoDetectDlg::RepaintNow() { UpdateWindow(hwnd()); }

std::uintptr_t CAutoDetectDlg::ResultsWindow() const {
  return reinterpret_cast<std::uintptr_t>(Item(IDC_AD_RESULTS));
}

// A row shows its state only as a picture; its name says it, with the unit's address.
void CAutoDetectDlg::NameResultRow(int row, const autodetect::ResultRowText& text) {
  names_.Name(ResultsWindow(), row + 1, ResultRowNameText(text.image),
              DottedAddress(text.itemData));
}

void CAutoDetectDlg::DeleteAllResultRows() {
  ListView_DeleteAllItems(Item(IDC_AD_RESULTS));
  names_.ClearElements(ResultsWindow());
}

void CAutoDetectDlg::InsertResultRow(int row, const autodetect::ResultRowText& text) {
  HWND list = Item(IDC_AD_RESULTS);
  LVITEMA item = {};
  item.mask = LVIF_IMAGE | LVIF_PARAM | LVIF_TEXT;
  item.iItem = row;
  item.iImage = text.image;
  item.pszText = const_cast<char*>("");
  item.lParam = static_cast<LPARAM>(text.itemData);
  const int inserted =
      static_cast<int>(SendMessageA(list, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item)));
  if (inserted < 0) return;
  const std::array<const std::string*, 3> cells = {&text.address, &text.name, &text.mac};
  for (int column = 1; column <= 3; ++column) {
    LVITEMA cell = {};
    cell.iSubItem = column;
    cell.pszText = const_cast<char*>(cells[column - 1]->c_str());
    SendMessageA(list, LVM_SETITEMTEXTA, static_cast<WPARAM>(inserted),
                 reinterpret_cast<LPARAM>(&cell));
  }
  DeselectResultRow(inserted);
  NameResultRow(inserted, text);
}

void CAutoDetectDlg::UpdateResultRow(int row, const autodetect::ResultRowText& text,
                                     unsigned parts) {
  HWND list = Item(IDC_AD_RESULTS);
  if (parts & (autodetect::kPartImage | autodetect::kPartItemData)) {
    LVITEMA item = {};
    item.iItem = row;
    if (parts & autodetect::kPartImage) item.mask |= LVIF_IMAGE;
    if (parts & autodetect::kPartItemData) item.mask |= LVIF_PARAM;
    item.iImage = text.image;
    item.lParam = static_cast<LPARAM>(text.itemData);
    SendMessageA(list, LVM_SETITEMA, 0, reinterpret_cast<LPARAM>(&item));
  }
  const std::array<std::pair<unsigned, const std::string*>, 3> cells = {
      {{autodetect::kPartAddress, &text.address},
       {autodetect::kPartName, &text.name},
       {autodetect::kPartMac, &text.mac}}};
  for (int column = 1; column <= 3; ++column) {
    if (!(parts & cells[column - 1].first)) continue;
    LVITEMA cell = {};
    cell.iSubItem = column;
    cell.pszText = const_cast<char*>(cells[column - 1].second->c_str());
    SendMessageA(list, LVM_SETITEMTEXTA, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&cell));
  }
  DeselectResultRow(row);
  if (parts & (autodetect::kPartImage | autodetect::kPartItemData)) NameResultRow(row, text);
}

void CAutoDetectDlg::DeleteResultRow(int row) {
  ListView_DeleteItem(Item(IDC_AD_RESULTS), row);
  names_.ClearElement(ResultsWindow(), row + 1);
}

// Deleting every row cleared the selection and the selection mark; the list is
// single-selection, so at most one selected row is found here.
void CAutoDetectDlg::ClearResultSelection() {
  HWND list = Item(IDC_AD_RESULTS);
  const int rows = ListView_GetItemCount(list);
  for (int row = ListView_GetNextItem(list, -1, LVNI_SELECTED), left = rows; row >= 0 && left > 0;
       row = ListView_GetNextItem(list, -1, LVNI_SELECTED), --left) {
    DeselectResultRow(row);
  }
  ListView_SetSelectionMark(list, -1);
}

void CAutoDetectDlg::DeselectResultRow(int row) {
  ListView_SetItemState(Item(IDC_AD_RESULTS), row, 0, LVIS_SELECTED);
}

int CAutoDetectDlg::ResultRowsPerPage() { return ListView_GetCountPerPage(Item(IDC_AD_RESULTS)); }

// Every probe recomputes the width, so only a change reaches the list. The column is
// set alone: turning the list's redrawing off and on around it made the list repaint
// whole, header and frame included. The header invalidates itself whole on a width
// change, though only the last column moved, so the columns before it count as drawn.
void CAutoDetectDlg::SetMacColumnWidth(int pixelsAt96Dpi) {
  HWND list = Item(IDC_AD_RESULTS);
  const int pixels = ScaleForDpi(list, pixelsAt96Dpi) + macExtra_;
  if (ListView_GetColumnWidth(list, 3) == pixels) return;
  ListView_SetColumnWidth(list, 3, pixels);
  HWND header = ListView_GetHeader(list);
  RECT unchanged = {};
  if (header && Header_GetItemRect(header, 2, &unchanged)) {
    unchanged.left = 0;
    ValidateRect(header, &unchanged);
  }
}

int CAutoDetectDlg::ResultScrollPosition() { return ListView_GetTopIndex(Item(IDC_AD_RESULTS)); }

void CAutoDetectDlg::ScrollResultsTo(int topRow) {
  HWND list = Item(IDC_AD_RESULTS);
  RECT row0 = {};
  row0.left = LVIR_BOUNDS;
  SendMessageA(list, LVM_GETITEMRECT, 0, reinterpret_cast<LPARAM>(&row0));
  // LVM_SCROLL moves by a distance from where the list stands; the rebuild has just
  // emptied and refilled it, but counting from the current top row holds either way.
  ListView_Scroll(list, 0, (topRow - ListView_GetTopIndex(list)) * (row0.bottom - row0.top));
}

// --- ScanTimer

bool CAutoDetectDlg::StartTimer(unsigned id, unsigned periodMs) {
  timerRunning_ = SetTimer(hwnd(), id, periodMs, nullptr) != 0;
  return timerRunning_;
}

void CAutoDetectDlg::KillTimer(unsigned id) {
  ::KillTimer(hwnd(), id);
  timerRunning_ = false;
}

void CAutoDetectDlg::PostToDialog(std::uint32_t message, std::uint32_t wParam,
                                  std::uint32_t lParam) {
  PostMessageA(hwnd(), message, wParam, lParam);
}

// --- RangeFieldView

// The fields take text of any length (a paste of "1234" must reach the rules whole,
// so that they cap it), so the whole text is read.
std::string CAutoDetectDlg::FieldText(RangeField field) {
  HWND edit = Item(kFieldIds[static_cast<int>(field)]);
  const int length = GetWindowTextLengthA(edit);
  if (length <= 0) return {};
  std::string text(static_cast<std::size_t>(length) + 1, '\0');
  const int got = GetWindowTextA(edit, text.data(), length + 1);
  text.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
  return text;
}

void CAutoDetectDlg::SetFieldText(RangeField field, const std::string& text) {
  SetDlgItemTextA(hwnd(), kFieldIds[static_cast<int>(field)], text.c_str());
}

void CAutoDetectDlg::SetFieldSelection(RangeField field, int start, int end) {
  SendMessageA(Item(kFieldIds[static_cast<int>(field)]), EM_SETSEL, static_cast<WPARAM>(start),
               static_cast<LPARAM>(end));
}

void CAutoDetectDlg::FocusField(RangeField field) {
  SetFocus(Item(kFieldIds[static_cast<int>(field)]));
}

void CAutoDetectDlg::SetMirrorText(int index, const std::string& text) {
  if (index >= 0 && index < static_cast<int>(kMirrorIds.size())) {
    SetDlgItemTextA(hwnd(), kMirrorIds[index], text.c_str());
  }
}

// --- Input and messages

std::optional<RangeField> CAutoDetectDlg::FieldOf(int id) {
  for (int i = 0; i < static_cast<int>(kFieldIds.size()); ++i) {
    if (kFieldIds[i] == id) return static_cast<RangeField>(i);
  }
  return std::nullopt;
}

// Space on the results checks or unchecks the focused row as a click on its picture
// does. The list never sees the key, so it selects no row for it and searches for none;
// a key held down toggles once.
bool CAutoDetectDlg::OnResultsKey(const MSG& message) {
  if (message.message != WM_KEYDOWN || message.wParam != VK_SPACE) return false;
  if (message.lParam & (1 << 30)) return true;  // a repeat of a key already down
  HWND list = Item(IDC_AD_RESULTS);
  scan_.OnResultClick(ListView_GetNextItem(list, -1, LVNI_FOCUSED), 0);
  return true;
}

bool CAutoDetectDlg::PreTranslateMessage(MSG& message) {
  HWND focus = GetFocus();
  if (focus && focus == Item(IDC_AD_RESULTS)) return OnResultsKey(message);
  const std::optional<RangeField> field =
      focus && GetParent(focus) == hwnd() ? FieldOf(GetDlgCtrlID(focus)) : std::nullopt;
  if (!field) return false;
  if (message.message == WM_CHAR) {
    return range_.OnCharacter(*field, static_cast<char>(message.wParam));
  }
  if (message.message == WM_KEYDOWN && !KeyKeepsDotState(static_cast<unsigned>(message.wParam))) {
    range_.OnOtherInput(*field);
  }
  return false;
}

LRESULT CAutoDetectDlg::OnFieldCommand(const RoutedMessage& message) {
  const UINT id = message.id;
  const UINT code = message.code;
  if (const std::optional<RangeField> field = FieldOf(static_cast<int>(id))) {
    if (code == EN_UPDATE) range_.OnTextChanged(*field);
    if (code == EN_KILLFOCUS) range_.OnFocusLost(*field);
    if (code == EN_SETFOCUS) range_.OnFocusGained(*field);
  }
  return 0;
}

LRESULT CAutoDetectDlg::OnResultsClick(const RoutedMessage& message) {
  const auto* activate = reinterpret_cast<const NMITEMACTIVATE*>(message.lParam);
  LVHITTESTINFO hit = {};
  hit.pt = activate->ptAction;
  SendMessageA(Item(IDC_AD_RESULTS), LVM_SUBITEMHITTEST, 0, reinterpret_cast<LPARAM>(&hit));
  if (hit.iItem >= 0) scan_.OnResultClick(hit.iItem, hit.iSubItem);
  return 0;
}

bool CAutoDetectDlg::OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
  using D = CAutoDetectDlg;
  using M = const RoutedMessage&;
  constexpr auto field = &CallMember<D, &D::OnFieldCommand>;
  static constexpr Route kRoutes[] = {
      {Kind::kCommand, EN_UPDATE, IDC_AD_START1, IDC_AD_STOP, field},
      {Kind::kCommand, EN_KILLFOCUS, IDC_AD_START1, IDC_AD_STOP, field},
      {Kind::kCommand, EN_SETFOCUS, IDC_AD_START1, IDC_AD_STOP, field},
      Click<D>(IDC_AD_IMPORT, [](D& d) { d.flow_.ImportSetup(); }),
      Click<D>(IDC_AD_EXPORT, [](D& d) { d.flow_.ExportSetup(); }),
      Click<D>(IDC_AD_START, [](D& d) { d.scan_.StartScan(); }),
      Click<D>(IDC_AD_ABORT, [](D& d) { d.scan_.AbortScan(); }),
      {Kind::kNotify, static_cast<UINT>(NM_CLICK), IDC_AD_RESULTS, IDC_AD_RESULTS,
       &CallMember<D, &D::OnResultsClick>},
      {Kind::kMessage, WM_TIMER, 0, 0,
       [](D& d, M m) -> LRESULT {
         if (m.wParam == autodetect::kScanTimerId) d.scan_.ScanTick();
         return 0;
       }},
      Message<D>(autodetect::SCANM_START, [](D& d) { d.scan_.BeginScan(); }),
      Message<D>(autodetect::SCANM_STOP, [](D& d) { d.scan_.StopScan(); }),
  };
  return RouteMessage<CAutoDetectDlg>(kRoutes, *this, message, wParam, lParam, result);
}

// --- AutoDetectHost

std::optional<std::string> CAutoDetectDlg::ChooseSetupFile(bool save) {
  char path[MAX_PATH] = "*.ini";
  const std::string title = LoadText(instance_, save ? kTextSaveFileTitle : kTextOpenFileTitle);
  OPENFILENAMEA dialog = {};
  dialog.lStructSize = sizeof(dialog);
  dialog.hwndOwner = hwnd();
  dialog.lpstrFilter = kFilter;
  dialog.lpstrFile = path;
  dialog.nMaxFile = MAX_PATH;
  dialog.lpstrInitialDir = handover_.settingsFolder.c_str();
  dialog.lpstrTitle = title.c_str();
  dialog.lpstrDefExt = "ini";
  dialog.Flags = OFN_HIDEREADONLY | (save ? OFN_OVERWRITEPROMPT : 0);
  const BOOL chosen = save ? GetSaveFileNameA(&dialog) : GetOpenFileNameA(&dialog);
  if (!chosen) return std::nullopt;
  path[MAX_PATH - 1] = '\0';
  return std::string(path);
}

std::unique_ptr<SettingsStore> CAutoDetectDlg::OpenSetupFile(const std::string& path) {
  return OpenSettingsFile(path);
}

void CAutoDetectDlg::ShowText(TextId text, bool error) {
  const std::string body = LoadText(instance_, text);
  const std::string caption = LoadText(instance_, kTextProductName);
  MessageBoxA(hwnd(), body.c_str(), caption.c_str(),
              (error ? MB_ICONERROR : MB_ICONINFORMATION) | MB_OK);
}

void CAutoDetectDlg::ReleaseWindowResources() {
  if (timerRunning_) KillTimer(autodetect::kScanTimerId);
  if (rowImages_) {
    ListView_SetImageList(Item(IDC_AD_RESULTS), nullptr, LVSIL_SMALL);
    ImageList_Destroy(rowImages_);
    rowImages_ = nullptr;
  }
}

}  // namespace orvel::ui
