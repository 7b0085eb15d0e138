#include "ui/ThumbnailStrip.h"

#include <QMouseEvent>
#include <QPainter>
#include <algorithm>

#include "frames/U_FrameServer.h"
#include "localization/TextStorage.h"
#include "project/U_SlideProject.h"
#include "ui/ThumbnailLoaderDlg.h"
#include "ui/UiHelpers.h"

namespace sdm {

namespace {

QPixmap MissingPicture() {
  QPixmap p(TFrameServer::ThumbnailWidth, TFrameServer::ThumbnailHeight);
  p.fill(QColor(64, 64, 64));
  QPainter painter(&p);
  painter.setPen(QPen(QColor(200, 60, 60), 3));
  painter.drawLine(38, 26, 62, 50);
  painter.drawLine(62, 26, 38, 50);
  return p;
}

}  // namespace

TThumbSlot::TThumbSlot(QWidget* parent) : QLabel(parent) {
  setAlignment(Qt::AlignLeft | Qt::AlignTop);
  setScaledContents(false);
  setCursor(Qt::PointingHandCursor);
}

void TThumbSlot::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) emit Clicked(this);
  QLabel::mousePressEvent(event);
}

TThumbStrip::TThumbStrip(QWidget* host, QWidget* area, QLabel* stats, const TSlideProject& project)
    : QObject(host), host_(host), area_(area), stats_(stats), project_(project) {
  Recreate();
}

TThumbStrip::~TThumbStrip() {
  for (TThumbSlot*& slot : slots_) {
    delete slot;
    slot = nullptr;
  }
}

void TThumbStrip::Recreate() {
  const QRect r = area_->geometry();
  for (int i = 0; i < SlotCount; ++i) {
    delete slots_[i];
    auto* slot = new TThumbSlot(host_);
    slot->setGeometry(r.left() + i * 103 + 1, r.top() + 1, TFrameServer::ThumbnailWidth, TFrameServer::ThumbnailHeight);
    slot->PictureIndex = -1;
    connect(slot, &TThumbSlot::Clicked, this, &TThumbStrip::SlotClicked);
    slot->show();
    slots_[i] = slot;
  }
  first_ = 0;
}

void TThumbStrip::RenderSlot(int slot, int picture, TBitmap32& bitmap) {
  TThumbSlot* s = slots_[slot];
  if (s->PictureIndex == picture) return;
  s->hide();
  QPixmap pixmap;
  try {
    server_->GetFrame(bitmap, picture);
    pixmap = QPixmap::fromImage(BitmapToImage(bitmap));
  } catch (const std::exception&) {
    // A picture that cannot be read shows as such; the job will say why.
    pixmap = MissingPicture();
  }
  s->setPixmap(pixmap);
  s->PictureIndex = picture;
  s->show();
  s->repaint();
}

void TThumbStrip::Refresh() {
  const int n = project_.PictureCount();
  const int f = first_;
  const int last = std::min(f + 4, n - 1);
  if (n > 0 && server_) {
    if (loader_ && !loader_->Working()) {
      loader_->FirstIndex = f;
      loader_->LastIndex = last;
      loader_->Execute();
    } else {
      // Asked again while the loader works (a second drop handled inside its
      // loop): the few slots are rendered here.
      TBitmap32 bitmap;
      for (int k = 0; k <= last - f; ++k) RenderSlot(k, f + k, bitmap);
    }
  }
  for (int k = 0; k < SlotCount; ++k) {
    if (k <= last - f) {
      slots_[k]->show();
      slots_[k]->update();
    } else {
      slots_[k]->hide();
    }
  }
  stats_->setText(QString("%1 - %2 / %3").arg(f + 1).arg(last + 1).arg(n));
  stats_->setVisible(n > 0);
  NameSlots();
}

void TThumbStrip::NameSlots() {
  const std::string pattern = main_ts().Translate("Picture %d");
  const TStringList& captions = project_.CaptionList();
  for (int k = 0; k < SlotCount; ++k) {
    TThumbSlot* slot = slots_[k];
    const int picture = first_ + k;
    if (picture >= project_.PictureCount()) {
      slot->setAccessibleName(QString());
      continue;
    }
    std::string name = pattern;
    const size_t at = name.find("%d");
    if (at != std::string::npos) name.replace(at, 2, std::to_string(picture + 1));
    if (picture < captions.Count() && !captions[picture].empty()) name += ": " + captions[picture];
    slot->setAccessibleName(QString::fromStdString(name));
  }
}

void TThumbStrip::Next() {
  const int n = project_.PictureCount();
  if (n < 6) return;
  const int f = std::min(first_ + 1, n - 5);
  if (f == first_) return;
  first_ = f;
  for (int i = 0; i < SlotCount - 1; ++i) {
    slots_[i]->setPixmap(slots_[i + 1]->pixmap());
    slots_[i]->PictureIndex = slots_[i + 1]->PictureIndex;
  }
  slots_[SlotCount - 1]->PictureIndex = -1;
  Refresh();
}

void TThumbStrip::Prev() {
  const int n = project_.PictureCount();
  if (n == 0) return;
  const int f = std::max(first_ - 1, 0);
  if (f == first_) return;
  first_ = f;
  for (int i = SlotCount - 1; i > 0; --i) {
    slots_[i]->setPixmap(slots_[i - 1]->pixmap());
    slots_[i]->PictureIndex = slots_[i - 1]->PictureIndex;
  }
  slots_[0]->PictureIndex = -1;
  Refresh();
}

void TThumbStrip::JumpTo(int first) {
  // The slots keep their pictures: those already right are not rendered again.
  first_ = first;
  Refresh();
}

void TThumbStrip::PicturesEdited() {
  for (TThumbSlot* slot : slots_) slot->PictureIndex = -1;
  // Pictures deleted may leave the strip past the end of the list.
  first_ = std::clamp(first_, 0, std::max(0, project_.PictureCount() - SlotCount));
  Refresh();
}

void TThumbStrip::ClearStats() {
  stats_->clear();
  stats_->hide();
}

}  // namespace sdm
