// Chooser.ShowDialog through the real DLL over simulated instruments: the
// form's layout, tree, details pane, buttons and results, driven from a second
// thread with window messages and from the X server with xdotool.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>
// commctrl.h first: the image list interface uses its types.
#include <commoncontrols.h>
#include <psapi.h>

#include <algorithm>
#include <map>
#include <string>
#include <tuple>

#include "chooser/pictures.h"
#include "chooser_dialog.h"
#include "com_test_util.h"
#include "sim/sim_client.h"
#include "sim/start_process.h"

namespace {

using velcorin::sim::SimClient;

constexpr const char* kOneClass = R"([a]
serial = ONE3001
model = LDI-A
type = 0x3001
[b]
serial = ONE3002
model = LDI-B
type = 0x3002
)";

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

// A listed device as the test's own enumeration sees it.
struct Listed {
  std::wstring path, model, serial;
  long productId = 0;
};

// An empty collection of the component's own: a fresh filter's Tokens.
std::vector<Listed> Enumerate() {
  std::vector<Listed> listed;
  auto device = CreateByProgId<_Device>(L"Velcorin.Device");
  auto list = NewList(), filter = NewList();
  VARIANT_BOOL ok = VARIANT_FALSE;
  if (!device || !list || !filter || FAILED(device->EnumDevices(list.Get(), filter.Get(), &ok))) return listed;
  long count = 0;
  list->Count(&count);
  for (long i = 1; i <= count; ++i) {
    VARIANT index = I4(i), item{};
    list->Item(&index, &item);
    ComPtr<_DevInfo> info;
    V_DISPATCH(&item)->QueryInterface(IID_PPV_ARGS(&info));
    BSTR path = nullptr, model = nullptr, serial = nullptr;
    Listed entry;
    info->get_DevicePath(&path);
    info->get_ModelNumber(&model);
    info->get_SerialNumber(&serial);
    info->get_ProductID(&entry.productId);
    entry.path = Text(path), entry.model = Text(model), entry.serial = Text(serial);
    SysFreeString(path), SysFreeString(model), SysFreeString(serial);
    VariantClear(&item);
    listed.push_back(entry);
  }
  return listed;
}

const Listed& BySerial(const std::vector<Listed>& listed, const std::wstring& serial) {
  for (const Listed& entry : listed)
    if (entry.serial == serial) return entry;
  throw std::runtime_error("not listed");
}

class ChooserDialog : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(chooser_); }

  // ShowDialog while `drive` works the dialog from a second thread.
  bool Show(std::function<void(const Dialog&)> drive) {
    DialogDriver driver(std::move(drive));
    VARIANT_BOOL selected = VARIANT_TRUE;
    EXPECT_EQ(chooser_->ShowDialog(&selected), S_OK);
    driver.Join();
    EXPECT_TRUE(driver.SawDialog());
    VARIANT_BOOL stored = VARIANT_TRUE;
    chooser_->get_IsDeviceSelected(&stored);
    EXPECT_EQ(stored, selected);
    return selected == VARIANT_TRUE;
  }

  // The same once the simulator listens again on every instrument the last fill closed.
  bool Show(SimClient& sim, std::function<void(const Dialog&)> drive) {
    EXPECT_TRUE(sim.WaitUntilAllFree());
    return Show(std::move(drive));
  }

  std::wstring ChosenPath() {
    BSTR path = nullptr;
    chooser_->get_DevicePath(&path);
    std::wstring text = Text(path);
    SysFreeString(path);
    return text;
  }

  ComPtr<_Chooser> chooser_ = CreateByProgId<_Chooser>(L"Velcorin.Chooser");
};

void Command(const Dialog& dialog, WORD id) { SendMessageW(dialog.window, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0); }

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

