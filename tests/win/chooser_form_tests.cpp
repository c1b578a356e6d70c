// Chooser.ShowDialog's form through the real DLL: caption, frame, the controls'
// places and order, keys and focus, common controls 6, the pictures, the details
// pane's rows and column widths, and the caller's windows, at the display's own
// resolution and again in a child run at 144 dots per inch.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>
// commctrl.h first: the image list interface uses its types.
#include <commoncontrols.h>
#include <psapi.h>

#include <algorithm>
#include <string>
#include <tuple>
#include <vector>

#include "chooser/pictures.h"
#include "chooser_dialog.h"
#include "chooser_fixture.h"
#include "com_test_util.h"
#include "sim/sim_client.h"
#include "sim/start_process.h"

namespace {

using velcorin::sim::SimClient;

// Every comctl32.dll this process has loaded, in lower case.
std::vector<std::wstring> LoadedCommonControls() {
  HMODULE modules[512];
  DWORD bytes = 0;
  EnumProcessModules(GetCurrentProcess(), modules, sizeof(modules), &bytes);
  std::vector<std::wstring> found;
  for (DWORD i = 0; i < std::min<DWORD>(bytes / sizeof(HMODULE), std::size(modules)); ++i) {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(modules[i], path, MAX_PATH);
    std::wstring lower = _wcslwr(path);
    if (lower.ends_with(L"\\comctl32.dll")) found.push_back(lower);
  }
  return found;
}

RECT ClientRectIn(HWND dialog, HWND control) {
  RECT rect{};
  GetWindowRect(control, &rect);
  MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&rect), 2);
  return rect;
}

void ExpectPicturesAsDrawn(HWND tree) {
  auto* pictures = reinterpret_cast<IImageList*>(TreeView_GetImageList(tree, TVSIL_NORMAL));
  ASSERT_TRUE(pictures);
  int count = 0;
  pictures->GetImageCount(&count);
  ASSERT_EQ(count, velcorin::kPictureCount);
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(info.bmiHeader);
  info.bmiHeader.biWidth = 16;
  info.bmiHeader.biHeight = -16;  // top-down
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  void* bits = nullptr;
  const HBITMAP canvas = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  const HDC dc = CreateCompatibleDC(nullptr);
  const HGDIOBJ previous = SelectObject(dc, canvas);
  constexpr std::uint32_t kBackground = 0xFF00FF;
  for (int picture = 1; picture <= count; ++picture) {
    auto* pixels = static_cast<std::uint32_t*>(bits);
    std::fill(pixels, pixels + 256, kBackground);
    IMAGELISTDRAWPARAMS draw{};
    draw.cbSize = sizeof(draw);
    draw.himl = reinterpret_cast<HIMAGELIST>(pictures);
    draw.i = picture - 1;
    draw.hdcDst = dc;
    draw.rgbBk = CLR_NONE;
    draw.fStyle = ILD_TRANSPARENT;
    pictures->Draw(&draw);
    GdiFlush();
    const auto source = velcorin::PictureOf(picture);
    int wrong = 0;
    for (int i = 0; i < 256; ++i)
      wrong += (pixels[i] & 0xFFFFFF) != (source[i] == velcorin::kPictureMask ? kBackground : source[i]);
    EXPECT_EQ(wrong, 0) << "picture " << picture;
  }
  SelectObject(dc, previous);
  DeleteDC(dc);
  DeleteObject(canvas);
}

// Set in a child run at another resolution: the dots per inch it must see.
int ExpectedDpi() {
  wchar_t text[16] = {};
  return GetEnvironmentVariableW(L"VELCORIN_CHOOSER_DPI", text, 16) ? _wtoi(text) : 0;
}

