// picture.h - the simulated camera's picture.
#ifndef SIMCAM_PICTURE_H
#define SIMCAM_PICTURE_H

#include <windows.h>

#include "simdriver.h"

// Draws frame number frameNumber into bits: a bottom-up 24-bit RGB DIB of
// width x height pixels, rows padded to four bytes (at least
// SimFrameBytes(width, height) bytes). The camera's settings (exposure,
// gains, flip, mirror, privacy, LED) shape the picture. Allocates nothing,
// keeps nothing between calls, writes only the pixel bytes of each row (the
// padding is left as it is) and nothing at all for a width or height below 1.
//
// The picture, as shown (top row first):
//   - the scene: colour bars over the upper two thirds, moving left by about
//     a 160th of the width per frame; a grey ramp over the lower third; a
//     light square (level 235) with a dark "F" centred at 5/16 of the width
//     and 1/3 of the height. Exposure (EXPOSURE, or the shutter list time
//     when EXPOSURE2CTRL is on; nominal with AEC on), analog gain (nominal
//     with A_AUTOGAIN on) and digital gain scale its brightness, 1.0 at the
//     factory settings; FLIP turns it upside down, MIRROR left to right;
//   - on top, unturned and unscaled: a black box in the top left corner
//     with white text "FRAME n", "WxH", the exposure and the gains;
//   - LEDCTRL on: a green dot (R 48, G 255, B 48) on a black square in the
//     top right corner;
//   - PRIVACY on: every pixel black.
void SimRenderFrame(BYTE *bits, LONG width, LONG height, ULONG frameNumber,
                    const SimDriverState &camera);

// Bytes of one frame: rows of width * 3 bytes padded to four.
static inline ULONG SimFrameStride(LONG width)
{
    return (static_cast<ULONG>(width) * 3 + 3) & ~3u;
}
static inline ULONG SimFrameBytes(LONG width, LONG height)
{
    return SimFrameStride(width) * static_cast<ULONG>(height);
}

#endif  // SIMCAM_PICTURE_H
