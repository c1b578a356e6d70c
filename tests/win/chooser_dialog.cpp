#include "chooser_dialog.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "sim/start_process.h"

namespace {

bool IsOurDialog(HWND window) {
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  return process == GetCurrentProcessId() && IsWindowVisible(window);
}

HWND FindOurDialog() {
  HWND window = nullptr;
  while ((window = FindWindowExW(nullptr, window, L"#32770", L"Select Device")))
    if (IsOurDialog(window)) return window;
  return nullptr;
}

// Common controls 6 may register versioned class names: match on the ending.
HWND ChildOfClass(HWND dialog, const std::wstring& suffix) {
  for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    wchar_t name[128] = {};
    GetClassNameW(child, name, 128);
    const std::wstring text = name;
    if (text.size() >= suffix.size() && text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0)
      return child;
  }
  return nullptr;
}

Dialog WaitForDialog(DWORD timeoutMs) {
  Dialog dialog;
  for (DWORD waited = 0; waited < timeoutMs && !dialog.window; waited += 20) {
    dialog.window = FindOurDialog();
    if (!dialog.window) Sleep(20);
  }
  if (!dialog.window) return dialog;
  dialog.tree = ChildOfClass(dialog.window, L"SysTreeView32");
  dialog.list = ChildOfClass(dialog.window, L"SysListView32");
  dialog.open = GetDlgItem(dialog.window, IDOK);
  dialog.cancel = GetDlgItem(dialog.window, IDCANCEL);
  dialog.refresh = FindWindowExW(dialog.window, nullptr, nullptr, L"&Refresh");
  return dialog;
}

int Dpi(int axis) {
  const HDC screen = GetDC(nullptr);
  const int dpi = GetDeviceCaps(screen, axis);
  ReleaseDC(nullptr, screen);
  return dpi;
}

void TreeWalk(HWND tree, HTREEITEM item, int level, std::vector<TreeNode>& nodes) {
  for (; item; item = TreeView_GetNextSibling(tree, item)) {
    wchar_t text[256] = {};
    TVITEMW info{};
    info.mask = TVIF_TEXT | TVIF_IMAGE | TVIF_SELECTEDIMAGE | TVIF_STATE | TVIF_HANDLE;
    info.hItem = item;
    info.stateMask = TVIS_EXPANDED;
    info.pszText = text;
    info.cchTextMax = 256;
    TreeView_GetItem(tree, &info);
    nodes.push_back({item, level, text, info.iImage + 1, info.iSelectedImage + 1, (info.state & TVIS_EXPANDED) != 0});
    TreeWalk(tree, TreeView_GetChild(tree, item), level + 1, nodes);
  }
}

}  // namespace

DialogDriver::DialogDriver(std::function<void(const Dialog&)> drive, bool afterFill)
    : thread_([this, drive = std::move(drive), afterFill] {
        const Dialog dialog = WaitForDialog(30000);
        if (!dialog.window || (afterFill && !WaitUntilFilled(dialog))) return;
        sawDialog_ = true;
        drive(dialog);
        if (IsWindow(dialog.window)) PostMessageW(dialog.window, WM_CLOSE, 0, 0);
      }) {}

void DialogDriver::Join() {
  if (thread_.joinable()) thread_.join();
}

std::vector<TreeNode> TreeNodes(HWND tree) {
  std::vector<TreeNode> nodes;
  TreeWalk(tree, TreeView_GetRoot(tree), 0, nodes);
  return nodes;
}

const TreeNode* FindNode(const std::vector<TreeNode>& nodes, const std::wstring& text) {
  for (const TreeNode& node : nodes)
    if (node.text == text) return &node;
  return nullptr;
}

void Select(HWND tree, HTREEITEM item) { TreeView_SelectItem(tree, item); }

Rows DetailRows(HWND list) {
  Rows rows;
  const int count = ListView_GetItemCount(list);
  for (int i = 0; i < count; ++i) {
    wchar_t name[256] = {}, value[256] = {};
    ListView_GetItemText(list, i, 0, name, 256);
    ListView_GetItemText(list, i, 1, value, 256);
    rows.emplace_back(name, value);
  }
  return rows;
}

int ColumnWidth(HWND list, int column) { return ListView_GetColumnWidth(list, column); }

std::wstring TextOf(HWND window) {
  wchar_t text[256] = {};
  GetWindowTextW(window, text, 256);
  return text;
}

bool IsOpen(const Dialog& dialog) { return IsWindow(dialog.window) && IsWindowVisible(dialog.window); }

// By window text, which is read without a message to the dialog's thread.
bool Searching(const Dialog& dialog) {
  return IsWindow(dialog.window) && !FindWindowExW(dialog.window, nullptr, L"Static", L"Devices Detected:");
}