// Caption, client size, frame styles, the hidden owner, centred on the work area.
void ExpectFormFrame(const Dialog& d) {
  EXPECT_EQ(TextOf(d.window), L"Select Device");
  RECT client{};
  GetClientRect(d.window, &client);
  EXPECT_EQ(client.right, PixelsX(9375));
  EXPECT_EQ(client.bottom, PixelsY(4935));
  const LONG style = GetWindowLongW(d.window, GWL_STYLE), exStyle = GetWindowLongW(d.window, GWL_EXSTYLE);
  EXPECT_EQ(style & (WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_MAXIMIZEBOX | WS_THICKFRAME),
            WS_CAPTION | WS_SYSMENU);
  EXPECT_EQ(exStyle & (WS_EX_DLGMODALFRAME | WS_EX_APPWINDOW | WS_EX_TOOLWINDOW), WS_EX_DLGMODALFRAME);
  const HWND owner = GetWindow(d.window, GW_OWNER);  // hidden: keeps it out of the task bar
  EXPECT_TRUE(owner && !IsWindowVisible(owner));
  RECT frame{}, area{};
  GetWindowRect(d.window, &frame);
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
  EXPECT_NEAR(frame.left + frame.right, area.left + area.right, 1);
  EXPECT_NEAR(frame.top + frame.bottom, area.top + area.bottom, 1);
}

// Every control in tab-index order: class, caption, twips rectangle.
void ExpectControlsInPlace(const Dialog& d) {
  const std::tuple<const wchar_t*, const wchar_t*, int, int, int, int> controls[] = {
      {L"SysTreeView32", L"", 240, 480, 3495, 3720},
      {L"SysListView32", L"", 3840, 480, 5310, 3720},
      {L"Button", L"&Open", 240, 4320, 1245, 450},
      {L"Static", L"Devices Detected:", 240, 240, 2175, 255},
      {L"Static", L"Device Properties:", 3840, 240, 3975, 255},
      {L"Button", L"&Cancel", 1560, 4320, 1245, 450},
      {L"Button", L"&Refresh", 7905, 4320, 1245, 450}};
  HWND child = GetWindow(d.window, GW_CHILD);
  for (const auto& [kind, caption, left, top, width, height] : controls) {
    ASSERT_TRUE(child) << caption;
    wchar_t className[128] = {};
    GetClassNameW(child, className, 128);
    EXPECT_NE(std::wstring(className).find(kind), std::wstring::npos) << className;
    EXPECT_EQ(TextOf(child), caption);
    const RECT rect = ClientRectIn(d.window, child);
    EXPECT_EQ(rect.left, PixelsX(left)) << caption;
    EXPECT_EQ(rect.top, PixelsY(top)) << caption;
    EXPECT_EQ(rect.right - rect.left, PixelsX(width)) << caption;
    EXPECT_EQ(rect.bottom - rect.top, PixelsY(height)) << caption;
    child = GetWindow(child, GW_HWNDNEXT);
  }
}

// Tab order (Open is disabled until a device is clicked), keys, focus.
void ExpectKeysAndFocus(const Dialog& d) {
  EXPECT_EQ(GetNextDlgTabItem(d.window, d.tree, FALSE), d.list);
  EXPECT_EQ(GetNextDlgTabItem(d.window, d.list, FALSE), d.cancel);
  EXPECT_EQ(GetNextDlgTabItem(d.window, d.cancel, FALSE), d.refresh);
  EXPECT_FALSE(IsWindowEnabled(d.open));
  EXPECT_EQ(SendMessageW(d.window, DM_GETDEFID, 0, 0), MAKELONG(IDOK, DC_HASDEFID));
  EXPECT_EQ(TextOf(d.cancel), L"&Cancel");  // IDCANCEL: Esc presses it
  GUITHREADINFO gui{};
  gui.cbSize = sizeof(gui);
  GetGUIThreadInfo(GetWindowThreadProcessId(d.window, nullptr), &gui);
  EXPECT_EQ(gui.hwndFocus, d.tree);
}

// The controls come from common controls 6 of this process's architecture
// (Wine reports the same version for every copy: only the path tells).
void ExpectCommonControls6() {
  const std::wstring controls6 = sizeof(void*) == 8 ? L"\\amd64_microsoft.windows.common-controls_6"
                                                    : L"\\x86_microsoft.windows.common-controls_6";
  const auto loaded = LoadedCommonControls();
  EXPECT_TRUE(std::any_of(loaded.begin(), loaded.end(), [&](const std::wstring& path) {
    return path.find(controls6) != std::wstring::npos;
  })) << testing::PrintToString(loaded);
}

