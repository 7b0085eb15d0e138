#pragma once
// Small conversions between the model's types and Qt's, shared by the windows.
#include <QImage>
#include <QStringList>
#include <string>

#include "frames/Bitmap32.h"
#include "platform/Dib24.h"

namespace sdm {

// A filter written the classic way, "Label|*.a;*.b|Label 2|*.c", as Qt's name
// filters "Label (*.a *.b)". A label that already ends in a pattern list in
// parentheses ("JPEG Files (*.jpg, *.jpeg)") has it replaced by the real one,
// since Qt reads the patterns from the last parentheses.
QStringList DialogNameFilters(const std::string& filter);

// Pictures: a 32-bit frame (0xAARRGGBB) and a 24-bit bottom-up DIB as images.
QImage BitmapToImage(const TBitmap32& bitmap);
QImage DibToImage(const TDib24& dib);

// A file installed with the program: <program folder>/../share/slidomat/<name>
// for an installed copy, <program folder>/data/<name> beside a portable one
// (and in the build folder). Empty when neither exists.
std::string FindDataFile(const std::string& programPath, const std::string& name);

}  // namespace sdm