TEST_F(ChooserDialog, OneClassTreeOpenRulesAndResults) {
  SimClient sim(kOneClass);
  const auto listed = Enumerate();
  ASSERT_EQ(listed.size(), 2u);
  const Listed& second = BySerial(listed, L"ONE3002");

  EXPECT_TRUE(Show(sim, [&](const Dialog& d) {
    const auto nodes = TreeNodes(d.tree);
    ASSERT_EQ(nodes.size(), 4u);
    // One class: the root and its only group are both expanded.
    EXPECT_EQ(std::tie(nodes[0].level, nodes[0].text, nodes[0].picture, nodes[0].selectedPicture, nodes[0].expanded),
              std::make_tuple(0, std::wstring(L"My Computer"), 2, 2, true));
    EXPECT_EQ(std::tie(nodes[1].level, nodes[1].text, nodes[1].picture, nodes[1].selectedPicture, nodes[1].expanded),
              std::make_tuple(1, std::wstring(L"Laser Diode Driver Instruments"), 3, 3, true));
    for (int i = 0; i < 2; ++i)
      EXPECT_EQ(std::tie(nodes[2 + i].level, nodes[2 + i].text, nodes[2 + i].picture, nodes[2 + i].selectedPicture),
                std::make_tuple(2, listed[i].model, 6, 6));
    // Open (Enter) on the root, on the group and with nothing selected does nothing.
    for (HTREEITEM item : {nodes[0].item, nodes[1].item, HTREEITEM{}}) {
      Select(d.tree, item);
      EXPECT_FALSE(IsWindowEnabled(d.open));
      Command(d, IDOK);
      EXPECT_TRUE(IsOpen(d));
    }
    Select(d.tree, FindNode(nodes, L"LDI-B")->item);
    EXPECT_TRUE(IsWindowEnabled(d.open));
    SendMessageW(d.open, BM_CLICK, 0, 0);
  }));
  // The key of the device node is its path, exactly as enumerated, and it opens.
  EXPECT_EQ(ChosenPath(), second.path);
  auto device = CreateByProgId<_Device>(L"Velcorin.Device");
  BSTR path = SysAllocStringLen(second.path.data(), static_cast<UINT>(second.path.size()));
  VARIANT_BOOL opened = VARIANT_FALSE;
  EXPECT_EQ(device->OpenDev(path, &opened), S_OK);
  SysFreeString(path);
  EXPECT_EQ(opened, VARIANT_TRUE);
  device->CloseDev();
  sim.WaitUntilFree("ONE3002");

  // Cancel, and then the close box, after an earlier Open: False and "".
  EXPECT_FALSE(Show(sim, [](const Dialog& d) { SendMessageW(d.cancel, BM_CLICK, 0, 0); }));
  EXPECT_EQ(ChosenPath(), L"");
  EXPECT_TRUE(Show(sim, [](const Dialog& d) {
    Select(d.tree, FindNode(TreeNodes(d.tree), L"LDI-A")->item);
    Command(d, IDOK);
  }));
  EXPECT_EQ(ChosenPath(), BySerial(listed, L"ONE3001").path);
  EXPECT_FALSE(Show(sim, [](const Dialog& d) { PostMessageW(d.window, WM_CLOSE, 0, 0); }));
  EXPECT_EQ(ChosenPath(), L"");
}