// The list: report view, two headers, sized to the headers after the fill.
void ExpectDetailHeaders(const Dialog& d) {
  EXPECT_EQ(GetWindowLongW(d.list, GWL_STYLE) & LVS_TYPEMASK, LVS_REPORT);
  const wchar_t* headers[] = {L"Parameter Name", L"Parameter Value"};
  for (int i = 0; i < 2; ++i) {
    wchar_t text[64] = {};
    LVCOLUMNW column{};
    column.mask = LVCF_TEXT;
    column.pszText = text;
    column.cchTextMax = 64;
    ListView_GetColumn(d.list, i, &column);
    EXPECT_STREQ(text, headers[i]);
    EXPECT_EQ(ColumnWidth(d.list, i), TextPixels(d.window, std::wstring(headers[i]) + L"     "));
  }
}

// One dialog shown, each subject checked on it; the caller's own windows: an
// enabled one is disabled while the dialog shows, and enabled again after.
TEST_F(ChooserDialog, FormLayoutCaptionsKeysFocusPicturesAndOtherWindows) {
  if (ExpectedDpi()) {
    ASSERT_EQ(PixelsX(1440), ExpectedDpi());
  }
  const HWND enabled =
      CreateWindowExW(0, L"Static", L"client", WS_POPUP | WS_VISIBLE, 0, 0, 50, 50, nullptr, nullptr, nullptr, nullptr);
  const HWND disabled = CreateWindowExW(0, L"Static", L"client", WS_POPUP | WS_VISIBLE | WS_DISABLED, 60, 0, 50, 50,
                                        nullptr, nullptr, nullptr, nullptr);
  const bool selected = Show([&](const Dialog& d) {
    EXPECT_FALSE(IsWindowEnabled(enabled));
    ExpectFormFrame(d);
    ExpectControlsInPlace(d);
    ExpectKeysAndFocus(d);
    ExpectCommonControls6();
    ExpectDetailHeaders(d);
    ExpectPicturesAsDrawn(d.tree);
  });
  EXPECT_FALSE(selected);
  EXPECT_TRUE(IsWindowEnabled(enabled));
  EXPECT_FALSE(IsWindowEnabled(disabled));
  DestroyWindow(enabled);
  DestroyWindow(disabled);
}

