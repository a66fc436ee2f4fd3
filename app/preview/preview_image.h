// The preview image's building blocks: where it comes from, the display
// copy the window paints, and the conversion of a DIB for painting.
//
// The display copy is made with the program's own operations (resample for
// 24-bit images, nearest-neighbour resize for palette images), so what the
// window shows is what those operations give. It is never larger than the
// preview box; a smaller image is shown at its own size.
#pragma once

#include "core/dib.h"

#include <QImage>

#include <string>

// True for the paths that mean the built-in picture: an empty path, or one
// holding "Internal Preview" anywhere.
bool IsBuiltInPreviewPath(const std::string& path);

// Decodes the built-in picture, a resource of the program. 0, or the
// decoder's code.
KervErrorCode LoadBuiltInPicture(KHANDLE* dib);

// The size of the display copy of an imageWidth x imageHeight image in a
// boxWidth x boxHeight box: a wider image is brought to the box's width
// (height scaled alike), then a still taller one to the box's height (width
// scaled alike), integer arithmetic, each side at least 1. scaled tells
// whether either side had to shrink.
struct DisplaySize {
    int width = 0;
    int height = 0;
    bool scaled = false;
};
DisplaySize FitDisplaySize(int imageWidth, int imageHeight, int boxWidth, int boxHeight);

// The display copy of image for the box: an exact copy when it fits,
// otherwise a 24-bit image resampled and any other resized to
// FitDisplaySize. When the screen shows fewer than 24 bits per pixel
// (screenDepth 1, 4 or 8, as StoredScreenDepth gives it) and fewer than the
// image has, the copy is then reduced to the standard palette of 16 (screens
// of 4 bits or fewer) or 256 colours with ordered dithering. Codes as the
// operations give them.
KervErrorCode MakeDisplayCopy(KHANDLE image, int boxWidth, int boxHeight, int screenDepth,
                              KHANDLE* result);

// The DIB as a 32-bit picture for painting (rows top first); a null image
// when it cannot be locked.
QImage DIBToQImage(KHANDLE dib);

// Width, height and bits per pixel of a DIB; false when it cannot be locked.
bool DIBSize(KHANDLE dib, int* width, int* height, int* bitCount);
