// The chooser's tree plan and details pane over records of any content, as a
// client may have written them into DevInfo objects: keys stay unique, every
// node hangs under one added before it, and clicking any node plans the rows
// the record calls for.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include "chooser/core/details_pane.h"
#include "chooser/core/device_tree.h"
#include "chooser/core/node_keys.h"

using namespace velcorin;

namespace {

// Mostly short texts from a few characters, so that paths collide with each other
// and with the keys "COMPUTER" and "CLASS_xxxx" often enough to matter.
std::u16string Text(FuzzedDataProvider& in) {
  static const std::u16string kPieces[] = {
      u"", u"COMPUTER", u"CLASS_", u"3000", u"CLASS_3000", u" ", std::u16string(1, u'\0'), u"a"};
  std::u16string text;
  const int pieces = in.ConsumeIntegralInRange(0, 3);
  for (int i = 0; i < pieces; ++i) {
    if (in.ConsumeBool()) {
      text += kPieces[in.ConsumeIntegralInRange<std::size_t>(0, std::size(kPieces) - 1)];
    } else {
      text += static_cast<char16_t>(in.ConsumeIntegral<std::uint16_t>());
    }
  }
  return text;
}

std::int32_t Count(FuzzedDataProvider& in) {
  // Not 32767: planning that many rows would slow every run down; the native tests have it.
  switch (in.ConsumeIntegralInRange(0, 7)) {
    case 0: return 32768;  // one past the largest count shown
    case 1: return in.ConsumeIntegral<std::int32_t>();
    default: return in.ConsumeIntegralInRange(-2, 12);
  }
}

DeviceRecord Record(FuzzedDataProvider& in) {
  DeviceRecord record;
  record.DevicePath = Text(in);
  record.ModelNumber = Text(in);
  record.Description = Text(in);
  record.ProductID = in.ConsumeBool() ? in.ConsumeIntegral<std::int32_t>() : in.ConsumeIntegralInRange(0x2F00, 0x3200);
  record.ChannelCount = Count(in);
  if (in.ConsumeBool()) {
    record.ChannelNames.emplace();
    for (int n = in.ConsumeIntegralInRange(0, 14); n > 0; --n) record.ChannelNames->push_back(Text(in));
  }
  return record;
}

std::size_t ChannelRows(std::int32_t count) { return count >= 1 && count <= 32767 ? count : 0; }

float Measure(std::u16string_view text) { return 10.0f * static_cast<float>(text.size()); }

void CheckTree(const TreePlan& plan, const std::vector<DeviceRecord>& devices) {
  std::set<std::u16string> keys;
  for (const NodePlan& node : plan.nodes) {
    const bool root = keys.empty();
    if (root != node.parentKey.empty()) std::abort();
    if (!root && !keys.contains(node.parentKey)) std::abort();  // parents come first
    if (!keys.insert(node.key).second) std::abort();            // keys are unique
  }
  if (plan.nodes.empty() || plan.nodes[0].key != kRootKey) std::abort();
  if (plan.nodes.size() > 1 + 2 * devices.size()) std::abort();
  for (const auto& key : plan.expandedKeys) {
    if (!keys.contains(key)) std::abort();
  }
}

void CheckClicks(const TreePlan& plan, const std::vector<DeviceRecord>& devices) {
  for (const NodePlan& node : plan.nodes) {
    const NodeClickPlan click = PlanNodeClick(devices, node.key, Measure);
    if (click.openEnabled != IsDeviceNodeKey(node.key)) std::abort();
    const DeviceRecord* record = FindDeviceByPath(devices, node.key);
    const std::size_t rows = click.openEnabled && record ? 5 + ChannelRows(record->ChannelCount) : 0;
    if (click.rows.size() != rows) std::abort();
    if (click.openEnabled && (!click.columnWidths || (*click.columnWidths)[0] < Measure(kDetailHeaders[0])))
      std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider in(data, size);
  std::vector<DeviceRecord> devices;
  for (int n = in.ConsumeIntegralInRange(0, 12); n > 0 && in.remaining_bytes() > 0; --n) devices.push_back(Record(in));
  const std::vector<DevClassInfo> catalogue = BuildCatalogue();
  const TreePlan plan = PlanDeviceTree(catalogue, devices);
  CheckTree(plan, devices);
  CheckClicks(plan, devices);
  return 0;
}
