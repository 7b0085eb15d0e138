#include "ui/GlyphButton.h"

#include <QStyleOptionButton>
#include <QStylePainter>

namespace sdm {

void TGlyphButton::paintEvent(QPaintEvent*) {
  QStylePainter p(this);
  QStyleOptionButton option;
  initStyleOption(&option);
  // The frame alone; glyph and caption are laid out here.
  option.text.clear();
  option.icon = QIcon();
  p.drawControl(QStyle::CE_PushButton, option);

  const QRect inner = rect().adjusted(6, 2, -4, -2);
  const QSize glyph = iconSize();
  const bool enabled = isEnabled();
  if (!icon().isNull()) {
    const QRect glyphRect(inner.left(), inner.center().y() - glyph.height() / 2, glyph.width(), glyph.height());
    icon().paint(&p, glyphRect, Qt::AlignCenter, enabled ? QIcon::Normal : QIcon::Disabled);
  }
  const QRect textRect = inner.adjusted(icon().isNull() ? 0 : glyph.width() + 5, 0, 0, 0);
  p.setPen(palette().color(enabled ? QPalette::Active : QPalette::Disabled, QPalette::ButtonText));
  p.drawText(textRect, Qt::AlignVCenter | Qt::AlignLeft | Qt::TextWordWrap | Qt::TextShowMnemonic, text());
}

}  // namespace sdm