TEST_F(ChooserDialog, SeveralClassesAndAnUnknownOne) {
  SimClient sim(R"([tool]
serial = SEV0001
model = DBG
type = 0x0001
[comp]
serial = SEV0105
model = LDC
type = 0x0105
[odd]
serial = SEV0342
model = ODD
type = 0x0342
[tec]
serial = SEV1102
model = TCM
type = 0x1102
[hybrid]
serial = SEV4001
model = HYB
type = 0x4001
)");
  const auto listed = Enumerate();
  ASSERT_EQ(listed.size(), 5u);
  const std::map<long, std::pair<std::wstring, int>> classOf = {{0x0001, {L"Development and Diagnostics Tools", 1}},
                                                                {0x0105, {L"Laser Diode Driver Components", 6}},
                                                                {0x0342, {L"HVXUSB Compatible Device", 5}},
                                                                {0x1102, {L"Temperature Controller Modules", 7}},
                                                                {0x4001, {L"Hybrid/System Solutions", 5}}};
  // Groups in the order their first device was listed (one device per class here).
  std::vector<std::tuple<int, std::wstring, int, bool>> expected = {{0, L"My Computer", 2, true}};
  for (const Listed& entry : listed) {
    expected.emplace_back(1, classOf.at(entry.productId).first, 3, false);
    expected.emplace_back(2, entry.model, classOf.at(entry.productId).second, false);
  }
  EXPECT_TRUE(Show(sim, [&](const Dialog& d) {
    const auto nodes = TreeNodes(d.tree);
    ASSERT_EQ(nodes.size(), expected.size());
    for (size_t i = 0; i < nodes.size(); ++i) {
      EXPECT_EQ(std::tie(nodes[i].level, nodes[i].text, nodes[i].picture, nodes[i].expanded), expected[i]) << i;
      EXPECT_EQ(nodes[i].selectedPicture, nodes[i].picture) << i;
    }
    // The instrument of the unknown class can be chosen like any other.
    Select(d.tree, FindNode(nodes, L"ODD")->item);
    EXPECT_EQ(DetailRows(d.list).at(0), std::make_pair(std::wstring(L"Model Number"), std::wstring(L"ODD")));
    SendMessageW(d.open, BM_CLICK, 0, 0);
  }));
  EXPECT_EQ(ChosenPath(), BySerial(listed, L"SEV0342").path);
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

TEST_F(ChooserDialog, RefreshAfterUnplug) {
  SimClient sim(kOneClass);
  EXPECT_FALSE(Show(sim, [&](const Dialog& d) {
    Select(d.tree, FindNode(TreeNodes(d.tree), L"LDI-A")->item);
    ASSERT_FALSE(DetailRows(d.list).empty());
    ASSERT_TRUE(sim.Unplug("ONE3001"));
    ASSERT_TRUE(sim.WaitUntilAllFree());
    SendMessageW(d.refresh, BM_CLICK, 0, 0);
    ASSERT_TRUE(WaitUntilFilled(d));
    const auto nodes = TreeNodes(d.tree);
    ASSERT_EQ(nodes.size(), 3u);
    EXPECT_EQ(nodes[2].text, L"LDI-B");
    EXPECT_TRUE(DetailRows(d.list).empty());
    EXPECT_FALSE(IsWindowEnabled(d.open));
    SendMessageW(d.cancel, BM_CLICK, 0, 0);
  }));
}

// An instrument whose type code is not a number makes the enumeration raise an
// error after the one listed before it (the system lists them by path: pid order).
TEST_F(ChooserDialog, EnumerationErrorShowsWhatWasListedWithoutAMessage) {
  SimClient sim(R"([good]
serial = ERR0105
model = LDC
type = 0x0105
[bad]
serial = ERR8001
model = BAD
type = 0x8001
devtype_text = "12a"
)");
  EXPECT_FALSE(Show(sim, [&](const Dialog& d) {
    for (int fill = 0; fill < 2; ++fill) {  // the load, then Refresh
      const auto nodes = TreeNodes(d.tree);
      ASSERT_EQ(nodes.size(), 3u);
      EXPECT_EQ(nodes[2].text, L"LDC");
      EXPECT_FALSE(IsWindowEnabled(d.open));
      EXPECT_EQ(VisibleWindowsOfThisProcess(), 1);  // the dialog and no message box
      ASSERT_TRUE(sim.WaitUntilAllFree());
      SendMessageW(d.refresh, BM_CLICK, 0, 0);
      ASSERT_TRUE(WaitUntilFilled(d));
    }
    SendMessageW(d.cancel, BM_CLICK, 0, 0);
  }));
}

// Real input through the X server: mouse clicks, Enter, Esc, Alt+O, the close box.
TEST_F(ChooserDialog, RealInput) {
  SimClient sim(kOneClass);
  const auto listed = Enumerate();
  ASSERT_EQ(listed.size(), 2u);
  auto clickDevice = [](const Dialog& d, const wchar_t* model) {
    ASSERT_TRUE(ClickAt(NodeCentre(d.tree, FindNode(TreeNodes(d.tree), model)->item)));
    ASSERT_TRUE(WaitFor([&] { return DetailRows(d.list).size() > 0 && DetailRows(d.list)[0].second == model; }));
  };
  auto closed = [](const Dialog& d) { EXPECT_TRUE(WaitFor([&] { return !IsWindow(d.window); })); };

  EXPECT_TRUE(Show(sim, [&](const Dialog& d) {
    clickDevice(d, L"LDI-B");
    // A click on the node already selected rebuilds the pane too (a click, not
    // the second half of a double click).
    ListView_DeleteAllItems(d.list);
    Sleep(GetDoubleClickTime() + 200);
    clickDevice(d, L"LDI-B");
    SendMessageW(d.window, WM_NCACTIVATE, TRUE, 0);
    wchar_t folder[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, folder);
    EXPECT_TRUE(RunUnix("xwd -root -display \"$DISPLAY\" | /usr/bin/convert xwd:- '" +
                        UnixPath(std::wstring(folder) + L"\\chooser-dialog.png") + "'"));
    ASSERT_TRUE(ClickAt(WindowCentre(d.open)));
    closed(d);
  }));
  EXPECT_EQ(ChosenPath(), BySerial(listed, L"ONE3002").path);

  EXPECT_TRUE(Show(sim, [&](const Dialog& d) {
    clickDevice(d, L"LDI-A");
    ASSERT_TRUE(Xdo("key Return"));
    closed(d);
  }));
  EXPECT_EQ(ChosenPath(), BySerial(listed, L"ONE3001").path);

  EXPECT_FALSE(Show(sim, [&](const Dialog& d) {
    // Keyboard moves are node clicks too: from the root down to the first device.
    ASSERT_TRUE(ClickAt(NodeCentre(d.tree, TreeView_GetRoot(d.tree))));
    ASSERT_TRUE(Xdo("key Down Down"));
    EXPECT_TRUE(WaitFor([&] { return DetailRows(d.list).size() == 6 && IsWindowEnabled(d.open); }));
    ASSERT_TRUE(Xdo("key Escape"));
    closed(d);
  }));
  EXPECT_EQ(ChosenPath(), L"");

  EXPECT_TRUE(Show(sim, [&](const Dialog& d) {
    clickDevice(d, L"LDI-B");
    ASSERT_TRUE(Xdo("key alt+o"));
    closed(d);
  }));
  EXPECT_EQ(ChosenPath(), BySerial(listed, L"ONE3002").path);

  EXPECT_FALSE(Show(sim, [&](const Dialog& d) {
    ASSERT_TRUE(ClickAt(CloseBox(d.window)));
    closed(d);
  }));
  EXPECT_EQ(ChosenPath(), L"");
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
