// How the dialog tells root, class and device nodes apart by key.
#pragma once

#include <string_view>

namespace velcorin {

inline constexpr std::u16string_view kRootKey = u"COMPUTER";

// Whether the details pane treats the node as a device.
constexpr bool IsDeviceNodeKey(std::u16string_view key) {
  return key != kRootKey && key.find(u"CLASS_") == std::u16string_view::npos;
}

// Whether Open accepts the node. It refuses any key containing "CLASS", a
// wider test than the pane's "CLASS_", so a key such as "XCLASSY" shows its
// details yet cannot be confirmed. Real device paths are widened (a U+0000
// after every character), so neither text can occur in them.
constexpr bool OpenConfirms(std::u16string_view key) {
  return key != kRootKey && key.find(u"CLASS") == std::u16string_view::npos;
}

}  // namespace velcorin
