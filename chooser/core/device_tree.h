// The device tree as a plan: which nodes to add, in which order, and which to expand.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "chooser/core/class_catalogue.h"
#include "chooser/core/device_record.h"

namespace velcorin {

inline constexpr std::u16string_view kRootText = u"My Computer";
inline constexpr std::int32_t kRootImage = 2;
inline constexpr std::int32_t kGroupImage = 3;

struct NodePlan {
  std::u16string parentKey;  // empty for the top level
  std::u16string key;
  std::u16string text;
  std::int32_t image = 0;
  std::int32_t selectedImage = 0;
  bool operator==(const NodePlan&) const = default;
};

struct TreePlan {
  std::vector<NodePlan> nodes;  // in the order they are added to the tree
  std::vector<std::u16string> expandedKeys;
};

// The root, then per device (in list order) its class group when that is new
// and the device itself. Tree keys must be unique: a device whose path is
// already a key (a repeated path, "COMPUTER", an existing group key, or the key
// of the group it would create) is left out, with no group made for it.
// A class missing from the catalogue gets a group of its own titled and
// pictured as a fresh DevClassInfo.
TreePlan PlanDeviceTree(std::span<const DevClassInfo> catalogue, std::span<const DeviceRecord> devices);

// First node, in tree order, whose key is the class key of n; nullptr if none.
const NodePlan* FindClassNode(std::span<const NodePlan> nodes, std::int16_t n);

}  // namespace velcorin
