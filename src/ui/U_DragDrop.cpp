#include "ui/U_DragDrop.h"

#include <QDropEvent>
#include <QMimeData>
#include <QUrl>
#include <QWidget>

namespace sdm {

TMyDropTarget::TMyDropTarget(QWidget* window, std::vector<std::string>& dropList, std::function<void()> onFilesDropped)
    : QObject(window), window_(window), dropList_(dropList), onFilesDropped_(std::move(onFilesDropped)) {
  // Edit fields would take a dropped file as text; the window takes it.
  for (QWidget* child : window->findChildren<QWidget*>()) child->setAcceptDrops(false);
  window->setAcceptDrops(true);
  window->installEventFilter(this);
}

TMyDropTarget::~TMyDropTarget() {
  window_->removeEventFilter(this);
  window_->setAcceptDrops(false);
}

std::vector<std::string> TMyDropTarget::FileNames(const QMimeData* data) {
  std::vector<std::string> names;
  if (!data || !data->hasUrls()) return names;
  for (const QUrl& url : data->urls())
    if (url.isLocalFile()) names.push_back(url.toLocalFile().toStdString());
  return names;
}

bool TMyDropTarget::eventFilter(QObject* watched, QEvent* event) {
  if (watched != window_) return false;
  switch (event->type()) {
    case QEvent::DragEnter:
    case QEvent::DragMove: {
      auto* e = static_cast<QDropEvent*>(event);
      const auto names = FileNames(e->mimeData());
      if (!names.empty() && (e->possibleActions() & Qt::CopyAction) && !(Refuses && Refuses(names))) {
        e->setDropAction(Qt::CopyAction);
        e->accept();
      } else {
        e->ignore();
      }
      return true;
    }
    case QEvent::DragLeave: return true;
    case QEvent::Drop: {
      auto* e = static_cast<QDropEvent*>(event);
      const auto names = FileNames(e->mimeData());
      if (names.empty() || (Refuses && Refuses(names))) {
        e->ignore();
        return true;
      }
      e->setDropAction(Qt::CopyAction);
      e->accept();
      dropList_.insert(dropList_.end(), names.begin(), names.end());
      // Handled after the drop has returned: what it does may show a message
      // box, which must not hold the file manager's drag in the middle.
      if (onFilesDropped_)
        QMetaObject::invokeMethod(
            this, [this] { onFilesDropped_(); }, Qt::QueuedConnection);
      return true;
    }
    default: return false;
  }
}

}  // namespace sdm
