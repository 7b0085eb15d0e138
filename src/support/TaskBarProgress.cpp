#include "support/TaskBarProgress.h"

namespace sdm {

TTaskProgressBar::TTaskProgressBar(uintptr_t windowHandle) : window_(windowHandle) {
  if (window_ == 0) return;
  indicator_ = true;
  Show(StateFlag(psNone));
  SetState(psNormal);
  // Without progress until the first position arrives.
  SetActive(false);
}

TTaskProgressBar::~TTaskProgressBar() {
  if (indicator_ && OnChange) OnChange(StateFlag(psNone), position_, max_);
}

int TTaskProgressBar::StateFlag(int state) {
  switch (state) {
    case psIndeterminate: return 1;
    case psNormal: return 2;
    case psError: return 4;
    case psPaused: return 8;
    default: return 0;
  }
}

void TTaskProgressBar::Show(int flag) {
  if (indicator_ && OnChange) OnChange(flag, position_, max_);
}

void TTaskProgressBar::SetMax(int64_t value) {
  max_ = value;
  SetPosition(position_);
}

void TTaskProgressBar::SetPosition(int64_t value) {
  if (!indicator_) return;
  position_ = value;
  Show(StateFlag(state_));
}

void TTaskProgressBar::SetState(int state) {
  state_ = state;
  Show(StateFlag(state));
}

void TTaskProgressBar::SetActive(bool active) {
  if (!active)
    SetState(psNone);
  else if (state_ != psNormal)
    SetState(psNormal);
  active_ = active;
}

}  // namespace sdm
