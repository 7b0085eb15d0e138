#include "ui/ClampSpinBox.h"

#include <QLineEdit>
#include <algorithm>

namespace sdm {

namespace {

// The typed number without prefix, suffix and blanks; false when the text is
// not a whole number at all.
bool TypedNumber(const QSpinBox& box, QString text, qlonglong& number) {
  if (!box.prefix().isEmpty() && text.startsWith(box.prefix())) text.remove(0, box.prefix().size());
  if (!box.suffix().isEmpty() && text.endsWith(box.suffix())) text.chop(box.suffix().size());
  text = text.trimmed();
  bool ok = false;
  number = box.locale().toLongLong(text, &ok);
  if (!ok) number = text.toLongLong(&ok);
  return ok;
}

}  // namespace

// A field left empty or with no number in it gets its previous value back
// (the spin box's own correction); only numbers are clamped, by fixup.
TClampSpinBox::TClampSpinBox(QWidget* parent) : QSpinBox(parent) {}

QValidator::State TClampSpinBox::validate(QString& text, int& pos) const {
  const QValidator::State state = QSpinBox::validate(text, pos);
  if (state != QValidator::Invalid) return state;
  qlonglong number = 0;
  if (TypedNumber(*this, text, number) && (number > maximum() || number < minimum())) return QValidator::Intermediate;
  return state;
}

void TClampSpinBox::fixup(QString& text) const {
  qlonglong number = 0;
  if (!TypedNumber(*this, text, number)) {
    QSpinBox::fixup(text);
    return;
  }
  const qlonglong clamped = std::clamp<qlonglong>(number, minimum(), maximum());
  text = textFromValue(static_cast<int>(clamped));
  if (!prefix().isEmpty()) text.prepend(prefix());
  if (!suffix().isEmpty()) text.append(suffix());
}

}  // namespace sdm
