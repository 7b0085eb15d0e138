#pragma once
// TGlyphButton: a push button with its glyph on the left and a caption that
// wraps onto a second line when it does not fit on one, as the strip's
// "Jump to...." and "Sort && Add subtitiles" buttons need at their size.
#include <QPushButton>

namespace sdm {

class TGlyphButton : public QPushButton {
  Q_OBJECT
public:
  explicit TGlyphButton(QWidget* parent = nullptr) : QPushButton(parent) {}

protected:
  void paintEvent(QPaintEvent* event) override;
};

}  // namespace sdm
