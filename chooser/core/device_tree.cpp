#include "chooser/core/device_tree.h"

#include <algorithm>

#include "chooser/core/node_keys.h"
#include "discovery/core/device_class.h"

namespace velcorin {

namespace {

bool HasKey(std::span<const NodePlan> nodes, std::u16string_view key) {
  return std::any_of(nodes.begin(), nodes.end(), [key](const NodePlan& node) { return node.key == key; });
}

DevClassInfo ClassRecordFor(std::span<const DevClassInfo> catalogue, std::int16_t n) {
  if (const DevClassInfo* known = FindDeviceClass(catalogue, n)) return *known;
  DevClassInfo unknown;  // fresh title and pictures, but its own key
  unknown.DeviceClass = n;
  return unknown;
}

NodePlan GroupNode(const DevClassInfo& info) {
  return {std::u16string(kRootKey), info.ClassKey(), info.Description, kGroupImage, kGroupImage};
}

void AddDevice(TreePlan& plan, std::span<const DevClassInfo> catalogue, const DeviceRecord& device) {
  const std::int16_t n = ClassOf(device.ProductID);
  const DevClassInfo info = ClassRecordFor(catalogue, n);
  const NodePlan* group = FindClassNode(plan.nodes, n);
  std::u16string parentKey = group ? group->key : info.ClassKey();
  if (HasKey(plan.nodes, device.DevicePath) || (!group && parentKey == device.DevicePath)) return;
  if (!group) plan.nodes.push_back(GroupNode(info));
  plan.nodes.push_back(
      {std::move(parentKey), device.DevicePath, device.ModelNumber, info.UnselectedImageId, info.SelectedImageId});
}

std::vector<std::u16string> ExpandedKeys(std::span<const NodePlan> nodes) {
  std::vector<std::u16string> keys{std::u16string(kRootKey)};
  auto isRootChild = [](const NodePlan& node) { return node.parentKey == kRootKey; };
  if (std::count_if(nodes.begin(), nodes.end(), isRootChild) == 1)
    keys.push_back(std::find_if(nodes.begin(), nodes.end(), isRootChild)->key);
  return keys;
}

}  // namespace

const NodePlan* FindClassNode(std::span<const NodePlan> nodes, std::int16_t n) {
  const std::u16string key = MakeClassKey(n);
  auto found = std::find_if(nodes.begin(), nodes.end(), [&key](const NodePlan& node) { return node.key == key; });
  return found == nodes.end() ? nullptr : &*found;
}

TreePlan PlanDeviceTree(std::span<const DevClassInfo> catalogue, std::span<const DeviceRecord> devices) {
  TreePlan plan;
  plan.nodes.push_back({u"", std::u16string(kRootKey), std::u16string(kRootText), kRootImage, kRootImage});
  for (const auto& device : devices) AddDevice(plan, catalogue, device);
  plan.expandedKeys = ExpandedKeys(plan.nodes);
  return plan;
}

}  // namespace velcorin
