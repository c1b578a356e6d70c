// An in-memory dialog template: the dialog and its controls in creation (tab) order.
#pragma once

#include <windows.h>

#include <string_view>
#include <vector>

namespace velcorin {

class DialogTemplate {
 public:
  // The dialog's own size is set later, in pixels, so the template leaves it 0.
  DialogTemplate(DWORD style, DWORD exStyle, std::wstring_view caption, WORD fontPoints, std::wstring_view fontName);

  // A control of a class given by name; controls are created in the order added.
  void AddControl(std::wstring_view className, WORD id, DWORD style, DWORD exStyle, std::wstring_view text = {});

  const DLGTEMPLATE* get() const;

 private:
  void AlignToDword();
  void AddWord(WORD value) { words_.push_back(value); }
  void AddDword(DWORD value);
  void AddText(std::wstring_view text);

  std::vector<WORD> words_;
};

}  // namespace velcorin
