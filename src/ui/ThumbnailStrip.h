#pragma once
// TThumbStrip: the main window's strip of five thumbnails over the project's
// pictures. It owns the five slots, knows which picture the first one shows,
// scrolls by one picture or jumps, and has the slots rendered through the
// "Thumbnails" loader (or directly when that is busy). The slots are plain
// children of the picture group without object names, so language files see
// the same windows as before; each is named for screen readers by its picture
// number and caption.
#include <QLabel>
#include <QObject>
#include <array>

#include "frames/Bitmap32.h"

namespace sdm {

class TFrameServer;
class TLoaderDlg;
class TSlideProject;

// One slot of the thumbnail strip: a 100 x 75 picture that remembers which
// picture of the list it shows (-1 for none) and reports clicks.
class TThumbSlot : public QLabel {
  Q_OBJECT
public:
  explicit TThumbSlot(QWidget* parent);
  int PictureIndex = -1;
signals:
  void Clicked(TThumbSlot* slot);

protected:
  void mousePressEvent(QMouseEvent* event) override;
};

class TThumbStrip : public QObject {
  Q_OBJECT
public:
  static constexpr int SlotCount = 5;

  // host holds the slots, placed along area; stats shows "first - last / count".
  TThumbStrip(QWidget* host, QWidget* area, QLabel* stats, const TSlideProject& project);
  ~TThumbStrip() override;

  // The server the slots are drawn with (the window's thumbnail server) and
  // the progress dialog that renders them; either may be null.
  void SetServer(TFrameServer* server) { server_ = server; }
  void SetLoader(TLoaderDlg* loader) { loader_ = loader; }

  // Fresh empty slots, the strip back at the first picture.
  void Recreate();
  // Renders the slots that do not show their picture yet, hides the unused
  // ones and updates the count label.
  void Refresh();
  // The loader's step: slot shows picture, drawn into bitmap, unless it shows
  // that picture already.
  void RenderSlot(int slot, int picture, TBitmap32& bitmap);
  // One picture on or back; the slots that stay in view keep their pixmaps.
  void Next();
  void Prev();
  // The strip starts at picture first (the slots keep what they show).
  void JumpTo(int first);
  // The list was edited elsewhere: every slot is drawn again, and the strip
  // stays within the list.
  void PicturesEdited();
  // Hides the count label (the list was emptied).
  void ClearStats();
  // Each visible slot's accessible name, "Picture 3: caption" in the current
  // language, for screen readers (Refresh calls it; so does a language switch).
  void NameSlots();

  int First() const { return first_; }
  TThumbSlot* Slot(int i) const { return slots_[static_cast<size_t>(i)]; }

signals:
  void SlotClicked(TThumbSlot* slot);

private:
  QWidget* host_;
  QWidget* area_;
  QLabel* stats_;
  const TSlideProject& project_;
  TFrameServer* server_ = nullptr;
  TLoaderDlg* loader_ = nullptr;
  std::array<TThumbSlot*, SlotCount> slots_{};
  int first_ = 0;
};

}  // namespace sdm
