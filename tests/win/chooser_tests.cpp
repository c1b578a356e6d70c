// Chooser.ShowDialog through the real DLL over simulated instruments: the tree,
// the open rules and results, refresh, an enumeration's error, real input from the
// X server with xdotool, and the tree and details pane over hostile instruments.
// The dialog is driven from a second thread with window messages.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <map>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

#include "chooser_dialog.h"
#include "chooser_fixture.h"
#include "com_test_util.h"
#include "hostile_lab.h"
#include "sim/sim_client.h"

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

void Command(const Dialog& dialog, WORD id) { SendMessageW(dialog.window, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0); }

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

// --- over hostile instruments ------------------------------------------------------------

std::vector<std::wstring> DeviceNodeTexts(HWND tree) {
  std::vector<std::wstring> texts;
  for (const TreeNode& node : TreeNodes(tree)) {
    if (node.level == 2) texts.push_back(node.text);
  }
  std::sort(texts.begin(), texts.end());
  return texts;
}

// The tree shows exactly the instruments that open, filled once the silent ones are
// waited out, and no message box appears.
TEST(Chooser, TheTreeShowsWhatOpensWhateverTheOthersDo) {
  Lab lab(Plans{{"HOSD0001", ""},
                {"HOSD0002", "silent = yes"},
                {"HOSD0003", "random_replies = yes\nrandom_transfers = 7, 8"},
                {"HOSD0004", "unplug_after = 2"},
                {"HOSD0005", "devtype_text = 12a"},
                {"HOSD0006", "channels = 32767\nanswer_channels = no"},
                {"HOSD0007", "random_replies = yes\nrandom_sizes = yes"}});
  const std::vector<std::wstring> expected = {L"M-HOSD0001", L"M-HOSD0003", L"M-HOSD0006"};
  auto chooser = CreateByProgId<_Chooser>(L"Velcorin.Chooser");
  ASSERT_TRUE(chooser);
  double appeared = 0, refreshed = 0;
  const auto start = Clock::now();
  DialogDriver driver([&](const Dialog& d) {
    appeared = SecondsSince(start);
    EXPECT_EQ(DeviceNodeTexts(d.tree), expected);
    EXPECT_EQ(VisibleWindowsOfThisProcess(), 1);  // the dialog and no message box
    ASSERT_TRUE(lab.sim.Plug("HOSD0004"));        // back, to unplug itself again
    ASSERT_TRUE(lab.sim.WaitUntilAllFree());      // listening again after the first fill
    const auto clicked = Clock::now();
    SendMessageW(d.refresh, BM_CLICK, 0, 0);
    ASSERT_TRUE(WaitUntilFilled(d));
    refreshed = SecondsSince(clicked);
    EXPECT_EQ(DeviceNodeTexts(d.tree), expected);
    EXPECT_FALSE(IsWindowEnabled(d.open));
    SendMessageW(d.cancel, BM_CLICK, 0, 0);
  });
  VARIANT_BOOL selected = VARIANT_TRUE;
  EXPECT_EQ(chooser->ShowDialog(&selected), S_OK);
  driver.Join();
  ASSERT_TRUE(driver.SawDialog());
  EXPECT_EQ(selected, VARIANT_FALSE);
  // Waited out: six reads of the silent one, three channels of HOSD0006.
  const double bound = (6 + 3) * kLimit + 2 * kSlack;
  EXPECT_LT(appeared, bound);
  EXPECT_LT(refreshed, bound);
  Figure("Chooser: dialog up over seven hostile instruments", appeared);
  Figure("Chooser: Refresh over the same", refreshed);
}

// With a repaint per row, 32767 rows took minutes under Wine.
TEST(Chooser, TheDetailsOfThirtyTwoThousandChannelsFillPromptly) {
  Lab lab(Plans{{"HOSD0010", "channels = 32767\nanswer_channels = no"}});
  auto chooser = CreateByProgId<_Chooser>(L"Velcorin.Chooser");
  ASSERT_TRUE(chooser);
  double detailsShown = 0;
  DialogDriver driver([&](const Dialog& d) {
    const auto nodes = TreeNodes(d.tree);
    const TreeNode* many = FindNode(nodes, L"M-HOSD0010");
    ASSERT_TRUE(many);
    const auto clicked = Clock::now();
    Select(d.tree, many->item);
    detailsShown = SecondsSince(clicked);
    EXPECT_EQ(ListView_GetItemCount(d.list), 5 + 32767);
    EXPECT_TRUE(IsWindowEnabled(d.open));
    SendMessageW(d.cancel, BM_CLICK, 0, 0);
  });
  VARIANT_BOOL selected = VARIANT_TRUE;
  EXPECT_EQ(chooser->ShowDialog(&selected), S_OK);
  driver.Join();
  ASSERT_TRUE(driver.SawDialog());
  EXPECT_LT(detailsShown, 10.0);
  Figure("Chooser: details of 32767 channels", detailsShown);
}

}  // namespace