TEST_F(ChooserDialog, DetailsRowsAndColumnWidths) {
  SimClient sim(R"([one]
serial = DET2001
model = EVB-1
firmware = 1.0
type = 0x2001
description = "   "
channel1 = Solo
[three]
serial = DET2002
model = EVB-3
firmware = 2.5
type = 0x2002
channels = 3
description = " Bench top "
channel1 = A
channel2 = ""
channel3 = " B"
[ten]
serial = DET2003
model = EVB-10
type = 0x2003
channels = 10
description = Ten
)");
  auto fixed = [](std::wstring model, std::wstring serial, std::wstring firmware, std::wstring description,
                  std::wstring count) {
    return Rows{{L"Model Number", model},
                {L"Serial Number", serial},
                {L"Firmware Version", firmware},
                {L"Description", description},
                {L"Number of Channels", count}};
  };
  Rows one = fixed(L"EVB-1", L"DET2001", L"1.0", L"(None Assigned)", L"1");
  one.emplace_back(L"Channel 1 Description", L"Solo");
  // The identity query trims names at both ends, so " B" arrives as "B".
  Rows three = fixed(L"EVB-3", L"DET2002", L"2.5", L"Bench top", L"3");
  three.insert(three.end(), {{L"Channel 1 Description", L"A"},
                             {L"Channel 2 Description", L"(None Assigned)"},
                             {L"Channel 3 Description", L"B"}});
  Rows ten = fixed(L"EVB-10", L"DET2003", L"", L"Ten", L"10");
  for (int i = 1; i <= 10; ++i)
    ten.emplace_back(L"Channel " + std::to_wstring(i) + L" Description", L"Channel " + std::to_wstring(i));

  EXPECT_FALSE(Show(sim, [&](const Dialog& d) {
    const auto nodes = TreeNodes(d.tree);
    auto widthOf = [&](const Rows& rows, bool values, const wchar_t* header) {
      int widest = TextPixels(d.window, header);
      for (const auto& row : rows) widest = std::max(widest, TextPixels(d.window, values ? row.second : row.first));
      return widest + TextPixels(d.window, L"     ");
    };
    for (const auto& [model, rows] : {std::pair{L"EVB-1", &one}, {L"EVB-3", &three}, {L"EVB-10", &ten}}) {
      Select(d.tree, FindNode(nodes, model)->item);
      EXPECT_EQ(DetailRows(d.list), *rows) << model;
      EXPECT_TRUE(IsWindowEnabled(d.open));
      EXPECT_EQ(ColumnWidth(d.list, 0), widthOf(*rows, false, L"Parameter Name")) << model;
      EXPECT_EQ(ColumnWidth(d.list, 1), widthOf(*rows, true, L"Parameter Value")) << model;
    }
    // The root and a group empty the pane and disable Open; the widths stay.
    const int widths[] = {ColumnWidth(d.list, 0), ColumnWidth(d.list, 1)};
    for (HTREEITEM item : {nodes[1].item, nodes[0].item}) {
      Select(d.tree, item);
      EXPECT_TRUE(DetailRows(d.list).empty());
      EXPECT_FALSE(IsWindowEnabled(d.open));
      EXPECT_EQ(ColumnWidth(d.list, 0), widths[0]);
      EXPECT_EQ(ColumnWidth(d.list, 1), widths[1]);
    }
  }));
}

// Wine reads the resolution when a process starts: the user's LogPixels,
// present for one child run and restored afterwards.
class LogPixelsOverride {
 public:
  explicit LogPixelsOverride(DWORD dpi) {
    RegCreateKeyExW(HKEY_CURRENT_USER, L"Control Panel\\Desktop", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key_,
                    nullptr);
    DWORD size = sizeof(old_);
    hadValue_ =
        RegQueryValueExW(key_, L"LogPixels", nullptr, nullptr, reinterpret_cast<BYTE*>(&old_), &size) == ERROR_SUCCESS;
    RegSetValueExW(key_, L"LogPixels", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dpi), sizeof(dpi));
  }
  ~LogPixelsOverride() {
    if (hadValue_)
      RegSetValueExW(key_, L"LogPixels", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&old_), sizeof(old_));
    else
      RegDeleteValueW(key_, L"LogPixels");
    RegCloseKey(key_);
  }

 private:
  HKEY key_ = nullptr;
  DWORD old_ = 0;
  bool hadValue_ = false;
};

// The layout and the pane's widths follow the display's real resolution.
TEST(ChooserDialogAtAnotherResolution, LayoutAndColumnWidthsAt144Dpi) {
  if (ExpectedDpi()) GTEST_SKIP() << "already the child run";
  const LogPixelsOverride dpi(144);
  wchar_t self[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring commandLine =
      L"\"" + std::wstring(self) + L"\" --gtest_filter=ChooserDialog.FormLayout*:ChooserDialog.DetailsRows*";
  SetEnvironmentVariableW(L"VELCORIN_CHOOSER_DPI", L"144");
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION child{};
  const BOOL started = velcorin::sim::StartProcess(nullptr, commandLine.data(), FALSE, 0, nullptr, &startup, &child);
  SetEnvironmentVariableW(L"VELCORIN_CHOOSER_DPI", nullptr);
  ASSERT_TRUE(started);
  WaitForSingleObject(child.hProcess, 120000);
  DWORD code = 1;
  GetExitCodeProcess(child.hProcess, &code);
  CloseHandle(child.hThread);
  CloseHandle(child.hProcess);
  EXPECT_EQ(code, 0u);
}

}  // namespace
