// picture.h - the simulated camera's picture.
#ifndef SIMCAM_PICTURE_H
#define SIMCAM_PICTURE_H

#include <windows.h>

#include "simdriver.h"

// Draws frame number frameNumber into bits: a bottom-up 24-bit RGB DIB of
// width x height pixels, rows padded to four bytes (at least
// SimFrameBytes(width, height) bytes). The camera's settings (exposure,
// gains, flip, mirror, privacy, LED) shape the picture. Allocates nothing.
void SimRenderFrame(BYTE *bits, LONG width, LONG height, ULONG frameNumber,
                    const SimDriverState &camera);

// Bytes of one frame: rows of width * 3 bytes padded to four.
static inline ULONG SimFrameStride(LONG width) { return (static_cast<ULONG>(width) * 3 + 3) & ~3u; }
static inline ULONG SimFrameBytes(LONG width, LONG height)
{
    return SimFrameStride(width) * static_cast<ULONG>(height);
}

#endif  // SIMCAM_PICTURE_H
