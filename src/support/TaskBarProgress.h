#pragma once
// Unit U_TaskBarProgressUnit.
// TTaskProgressBar: the progress shown on the program's taskbar button. This
// desktop has no common interface for it, so the bar keeps its state (range,
// position, state, active flag) and hands every change to an optional
// observer, which the window may use to mirror it.
#include <cstdint>
#include <functional>

namespace sdm {

class TTaskProgressBar {
public:
  // States: 0 none, 1 indeterminate, 2 normal, 3 error, 4 paused.
  enum : int { psNone = 0, psIndeterminate = 1, psNormal = 2, psError = 3, psPaused = 4 };

  // A window handle of 0 means "no taskbar button": every call then keeps
  // only the state and the active flag.
  explicit TTaskProgressBar(uintptr_t windowHandle);
  ~TTaskProgressBar();

  void SetMax(int64_t value);
  void SetPosition(int64_t value);
  void SetState(int state);
  void SetActive(bool active);

  int64_t Min() const { return min_; }
  int64_t Max() const { return max_; }
  int64_t Position() const { return position_; }
  int State() const { return state_; }
  bool Active() const { return active_; }
  bool HasIndicator() const { return indicator_; }

  // The system's flag of a state: 0, 1, 2, 4, 8.
  static int StateFlag(int state);

  // Called with (state flag, position, maximum) after each visible change.
  std::function<void(int flag, int64_t position, int64_t max)> OnChange;

private:
  void Show(int flag);

  uintptr_t window_;
  bool indicator_ = false;
  int64_t min_ = 0, max_ = 100, position_ = 10;
  int state_ = psNormal;
  bool active_ = false;
};

}  // namespace sdm
