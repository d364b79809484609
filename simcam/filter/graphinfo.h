// graphinfo.h - what the filter tells of the graph around it: the filter
// behind a pin and its name there, and the stream's way down.
#ifndef SIMCAM_GRAPHINFO_H
#define SIMCAM_GRAPHINFO_H

#include <windows.h>
#include <dshow.h>

// The class of the filter pin belongs to, and the name it has in its graph
// ("" when it gives none); GUID_NULL and "" when pin names no filter.
void SimPeerFilter(IPin *pin, CLSID *clsid, WCHAR *name, int capacity);

// The stream's way down from output, as SimEvent::text tells it: the name of
// the filter on the pin, or "Smart Tee/<tee pin>><filter>" for each output
// of a Smart Tee there, joined by "|"; "" while output is not connected.
void SimDescribeDownstream(IPin *output, WCHAR *text, int capacity);

#endif  // SIMCAM_GRAPHINFO_H
