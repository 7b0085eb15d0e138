#pragma once
// The orientation a camera records in the EXIF block of a JPEG (tag 0x0112 in
// IFD0): how the stored pixels must be turned or mirrored to stand the way the
// photographer saw them. Phones store the sensor's rows as they come and set
// this tag rather than turn the picture themselves.
//
// One tag of the first directory, and where the second holds the camera's
// small preview, is all we need, so this is a small reader of our own rather
// than a whole EXIF library: it follows no link but the one from the first
// directory to the second (a looping or dangling chain cannot reach it), and
// it reads nothing it has not first checked to lie inside the segment.
#include <cstddef>
#include <cstdint>

#include "frames/Bitmap32.h"

namespace sdm {

// The eight orientations, numbered as in EXIF. 1 is "as stored".
//   2 mirrored left to right     3 turned half round     4 mirrored top to bottom
//   5 mirrored along the main diagonal (rows become columns)
//   6 turned a quarter clockwise 7 mirrored along the other diagonal
//   8 turned a quarter anticlockwise
// From 5 on, the width and height of the picture swap.
constexpr int kOrientationUpright = 1;
constexpr bool OrientationSwapsSides(int orientation) { return orientation >= 5 && orientation <= 8; }

// The orientation recorded in the payload of an APP1 segment (which starts
// "Exif\0\0"), or 1 when it records none. Anything that cannot be read with
// certainty gives 1 too: another kind of APP1 (XMP), an unknown byte order, a
// directory offset or entry count beyond the segment, a tag of the wrong type
// or a value outside 1..8. A garbled block never stops a picture loading.
int ExifOrientation(const uint8_t* data, size_t size);

// The JPEG preview a camera stores in the second directory of the same
// segment (JPEGInterchangeFormat and its length): where it lies inside
// data[0, size), or false when there is none that lies wholly inside.
bool ExifThumbnail(const uint8_t* data, size_t size, size_t& offset, size_t& length);

// Rows [y0, y0 + rows) of a w × h picture as stored, band[r × w + x], put
// where they stand in out, which has the upright size (h × w from 5 on).
void PlaceBand(const TColor32* band, int y0, int rows, int w, int h, int orientation, TBitmap32& out);

// Turns a whole picture decoded as stored so that it stands upright. From 5
// on this needs a second bitmap of the picture's size for the while.
void TurnUpright(TBitmap32& bitmap, int orientation);

}  // namespace sdm
