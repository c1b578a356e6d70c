#include "chooser/dialog_template.h"

namespace velcorin {

namespace {

// Word offset of DLGTEMPLATE::cdit, the control count.
constexpr std::size_t kCountOffset = 4;

}  // namespace

DialogTemplate::DialogTemplate(DWORD style, DWORD exStyle, std::wstring_view caption, WORD fontPoints,
                               std::wstring_view fontName) {
  AddDword(style | DS_SETFONT);
  AddDword(exStyle);
  AddWord(0);                              // controls, counted as they are added
  for (int i = 0; i < 4; ++i) AddWord(0);  // x, y, cx, cy
  AddWord(0);                              // no menu
  AddWord(0);                              // the dialog class
  AddText(caption);
  AddWord(fontPoints);
  AddText(fontName);
}

void DialogTemplate::AddControl(std::wstring_view className, WORD id, DWORD style, DWORD exStyle,
                                std::wstring_view text) {
  AlignToDword();
  AddDword(style | WS_CHILD | WS_VISIBLE);
  AddDword(exStyle);
  for (int i = 0; i < 4; ++i) AddWord(0);  // placed in pixels once created
  AddWord(id);
  AddText(className);
  AddText(text);
  AddWord(0);  // no creation data
  ++words_[kCountOffset];
}

const DLGTEMPLATE* DialogTemplate::get() const { return reinterpret_cast<const DLGTEMPLATE*>(words_.data()); }

void DialogTemplate::AlignToDword() {
  if (words_.size() % 2 != 0) AddWord(0);
}

void DialogTemplate::AddDword(DWORD value) {
  AddWord(LOWORD(value));
  AddWord(HIWORD(value));
}

void DialogTemplate::AddText(std::wstring_view text) {
  words_.insert(words_.end(), text.begin(), text.end());
  AddWord(0);
}

}  // namespace velcorin
