// frmChooser: the modal "Select Device" dialog behind Chooser.ShowDialog.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Velcorin_h.h"
#include "chooser/core/class_catalogue.h"
#include "chooser/core/details_pane.h"
#include "chooser/core/device_record.h"
#include "chooser/core/device_tree.h"
#include "chooser/window_scopes.h"
#include "common/com_object.h"
#include "common/owners.h"

namespace velcorin {

class Device;
class Enumeration;

class ChooserForm {
 public:
  ChooserForm();
  ~ChooserForm();
  ChooserForm(const ChooserForm&) = delete;
  ChooserForm& operator=(const ChooserForm&) = delete;

  // What the dialog ended with; kept after it closes, until the form is released.
  bool IsOkClicked = false;
  std::u16string DevicePath;
  // Set by the Chooser before the form is shown; shared, never changed here.
  ComPtr<_Collection> Filter;

  // Shows the dialog and returns once it is closed. Throws ComError when the
  // window system cannot show it.
  void ShowModal();

 private:
  static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  INT_PTR HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
  void OnInitDialog(HWND window);
  void OnCommand(WORD id);
  void OnNotify(const NMHDR& header);
  void Unload();

  void Form_Load();
  void btnOpen_Click();
  void btnCancel_Click();
  void btnRefresh_Click();
  void devTree_NodeClick(HTREEITEM node);
  void FillDeviceTree();
  void OnExamined();
  bool FinishFill(Enumeration& enumeration);
  void ShowInsteadOfTree(const std::u16string& text);
  void ShowSearching(bool searching);

  // Layout and measuring in the form's own units (twips) and font.
  int PixelsX(double twips) const;
  int PixelsY(double twips) const;
  float TextWidth(std::u16string_view text) const;
  MeasureText Measure() const;
  void PlaceControls();
  void CreatePictures();
  void CreateColumns();

  // The controls as the handlers see them.
  void ClearTree();
  void ShowTree(const TreePlan& plan);
  HTREEITEM AddNode(HTREEITEM parent, const NodePlan& node);
  std::u16string KeyOf(HTREEITEM node) const;
  HTREEITEM ClickedNode() const;
  void ClearDetails();
  void AddDetailRow(const std::u16string& name, const std::u16string& value);
  void SetColumnWidths(const std::array<float, 2>& twips);
  void EnableOpen(bool enabled);

  HWND window_ = nullptr;
  HWND devTree_ = nullptr;
  HWND devDetails_ = nullptr;
  HWND btnOpen_ = nullptr;
  HFONT font_ = nullptr;
  int dpiX_ = 96;
  int dpiY_ = 96;
  bool loaded_ = false;
  bool ignoringTreeNotifications_ = false;  // the tree is being changed, not clicked
  bool fillRunning_ = false;                // from FillDeviceTree until its tree is shown
  bool refillWanted_ = false;               // Refresh was clicked during it
  bool unloading_ = false;
  ThreadWindowsDisabled* otherWindows_ = nullptr;  // while shown

  UniqueMemoryDc measuringDc_;  // TextWidth's, with the form's font selected
  std::optional<Selection> measuringFont_;
  UniqueImageList imgList_;
  std::vector<DevClassInfo> classList_;
  ComPtr<Device> devEnum_;
  std::unique_ptr<Enumeration> enumeration_;  // the fill's examinations, while in flight
  ComPtr<_Collection> devList_;
  std::vector<DeviceRecord> devices_;     // devList_ as read after the last fill
  std::vector<std::u16string> nodeKeys_;  // a tree item's lParam indexes its key
};

}  // namespace velcorin
