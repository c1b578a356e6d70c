#include "chooser/chooser_form.h"

#include <windowsx.h>

#include <cmath>
#include <utility>

#include "chooser/core/details_pane.h"
#include "chooser/core/node_keys.h"
#include "chooser/dev_list.h"
#include "chooser/dialog_template.h"
#include "chooser/pictures.h"
#include "common/collection.h"
#include "common/error_info.h"
#include "common/module.h"
#include "common/scope_exit.h"
#include "device/device.h"

namespace velcorin {

namespace {

enum ControlId : WORD {
  kIdTree = 101,
  kIdDetails = 102,
  kIdDevsLabel = 103,
  kIdDetailsLabel = 104,
  kIdRefresh = 105,
};

// Posted by the fill's examinations once the last one has ended.
constexpr UINT kExaminedMessage = WM_APP + 1;
constexpr const wchar_t* kSearchingCaption = L"Searching for devices...";

// The form's client area and controls, in twips; controls in tab order.
constexpr int kClientWidth = 9375;
constexpr int kClientHeight = 4935;

struct ControlSpec {
  const wchar_t* className;
  WORD id;
  DWORD style;
  DWORD exStyle;
  const wchar_t* caption;
  int left, top, width, height;
};

constexpr DWORD kTreeStyle =
    WS_TABSTOP | WS_GROUP | TVS_HASLINES | TVS_HASBUTTONS | TVS_LINESATROOT | TVS_SHOWSELALWAYS | TVS_DISABLEDRAGDROP;
constexpr DWORD kListStyle = WS_TABSTOP | WS_GROUP | LVS_REPORT | LVS_SINGLESEL | LVS_SHOWSELALWAYS | LVS_NOSORTHEADER;
constexpr DWORD kButtonStyle = WS_TABSTOP | WS_GROUP | BS_PUSHBUTTON;

constexpr ControlSpec kControls[] = {
    {WC_TREEVIEWW, kIdTree, kTreeStyle, WS_EX_CLIENTEDGE, L"", 240, 480, 3495, 3720},
    {WC_LISTVIEWW, kIdDetails, kListStyle, WS_EX_CLIENTEDGE, L"", 3840, 480, 5310, 3720},
    {L"Button", IDOK, WS_TABSTOP | WS_GROUP | BS_DEFPUSHBUTTON | WS_DISABLED, 0, L"&Open", 240, 4320, 1245, 450},
    {L"Static", kIdDevsLabel, SS_LEFT, 0, L"Devices Detected:", 240, 240, 2175, 255},
    {L"Static", kIdDetailsLabel, SS_LEFT, 0, L"Device Properties:", 3840, 240, 3975, 255},
    {L"Button", IDCANCEL, kButtonStyle, 0, L"&Cancel", 1560, 4320, 1245, 450},
    {L"Button", kIdRefresh, kButtonStyle, 0, L"&Refresh", 7905, 4320, 1245, 450},
};

constexpr DWORD kDialogStyle = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME;
constexpr DWORD kDialogExStyle = WS_EX_DLGMODALFRAME;

const wchar_t* CaptionOf(WORD id) {
  for (const ControlSpec& control : kControls)
    if (control.id == id) return control.caption;
  return L"";
}

DialogTemplate FormTemplate() {
  DialogTemplate form(kDialogStyle, kDialogExStyle, L"Select Device", 8, L"MS Shell Dlg");
  for (const ControlSpec& control : kControls)
    form.AddControl(control.className, control.id, control.style, control.exStyle, control.caption);
  return form;
}

wchar_t* TextArg(const std::u16string& text) {
  return const_cast<wchar_t*>(reinterpret_cast<const wchar_t*>(text.c_str()));
}

// A window procedure is a boundary no exception may cross; a handler that
// fails simply ends there, leaving what it already did.
template <class Body>
void RunHandler(Body&& body) noexcept {
  try {
    body();
  } catch (...) {
  }
}

// A window that does not repaint until the object goes; a list view of
// thousands of rows fills in a fraction of the time.
class RedrawSuspended {
 public:
  explicit RedrawSuspended(HWND window) : window_(window) { SendMessageW(window_, WM_SETREDRAW, FALSE, 0); }
  RedrawSuspended(const RedrawSuspended&) = delete;
  RedrawSuspended& operator=(const RedrawSuspended&) = delete;
  ~RedrawSuspended() {
    SendMessageW(window_, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(window_, nullptr, TRUE);
  }

 private:
  HWND window_;
};

// The work area of the primary monitor, where the dialog is centred.
RECT WorkArea() {
  RECT area{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
  return area;
}

// Pictures 1..7 side by side in one bitmap, for the image list to cut up.
UniqueGdiObject PictureStrip() {
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(info.bmiHeader);
  info.bmiHeader.biWidth = kPictureSize * kPictureCount;
  info.bmiHeader.biHeight = -kPictureSize;  // top-down rows
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  UniqueGdiObject strip(CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
  if (!strip || !bits) throw ComError{E_OUTOFMEMORY};
  auto* pixels = static_cast<std::uint32_t*>(bits);  // 0x00RRGGBB, as the pictures are kept
  const int stride = kPictureSize * kPictureCount;
  for (int picture = 1; picture <= kPictureCount; ++picture) {
    const PicturePixels source = PictureOf(picture);
    for (int y = 0; y < kPictureSize; ++y)
      for (int x = 0; x < kPictureSize; ++x)
        pixels[y * stride + (picture - 1) * kPictureSize + x] = source[y * kPictureSize + x];
  }
  GdiFlush();
  return strip;
}

}  // namespace

ChooserForm::ChooserForm() = default;
ChooserForm::~ChooserForm() = default;

void ChooserForm::ShowModal() {
  ManifestScope manifest;
  INITCOMMONCONTROLSEX classes{sizeof(classes), ICC_STANDARD_CLASSES | ICC_TREEVIEW_CLASSES | ICC_LISTVIEW_CLASSES};
  InitCommonControlsEx(&classes);

  const HWND previouslyActive = GetActiveWindow();
  ThreadWindowsDisabled otherWindows;
  // A hidden owner keeps the dialog out of the task bar, with a normal caption,
  // and leaves the caller's own windows out of the ownership.
  UniqueWindow hiddenOwner(CreateWindowExW(WS_EX_TOOLWINDOW, L"Static", L"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                                           ModuleHandle(), nullptr));
  otherWindows_ = &otherWindows;
  const DialogTemplate form = FormTemplate();
  DialogBoxIndirectParamW(ModuleHandle(), form.get(), hiddenOwner.get(), &DialogProc, reinterpret_cast<LPARAM>(this));
  const DWORD error = GetLastError();
  otherWindows_ = nullptr;
  otherWindows.Restore();
  if (previouslyActive && IsWindow(previouslyActive)) SetActiveWindow(previouslyActive);
  if (!loaded_) throw ComError{error ? HRESULT_FROM_WIN32(error) : E_FAIL};
}

INT_PTR CALLBACK ChooserForm::DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    auto* form = reinterpret_cast<ChooserForm*>(lParam);
    SetWindowLongPtrW(window, DWLP_USER, lParam);
    RunHandler([&] { form->OnInitDialog(window); });
    return TRUE;  // the focus goes to the first control in tab order, the tree
  }
  auto* form = reinterpret_cast<ChooserForm*>(GetWindowLongPtrW(window, DWLP_USER));
  return form ? form->HandleMessage(message, wParam, lParam) : FALSE;
}

INT_PTR ChooserForm::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_COMMAND:
      if (HIWORD(wParam) == BN_CLICKED) RunHandler([&] { OnCommand(LOWORD(wParam)); });
      return TRUE;
    case WM_NOTIFY: RunHandler([&] { OnNotify(*reinterpret_cast<const NMHDR*>(lParam)); }); return FALSE;
    case WM_CLOSE:  // the close box: no handler runs, the results stay as loaded
      Unload();
      return TRUE;
    case kExaminedMessage: RunHandler([&] { OnExamined(); }); return TRUE;
    case WM_DESTROY:  // the dialog's font goes with it
      measuringFont_.reset();
      return FALSE;
    default: return FALSE;
  }
}

void ChooserForm::OnInitDialog(HWND window) {
  window_ = window;
  loaded_ = true;
  devTree_ = GetDlgItem(window, kIdTree);
  devDetails_ = GetDlgItem(window, kIdDetails);
  btnOpen_ = GetDlgItem(window, IDOK);
  font_ = reinterpret_cast<HFONT>(SendMessageW(window, WM_GETFONT, 0, 0));
  measuringDc_ = UniqueMemoryDc(CreateCompatibleDC(nullptr));
  if (!measuringDc_) throw ComError{E_OUTOFMEMORY};
  measuringFont_.emplace(measuringDc_.get(), font_);
  {
    const WindowDc screen(window);
    dpiX_ = GetDeviceCaps(screen.get(), LOGPIXELSX);
    dpiY_ = GetDeviceCaps(screen.get(), LOGPIXELSY);
  }
  PlaceControls();
  SendMessageW(window, DM_SETDEFID, IDOK, 0);
  CreatePictures();
  CreateColumns();
  Form_Load();
}

void ChooserForm::OnCommand(WORD id) {
  switch (id) {
    case IDOK: btnOpen_Click(); break;
    case IDCANCEL: btnCancel_Click(); break;
    case kIdRefresh: btnRefresh_Click(); break;
    default: break;
  }
}

// A node click is a selection by mouse or keyboard, or a click on the node that
// is already selected (which selects nothing new).
void ChooserForm::OnNotify(const NMHDR& header) {
  if (header.hwndFrom != devTree_ || ignoringTreeNotifications_) return;
  if (header.code == TVN_SELCHANGEDW) {
    devTree_NodeClick(reinterpret_cast<const NMTREEVIEWW&>(header).itemNew.hItem);
  } else if (header.code == NM_CLICK) {
    const HTREEITEM clicked = ClickedNode();
    if (clicked && clicked == TreeView_GetSelection(devTree_)) devTree_NodeClick(clicked);
  }
}

void ChooserForm::Unload() {
  unloading_ = true;
  enumeration_.reset();  // examinations still in flight are abandoned, nothing is listed
  // The caller's windows come back before the dialog goes, so that one of
  // them, not another program, becomes active.
  if (otherWindows_) otherWindows_->Restore();
  EndDialog(window_, 0);
}

void ChooserForm::Form_Load() {
  IsOkClicked = false;
  DevicePath.clear();
  classList_ = BuildCatalogue();
  FillDeviceTree();
}

void ChooserForm::btnOpen_Click() {
  const HTREEITEM selected = TreeView_GetSelection(devTree_);
  if (!selected) return;
  std::u16string key = KeyOf(selected);
  if (!OpenConfirms(key)) return;
  DevicePath = std::move(key);
  IsOkClicked = true;
  Unload();
}

void ChooserForm::btnCancel_Click() {
  DevicePath.clear();
  IsOkClicked = false;
  Unload();
}

void ChooserForm::btnRefresh_Click() { FillDeviceTree(); }

void ChooserForm::devTree_NodeClick(HTREEITEM node) {
  if (!node) return;
  const NodeClickPlan plan = PlanNodeClick(devices_, KeyOf(node), Measure());
  ClearDetails();
  EnableOpen(plan.openEnabled);
  {
    const RedrawSuspended quiet(devDetails_);  // one repaint, not one per row
    ListView_SetItemCountEx(devDetails_, plan.rows.size(), LVSICF_NOINVALIDATEALL);
    for (const DetailRow& row : plan.rows) AddDetailRow(row.name, row.value);
  }
  if (plan.columnWidths) SetColumnWidths(*plan.columnWidths);
}

// The instruments are examined while the dialog stays responsive (Cancel,
// Esc and the close box abandon them); the tree is built in one go once they
// are done. A Refresh during a fill runs once the fill has shown its tree.
void ChooserForm::FillDeviceTree() {
  if (fillRunning_) {
    refillWanted_ = true;
    return;
  }
  refillWanted_ = false;
  devList_ = NewCollection();
  devices_.clear();
  ClearTree();
  ClearDetails();
  EnableOpen(false);
  if (!Filter) Filter = NewCollection();
  if (!devEnum_) devEnum_ = MakeObject<Device>();
  const HWND window = window_;
  try {
    enumeration_ = devEnum_->StartEnumeration([window] { PostMessageW(window, kExaminedMessage, 0, 0); });
  } catch (const RuntimeError& error) {
    ShowInsteadOfTree(error.description);  // no instrument can be listed: say why
    return;
  }
  fillRunning_ = true;
  ShowSearching(true);
}

void ChooserForm::OnExamined() {
  if (!enumeration_ || !enumeration_->Examined()) return;
  // Moved out first: the filters may pump messages, and a Cancel among them abandons nothing.
  const std::unique_ptr<Enumeration> enumeration = std::move(enumeration_);
  const ScopeExit done([this] {
    fillRunning_ = false;
    if (refillWanted_ && !unloading_) RunHandler([this] { FillDeviceTree(); });
    if (!fillRunning_) ShowSearching(false);  // the label never claims a tree that is about to go
  });
  FinishFill(*enumeration);
}

// An error raised inside the enumeration still shows what it listed before the
// error, with Open disabled as after every fill; Refresh can try again.
bool ChooserForm::FinishFill(Enumeration& enumeration) {
  VARIANT_BOOL listed = VARIANT_FALSE;
  const HRESULT hr = devEnum_->FinishEnumeration(enumeration, devList_.Get(), Filter.Get(), &listed);
  if (FAILED(hr)) SetErrorInfo(0, nullptr);  // reported by the tree, not to our caller
  if (SUCCEEDED(hr) && listed != VARIANT_TRUE) return false;
  devices_ = ReadDevList(devList_.Get());
  {
    const RedrawSuspended quiet(devTree_);  // drawn once, complete
    ShowTree(PlanDeviceTree(classList_, devices_));
  }
  SetColumnWidths(FillColumnWidths(kDetailHeaders, Measure()));
  return SUCCEEDED(hr);
}

void ChooserForm::ShowInsteadOfTree(const std::u16string& text) {
  TVINSERTSTRUCTW item{};
  item.hParent = TVI_ROOT;
  item.hInsertAfter = TVI_LAST;
  item.item.mask = TVIF_TEXT;
  item.item.pszText = TextArg(text);
  TreeView_InsertItem(devTree_, &item);
}

// While the instruments are examined the tree is empty, and its label says why.
void ChooserForm::ShowSearching(bool searching) {
  SetDlgItemTextW(window_, kIdDevsLabel, searching ? kSearchingCaption : CaptionOf(kIdDevsLabel));
}

int ChooserForm::PixelsX(double twips) const { return static_cast<int>(std::lround(twips * dpiX_ / 1440.0)); }

int ChooserForm::PixelsY(double twips) const { return static_cast<int>(std::lround(twips * dpiY_ / 1440.0)); }

float ChooserForm::TextWidth(std::u16string_view text) const {
  SIZE size{};
  if (!text.empty() && !GetTextExtentPoint32W(measuringDc_.get(), reinterpret_cast<const wchar_t*>(text.data()),
                                              static_cast<int>(text.size()), &size))
    throw ComError{E_FAIL};
  return static_cast<float>(size.cx) * 1440.0f / static_cast<float>(dpiX_);
}

MeasureText ChooserForm::Measure() const {
  return [this](std::u16string_view text) { return TextWidth(text); };
}

void ChooserForm::PlaceControls() {
  for (const ControlSpec& control : kControls)
    MoveWindow(GetDlgItem(window_, control.id), PixelsX(control.left), PixelsY(control.top), PixelsX(control.width),
               PixelsY(control.height), FALSE);
  RECT frame{0, 0, PixelsX(kClientWidth), PixelsY(kClientHeight)};
  AdjustWindowRectEx(&frame, GetWindowLongW(window_, GWL_STYLE), FALSE, GetWindowLongW(window_, GWL_EXSTYLE));
  const int width = frame.right - frame.left, height = frame.bottom - frame.top;
  const RECT area = WorkArea();
  SetWindowPos(window_, nullptr, area.left + (area.right - area.left - width) / 2,
               area.top + (area.bottom - area.top - height) / 2, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
}

void ChooserForm::CreatePictures() {
  imgList_ = UniqueImageList(ImageList_Create(kPictureSize, kPictureSize, ILC_COLOR24 | ILC_MASK, kPictureCount, 0));
  if (!imgList_) throw ComError{E_OUTOFMEMORY};
  const UniqueGdiObject strip = PictureStrip();
  ImageList_AddMasked(imgList_.get(), static_cast<HBITMAP>(strip.get()), RGB(192, 192, 192));
  TreeView_SetImageList(devTree_, imgList_.get(), TVSIL_NORMAL);
}

void ChooserForm::CreateColumns() {
  const auto widths = FillColumnWidths(kDetailHeaders, Measure());
  for (int i = 0; i < 2; ++i) {
    const std::u16string header(kDetailHeaders[i]);
    LVCOLUMNW column{};
    column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
    column.pszText = TextArg(header);
    column.cx = PixelsX(widths[i]);
    column.iSubItem = i;
    SendMessageW(devDetails_, LVM_INSERTCOLUMNW, i, reinterpret_cast<LPARAM>(&column));
  }
}

void ChooserForm::ClearTree() {
  {
    const ScopedValue quiet(ignoringTreeNotifications_, true);
    TreeView_DeleteAllItems(devTree_);
  }
  nodeKeys_.clear();
}

void ChooserForm::ShowTree(const TreePlan& plan) {
  const ScopedValue quiet(ignoringTreeNotifications_, true);
  std::vector<std::pair<std::u16string_view, HTREEITEM>> added;
  auto find = [&added](std::u16string_view key) {
    for (const auto& [addedKey, item] : added)
      if (addedKey == key) return item;
    return HTREEITEM{};
  };
  for (const NodePlan& node : plan.nodes)
    added.emplace_back(node.key, AddNode(node.parentKey.empty() ? TVI_ROOT : find(node.parentKey), node));
  for (const std::u16string& key : plan.expandedKeys) TreeView_Expand(devTree_, find(key), TVE_EXPAND);
}

HTREEITEM ChooserForm::AddNode(HTREEITEM parent, const NodePlan& node) {
  nodeKeys_.push_back(node.key);
  TVINSERTSTRUCTW insert{};
  insert.hParent = parent;
  insert.hInsertAfter = TVI_LAST;
  insert.item.mask = TVIF_TEXT | TVIF_IMAGE | TVIF_SELECTEDIMAGE | TVIF_PARAM;
  insert.item.pszText = TextArg(node.text);
  insert.item.iImage = node.image - 1;  // the tree counts pictures from 0
  insert.item.iSelectedImage = node.selectedImage - 1;
  insert.item.lParam = static_cast<LPARAM>(nodeKeys_.size() - 1);
  const auto item =
      reinterpret_cast<HTREEITEM>(SendMessageW(devTree_, TVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&insert)));
  if (!item) throw ComError{E_OUTOFMEMORY};
  return item;
}

std::u16string ChooserForm::KeyOf(HTREEITEM node) const {
  TVITEMW item{};
  item.mask = TVIF_PARAM | TVIF_HANDLE;
  item.hItem = node;
  if (!TreeView_GetItem(devTree_, &item)) throw ComError{E_INVALIDARG};
  return nodeKeys_.at(static_cast<std::size_t>(item.lParam));
}

HTREEITEM ChooserForm::ClickedNode() const {
  const DWORD position = GetMessagePos();
  TVHITTESTINFO hit{};
  hit.pt = {GET_X_LPARAM(position), GET_Y_LPARAM(position)};
  ScreenToClient(devTree_, &hit.pt);
  const HTREEITEM node = TreeView_HitTest(devTree_, &hit);
  return node && (hit.flags & TVHT_ONITEM) ? node : nullptr;
}

void ChooserForm::ClearDetails() { ListView_DeleteAllItems(devDetails_); }

void ChooserForm::AddDetailRow(const std::u16string& name, const std::u16string& value) {
  LVITEMW item{};
  item.mask = LVIF_TEXT;
  item.iItem = ListView_GetItemCount(devDetails_);
  item.pszText = TextArg(name);
  const auto row = static_cast<int>(SendMessageW(devDetails_, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)));
  if (row < 0) throw ComError{E_OUTOFMEMORY};
  LVITEMW subItem{};
  subItem.iSubItem = 1;
  subItem.pszText = TextArg(value);
  SendMessageW(devDetails_, LVM_SETITEMTEXTW, row, reinterpret_cast<LPARAM>(&subItem));
}

void ChooserForm::SetColumnWidths(const std::array<float, 2>& twips) {
  for (int i = 0; i < 2; ++i) ListView_SetColumnWidth(devDetails_, i, PixelsX(twips[i]));
}

void ChooserForm::EnableOpen(bool enabled) { EnableWindow(btnOpen_, enabled ? TRUE : FALSE); }

}  // namespace velcorin
