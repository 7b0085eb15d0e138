#include "ui/UiHelpers.h"

#include <QRegularExpression>

#include "support/U_SysUtils.h"

namespace sdm {

QStringList DialogNameFilters(const std::string& filter) {
  const QStringList parts = QString::fromStdString(filter).split('|');
  QStringList result;
  static const QRegularExpression trailingPatterns(R"(\s*\([^()]*\)\s*$)");
  for (int i = 0; i + 1 < parts.size(); i += 2) {
    QString label = parts[i];
    label.remove(trailingPatterns);
    QStringList patterns = parts[i + 1].split(';', Qt::SkipEmptyParts);
    for (QString& p : patterns) p = p.trimmed();
    result << QString("%1 (%2)").arg(label.trimmed(), patterns.join(' '));
  }
  return result;
}

QImage BitmapToImage(const TBitmap32& bitmap) {
  if (bitmap.Empty()) return {};
  // 0xAARRGGBB words are what Qt's RGB32 format holds; the alpha byte is
  // ignored there, as it never reaches the video either.
  const QImage view(reinterpret_cast<const uchar*>(bitmap.Bits()), bitmap.Width(), bitmap.Height(), bitmap.Width() * 4,
                    QImage::Format_RGB32);
  return view.copy();
}

QImage DibToImage(const TDib24& dib) {
  const int w = dib.Width(), h = dib.Height();
  if (w <= 0 || h <= 0 || dib.Bits.size() < static_cast<size_t>(dib.Stride()) * h) return {};
  const QImage view(dib.Bits.data(), w, h, static_cast<qsizetype>(dib.Stride()), QImage::Format_BGR888);
  // Stored bottom row first.
  return view.mirrored(false, true);
}

std::string FindDataFile(const std::string& programPath, const std::string& name) {
  const std::string folder = ExtractFilePath(programPath);
  for (const std::string& candidate : {folder + "../share/slidomat/" + name, folder + "data/" + name})
    if (FileExistsLong(candidate)) return candidate;
  return {};
}

}  // namespace sdm
