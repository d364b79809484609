// enums.h - the enumerators the filter and its pin hand out. Each holds
// the pin (and so the filter) while it is walked.
#ifndef SIMCAM_ENUMS_H
#define SIMCAM_ENUMS_H

#include <windows.h>
#include <dshow.h>

#include "mediatype.h"

// The filter's pins: pin alone.
HRESULT SimCreatePinEnum(IPin *pin, ULONG position, IEnumPins **ppEnum);
// The types of formats (count of them), as SimCreateMediaType makes them.
HRESULT SimCreateTypeEnum(IPin *pin, const SimFormat *formats, int count, bool zeroImageSize,
                          ULONG position, IEnumMediaTypes **ppEnum);

#endif  // SIMCAM_ENUMS_H
