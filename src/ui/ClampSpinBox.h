#pragma once
// TClampSpinBox: a spin edit whose typed value is brought into its range when
// the user leaves the field (or presses Enter), as the program's limits say:
// 50 in a 100 … 60000 field becomes 100, 70000 becomes 60000. Qt's own spin
// box gives back the previous value for the first and refuses the last digit
// of the second.
#include <QSpinBox>

namespace sdm {

class TClampSpinBox : public QSpinBox {
  Q_OBJECT
public:
  explicit TClampSpinBox(QWidget* parent = nullptr);

protected:
  // A number beyond the range is still being typed (Intermediate), never
  // refused outright; fixup clamps it.
  QValidator::State validate(QString& text, int& pos) const override;
  void fixup(QString& text) const override;
};

}  // namespace sdm
