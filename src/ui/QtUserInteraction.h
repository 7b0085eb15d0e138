#pragma once
// TQtUserInteraction: the program's messages and questions as Qt message
// boxes, and the finished-job hand-over to whatever the window shows then.
#include <QPointer>
#include <QWidget>
#include <functional>

#include "support/UserInteraction.h"

namespace sdm {

class TQtUserInteraction : public IUserInteraction {
public:
  // Message boxes are centred on parent (may be null).
  explicit TQtUserInteraction(QWidget* parent = nullptr) : parent_(parent) {}

  int MessageBox(const std::string& caption, const std::string& text, int buttons, int kind) override;
  void JobFinished(const std::string& videoPath) override {
    if (OnJobFinished) OnJobFinished(videoPath);
  }

  void SetParent(QWidget* parent) { parent_ = parent; }
  std::function<void(const std::string& videoPath)> OnJobFinished;

private:
  QPointer<QWidget> parent_;
};

// Shows an error box with the error's text (the way a command that fails
// ends) through the process-wide interaction.
void ShowErrorBox(const std::string& text);

}  // namespace sdm
