#pragma once
// The smooth fit: a picture scaled into its place in the frame with a
// Lanczos filter (swscale), instead of taking the nearest pixel. Shrinking a
// 12-megapixel photo to a 1080p frame by the nearest pixel keeps one pixel
// in eight and throws the rest away, which aliases fine detail into moiré
// and makes it crawl as the picture pans; the filter weighs every pixel.
#include "frames/Bitmap32.h"

namespace sdm {

// Draws the whole of src scaled to tw × th into dest with its top-left corner
// at (x, y); the rest of dest is left alone. The rectangle must lie inside
// dest and src must not be empty. A rectangle of src's own size is copied
// pixel for pixel.
void DrawSmooth(const TBitmap32& src, TBitmap32& dest, int x, int y, int tw, int th);

}  // namespace sdm