bool WaitUntilFilled(const Dialog& dialog, DWORD timeoutMs) {
  return WaitFor([&] { return !Searching(dialog); }, timeoutMs);
}

int TextPixels(HWND dialog, const std::wstring& text) {
  const auto font = reinterpret_cast<HFONT>(SendMessageW(dialog, WM_GETFONT, 0, 0));
  const HDC dc = CreateCompatibleDC(nullptr);
  const HGDIOBJ previous = SelectObject(dc, font);
  SIZE size{};
  GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
  SelectObject(dc, previous);
  DeleteDC(dc);
  return size.cx;
}

int PixelsX(int twips) { return static_cast<int>(std::lround(twips * Dpi(LOGPIXELSX) / 1440.0)); }
int PixelsY(int twips) { return static_cast<int>(std::lround(twips * Dpi(LOGPIXELSY) / 1440.0)); }

std::string UnixPath(const std::wstring& windowsPath) {
  using ToUnix = char*(CDECL*)(const wchar_t*);
  const auto toUnix = reinterpret_cast<ToUnix>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
  if (!toUnix) return {};
  char* path = toUnix(windowsPath.c_str());
  if (!path) return {};
  std::string result = path;
  HeapFree(GetProcessHeap(), 0, path);
  return result;
}

// Wine starts a Linux program through start.exe without waiting for it: the
// script marks its end in a file, which is polled.
bool RunUnix(const std::string& command) {
  static int serial = 0;
  wchar_t folder[MAX_PATH] = {};
  GetCurrentDirectoryW(MAX_PATH, folder);
  const std::wstring base = std::wstring(folder) + L"\\chooser-unix-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                            std::to_wstring(++serial);
  const std::wstring script = base + L".sh", done = base + L".done";
  const std::string unixDone = UnixPath(done);
  {
    std::ofstream file(std::filesystem::path(script), std::ios::binary);
    file << command << "\necho $? > '" << unixDone << ".part' && mv '" << unixDone << ".part' '" << unixDone << "'\n";
  }
  const std::string unixScript = UnixPath(script);
  std::wstring commandLine = L"start.exe /unix /bin/sh " + std::wstring(unixScript.begin(), unixScript.end());
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process{};
  if (!velcorin::sim::StartProcess(nullptr, commandLine.data(), FALSE, 0, nullptr, &startup, &process)) return false;
  WaitForSingleObject(process.hProcess, 10000);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  std::string status;
  for (int waited = 0; waited < 20000 && status.empty(); waited += 20) {
    std::ifstream file{std::filesystem::path(done)};
    if (!(file >> status)) Sleep(20);
  }
  DeleteFileW(script.c_str());
  DeleteFileW(done.c_str());
  return status == "0";
}

bool Xdo(const std::string& arguments) { return RunUnix("xdotool " + arguments); }

POINT NodeCentre(HWND tree, HTREEITEM item) {
  RECT rect{};
  TreeView_GetItemRect(tree, item, &rect, TRUE);
  POINT centre{(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2};
  ClientToScreen(tree, &centre);
  return centre;
}

POINT WindowCentre(HWND window) {
  RECT rect{};
  GetWindowRect(window, &rect);
  return {(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2};
}

// The window system itself says where the close box is.
POINT CloseBox(HWND window) {
  RECT rect{};
  GetWindowRect(window, &rect);
  RECT box{rect.right, rect.bottom, rect.left, rect.top};
  for (int y = rect.top; y < rect.top + 40; ++y)
    for (int x = rect.right - 80; x < rect.right; ++x)
      if (SendMessageW(window, WM_NCHITTEST, 0, MAKELPARAM(x, y)) == HTCLOSE) {
        box = {std::min<LONG>(box.left, x), std::min<LONG>(box.top, y), std::max<LONG>(box.right, x),
               std::max<LONG>(box.bottom, y)};
      }
  return {(box.left + box.right) / 2, (box.top + box.bottom) / 2};
}

bool ClickAt(POINT point) {
  std::ostringstream arguments;
  arguments << "mousemove " << point.x << ' ' << point.y << " click 1";
  return Xdo(arguments.str());
}

namespace {

BOOL CALLBACK CountVisible(HWND window, LPARAM count) {
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  *reinterpret_cast<int*>(count) += process == GetCurrentProcessId() && IsWindowVisible(window);
  return TRUE;
}

}  // namespace

int VisibleWindowsOfThisProcess() {
  int count = 0;
  EnumWindows(&CountVisible, reinterpret_cast<LPARAM>(&count));
  return count;
}
