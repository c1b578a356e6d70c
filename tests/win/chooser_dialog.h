// Driving the "Select Device" dialog of this process from a second thread, and
// real X input through xdotool on the Linux side.
#pragma once

#include "wait_for.h"

#include <windows.h>
#include <commctrl.h>

#include <functional>
#include <string>
#include <thread>
#include <vector>

struct Dialog {
  HWND window = nullptr, tree = nullptr, list = nullptr;
  HWND open = nullptr, cancel = nullptr, refresh = nullptr;
};

struct TreeNode {
  HTREEITEM item = nullptr;
  int level = 0;  // 0 for the root
  std::wstring text;
  int picture = 0, selectedPicture = 0;  // 1-based, as the form numbers them
  bool expanded = false;
};

using Rows = std::vector<std::pair<std::wstring, std::wstring>>;

// Runs `drive` on its own thread once this process shows the dialog and, unless
// told otherwise, has filled its tree; closes the dialog through its close box
// afterwards should `drive` leave it open.
class DialogDriver {
 public:
  explicit DialogDriver(std::function<void(const Dialog&)> drive, bool afterFill = true);
  ~DialogDriver() { Join(); }
  void Join();
  bool SawDialog() const { return sawDialog_; }

 private:
  bool sawDialog_ = false;
  std::thread thread_;
};

std::vector<TreeNode> TreeNodes(HWND tree);
const TreeNode* FindNode(const std::vector<TreeNode>& nodes, const std::wstring& text);
void Select(HWND tree, HTREEITEM item);
Rows DetailRows(HWND list);
int ColumnWidth(HWND list, int column);
std::wstring TextOf(HWND window);
bool IsOpen(const Dialog& dialog);
// While the instruments are examined the tree's label says so.
bool Searching(const Dialog& dialog);
// Until the fill that is running (the load's, or Refresh's) has shown its tree.
bool WaitUntilFilled(const Dialog& dialog, DWORD timeoutMs = 30000);

// Width in pixels of a text in the dialog's own font.
int TextPixels(HWND dialog, const std::wstring& text);
// Twips to pixels at the display's real resolution.
int PixelsX(int twips);
int PixelsY(int twips);

// Runs a shell command on the Linux side and waits for it; true when it exited 0.
bool RunUnix(const std::string& command);
std::string UnixPath(const std::wstring& windowsPath);
// xdotool with the given arguments.
bool Xdo(const std::string& arguments);
// The centre of a tree node, a window's centre, and the close box, in screen coordinates.
POINT NodeCentre(HWND tree, HTREEITEM item);
POINT WindowCentre(HWND window);
POINT CloseBox(HWND window);
bool ClickAt(POINT point);

// Visible top-level windows of this process: the dialog alone means no message box.
int VisibleWindowsOfThisProcess();
