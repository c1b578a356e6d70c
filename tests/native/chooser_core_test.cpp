#include <gtest/gtest.h>

#include "chooser/core/class_catalogue.h"
#include "chooser/core/details_pane.h"
#include "chooser/core/device_tree.h"
#include "chooser/core/node_keys.h"
#include "discovery/core/device_class.h"

namespace velcorin {
namespace {

using namespace std::literals;

TEST(ClassKeys, MakeClassKeyAndClassOf) {
  for (auto [dc, key] : {std::pair<std::int16_t, const char16_t*>{0, u"CLASS_0000"},
                         {4352, u"CLASS_1100"},
                         {-4096, u"CLASS_F000"},
                         {-1, u"CLASS_FFFF"}})
    EXPECT_EQ(MakeClassKey(dc), key);
  for (auto [id, dc] : {std::pair<std::int32_t, std::int16_t>{0x1234, 0x1200},
                        {0x00FF, 0},
                        {-4095, -4096},
                        {61441, -4096},
                        {0x8000, -32768},
                        {0x12345, 0x2300}})
    EXPECT_EQ(ClassOf(id), dc) << id;
}

TEST(Catalogue, FreshRecordAndElevenRecordsInOrder) {
  const DevClassInfo fresh;
  EXPECT_EQ(fresh.Description, u"HVXUSB Compatible Device");
  EXPECT_EQ(std::tie(fresh.DeviceClass, fresh.SelectedImageId, fresh.UnselectedImageId),
            std::make_tuple(std::int16_t{0}, 5, 5));
  EXPECT_EQ(fresh.ClassKey(), u"CLASS_0000");
  const std::tuple<std::int16_t, const char16_t*, std::int32_t> expected[] = {
      {0x0000, u"Development and Diagnostics Tools", 1},
      {0x0100, u"Laser Diode Driver Components", 6},
      {0x0200, u"Temperature Controller Components", 7},
      {0x1000, u"Laser Diode Driver Modules", 6},
      {0x1100, u"Temperature Controller Modules", 7},
      {0x2000, u"Laser Diode Driver Eval Boards", 6},
      {0x2100, u"Temperature Controller Eval Boards", 7},
      {0x3000, u"Laser Diode Driver Instruments", 6},
      {0x3100, u"Temperature Controller Instruments", 7},
      {0x4000, u"Hybrid/System Solutions", 5},
      {-4096, u"In-House Test Fixtures", 1}};
  const auto catalogue = BuildCatalogue();
  ASSERT_EQ(catalogue.size(), std::size(expected));
  for (std::size_t i = 0; i < catalogue.size(); ++i) {
    const auto& [dc, desc, image] = expected[i];
    EXPECT_EQ(catalogue[i].DeviceClass, dc) << i;
    EXPECT_EQ(catalogue[i].Description, desc) << i;
    EXPECT_EQ(catalogue[i].SelectedImageId, image) << i;
    EXPECT_EQ(catalogue[i].UnselectedImageId, image) << i;
  }
  EXPECT_EQ(FindDeviceClass(catalogue, -4096), &catalogue.back());
  EXPECT_EQ(FindDeviceClass(catalogue, 0x0300), nullptr);
}

DeviceRecord Device(std::u16string path, std::u16string model, std::int32_t productId) {
  DeviceRecord device;
  device.DevicePath = path;
  device.ModelNumber = model;
  device.ProductID = productId;
  return device;
}

TreePlan Plan(const std::vector<DeviceRecord>& devices) { return PlanDeviceTree(BuildCatalogue(), devices); }

const NodePlan kRoot = {u"", u"COMPUTER", u"My Computer", 2, 2};
using Keys = std::vector<std::u16string>;

TEST(DeviceTree, EmptyAndSingleClassExpansion) {
  EXPECT_EQ(Plan({}).nodes, std::vector<NodePlan>{kRoot});
  EXPECT_EQ(Plan({}).expandedKeys, Keys{u"COMPUTER"});
  const auto plan = Plan({Device(u"a", u"LD-1", 0x0105), Device(u"b", u"LD-2", 0x01FF)});
  const std::vector<NodePlan> expected = {kRoot,
                                          {u"COMPUTER", u"CLASS_0100", u"Laser Diode Driver Components", 3, 3},
                                          {u"CLASS_0100", u"a", u"LD-1", 6, 6},
                                          {u"CLASS_0100", u"b", u"LD-2", 6, 6}};
  EXPECT_EQ(plan.nodes, expected);
  EXPECT_EQ(plan.expandedKeys, (Keys{u"COMPUTER", u"CLASS_0100"}));
}

TEST(DeviceTree, GroupsInFirstOccurrenceOrderUnknownClassOwnGroup) {
  const auto plan = Plan({Device(u"a", u"TC", 0x3105), Device(u"b", u"Odd", 0x0342), Device(u"c", u"TC", 0x3101)});
  const std::vector<NodePlan> expected = {kRoot,
                                          {u"COMPUTER", u"CLASS_3100", u"Temperature Controller Instruments", 3, 3},
                                          {u"CLASS_3100", u"a", u"TC", 7, 7},
                                          {u"COMPUTER", u"CLASS_0300", u"HVXUSB Compatible Device", 3, 3},
                                          {u"CLASS_0300", u"b", u"Odd", 5, 5},
                                          {u"CLASS_3100", u"c", u"TC", 7, 7}};
  EXPECT_EQ(plan.nodes, expected);
  EXPECT_EQ(plan.expandedKeys, Keys{u"COMPUTER"});
}

TEST(DeviceTree, DuplicateKeysLeftOutWithoutEmptyGroup) {
  const auto plan =
      Plan({Device(u"p", u"first", 0x0100), Device(u"p", u"again", 0x0100), Device(u"COMPUTER", u"", 0x0200),
            Device(u"CLASS_0100", u"", 0x1000), Device(u"CLASS_2000", u"", 0x2000)});
  ASSERT_EQ(plan.nodes.size(), 3u);
  EXPECT_EQ(plan.nodes[2].text, u"first");
}

TEST(NodeKeys, PaneAndOpenRules) {
  const std::tuple<std::u16string_view, bool, bool> cases[] = {{u"COMPUTER", false, false},
                                                               {u"xCLASS_01", false, false},
                                                               {u"XCLASSY", true, false},
                                                               {u"computer", true, true},
                                                               {u"C\0L\0A\0S\0S\0_\0"sv, true, true}};
  for (const auto& [key, device, opens] : cases) {
    EXPECT_EQ(IsDeviceNodeKey(key), device);
    EXPECT_EQ(OpenConfirms(key), opens);
  }
}

DeviceRecord Record(std::int32_t count, std::optional<std::vector<std::u16string>> names = {}) {
  DeviceRecord record = Device(u"p", u"LDD", 0x0100);
  record.FirmwareVersion = u"1.0";
  record.Description = u" Bench ";
  record.ChannelCount = count;
  record.ChannelNames = names;
  return record;
}

TEST(DetailRows, FixedRowsAndChannelNames) {
  const std::vector<DetailRow> expected = {{u"Model Number", u"LDD"},
                                           {u"Serial Number", u""},
                                           {u"Firmware Version", u"1.0"},
                                           {u"Description", u" Bench "},
                                           {u"Number of Channels", u"3"},
                                           {u"Channel 1 Description", u"A"},
                                           {u"Channel 2 Description", u"(None Assigned)"},
                                           {u"Channel 3 Description", u" B"}};
  EXPECT_EQ(DetailRows(Record(3, Keys{u"A", u"", u" B"})), expected);
  const auto ten = DetailRows(Record(10, Keys(10, u"x")));
  EXPECT_EQ(ten.back().name, u"Channel 10 Description");
  const auto missing = DetailRows(Record(2, Keys{u"A"}));  // short array, then no array
  EXPECT_EQ(missing[6].value, u"(None Assigned)");
  EXPECT_EQ(DetailRows(Record(1))[5].value, u"(None Assigned)");
}

TEST(DetailRows, BlankMeansSpacesOnly) {
  for (auto [description, shown] :
       {std::pair{u"   "s, u"(None Assigned)"s}, {u""s, u"(None Assigned)"s}, {u"\0\0"s, u"\0\0"s}}) {
    auto record = Record(0);
    record.Description = description;
    EXPECT_EQ(DetailRows(record)[3].value, shown);
  }
}

TEST(DetailRows, ChannelRowsOnlyForCountsOneTo32767) {
  for (auto [count, shown, rows] :
       {std::tuple{0, u"0", 5}, {-3, u"-3", 5}, {4, u"4", 9}, {32767, u"32767", 5 + 32767}, {32768, u"32768", 5}}) {
    const auto result = DetailRows(Record(count));
    EXPECT_EQ(result[4].value, shown);
    EXPECT_EQ(result.size(), static_cast<std::size_t>(rows)) << count;
  }
}

float FifteenPerChar(std::u16string_view text) { return 15.0f * static_cast<float>(text.size()); }

TEST(ColumnWidths, WidestTextOrHeaderPlusFiveSpaces) {
  const std::vector<DetailRow> narrow = {{u"Model", u"X"}};
  EXPECT_EQ(ColumnWidths(narrow, kDetailHeaders, FifteenPerChar), (std::array{285.0f, 300.0f}));
  const std::vector<DetailRow> wide = {{u"Channel 10 Description", u"a rather long value text"}};
  EXPECT_EQ(ColumnWidths(wide, kDetailHeaders, FifteenPerChar), (std::array{405.0f, 435.0f}));
  EXPECT_EQ(FillColumnWidths(kDetailHeaders, FifteenPerChar), (std::array{285.0f, 300.0f}));
}

TEST(NodeClick, OnlyDeviceNodesEnableOpenAndResize) {
  const std::vector<DeviceRecord> devices = {Record(1)};
  for (auto key : {u"COMPUTER", u"CLASS_0100"}) {
    const auto plan = PlanNodeClick(devices, key, FifteenPerChar);
    EXPECT_FALSE(plan.openEnabled || !plan.rows.empty() || plan.columnWidths);
  }
  const auto plan = PlanNodeClick(devices, u"p", FifteenPerChar);
  EXPECT_TRUE(plan.openEnabled && plan.rows.size() == 6 && plan.columnWidths);
}

}  // namespace
}  // namespace velcorin
