// First cut: a plain grey field, replaced by the real test picture.
#include "picture.h"

#include <string.h>

void SimRenderFrame(BYTE *bits, LONG width, LONG height, ULONG, const SimDriverState &)
{
    if (bits && width > 0 && height > 0)
        memset(bits, 0x80, SimFrameBytes(width, height));
}
