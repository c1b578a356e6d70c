#include "installer/core/wix_registry.h"

#include <cstdio>

namespace velcorin::installer {

namespace {

// ASCII, with the characters XML reserves in attributes, and any other
// character, as references.
std::string Attribute(const std::wstring& text) {
  std::string out;
  for (const wchar_t c : text) {
    switch (c) {
      case L'&': out += "&amp;"; break;
      case L'<': out += "&lt;"; break;
      case L'>': out += "&gt;"; break;
      case L'"': out += "&quot;"; break;
      default:
        if (c >= 0x20 && c < 0x7F) {
          out += static_cast<char>(c);
        } else {
          char reference[16];
          std::snprintf(reference, sizeof reference, "&#x%X;", static_cast<unsigned>(c));
          out += reference;
        }
    }
  }
  return out;
}

}  // namespace

std::string WixRegistryInclude(const registration::Rows& rows, bool firstIsKeyPath) {
  std::string out =
      "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<!-- Generated at build time from the component's own registration. "
      "-->\n<Include>\n";
  bool keyPath = firstIsKeyPath;
  for (const registration::Row& row : rows) {
    out += "  <RegistryValue Root=\"HKLM\" Key=\"Software\\Classes\\" + Attribute(row.key) + "\"";
    if (!row.name.empty()) out += " Name=\"" + Attribute(row.name) + "\"";
    out += " Value=\"" + Attribute(row.value) + "\" Type=\"string\"";
    if (keyPath) out += " KeyPath=\"yes\"";
    keyPath = false;
    out += "/>\n";
  }
  return out + "</Include>\n";
}

}  // namespace velcorin::installer
