#pragma once
// TMyDropTarget: files dragged from a file manager onto the main window. The
// names of a drop are appended to the window's drop list and the window is
// told; entering and leaving change nothing, and a drag is offered the copy
// effect only when its source allows copying.
#include <QObject>
#include <functional>
#include <string>
#include <vector>

class QMimeData;
class QWidget;

namespace sdm {

class TMyDropTarget : public QObject {
  Q_OBJECT
public:
  // Registers the window (and keeps its editing fields from taking the drop
  // as text). The list and the callback are the window's.
  TMyDropTarget(QWidget* window, std::vector<std::string>& dropList, std::function<void()> onFilesDropped);
  // Revokes the registration.
  ~TMyDropTarget() override;

  // When set and true for a drag's names, the drag is refused (no effect).
  std::function<bool(const std::vector<std::string>& names)> Refuses;

  // The local file names a drag carries, in order.
  static std::vector<std::string> FileNames(const QMimeData* data);

protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

private:
  QWidget* window_;
  std::vector<std::string>& dropList_;
  std::function<void()> onFilesDropped_;
};

}  // namespace sdm
