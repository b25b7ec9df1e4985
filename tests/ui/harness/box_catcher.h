// Catches the modal windows the code under test opens on this thread. The code under test
// blocks in the window's own message loop, so the catcher runs from a thread timer, which
// that loop dispatches: it reads each message box as the user sees it, lets the test look at
// the screen while the box is up, and then presses the box's button.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace gui {

enum class BoxIcon { None, Error, Information, Warning, Question, Other };

struct SeenBox {
  HWND owner;
  std::string caption;
  std::string text;
  BoxIcon icon;
  bool ownerDisabled;
};

class BoxCatcher {
 public:
  BoxCatcher();
  ~BoxCatcher();
  BoxCatcher(const BoxCatcher&) = delete;
  BoxCatcher& operator=(const BoxCatcher&) = delete;

  // Called while a message box is open, before it is answered.
  std::function<void(HWND box, const SeenBox& seen)> whileOpen;
  // Called once for every other modal dialog of this thread (a chooser, say); it acts on the
  // window (and typically closes it). Return false to be called again at the next tick.
  std::function<bool(HWND window)> onOtherDialog;
  // The button pressed in each message box.
  int answer = IDOK;

  const std::vector<SeenBox>& boxes() const { return boxes_; }
  // The dialogs the catcher must leave alone: the test's own windows.
  void Ignore(HWND window) { ignored_.push_back(window); }

 private:
  static void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD);
  void Scan();

  UINT_PTR timer_ = 0;
  bool inside_ = false;
  std::vector<SeenBox> boxes_;
  std::vector<HWND> handled_;
  std::vector<HWND> ignored_;
};

// Whether a top-level window is a message box (it carries the box's text control).
bool IsMessageBox(HWND window);

}  // namespace gui
