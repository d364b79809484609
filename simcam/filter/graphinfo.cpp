#include "graphinfo.h"

#include <wrl/client.h>

using Microsoft::WRL::ComPtr;

namespace {

// The filter pin belongs to (null when it names none); info the rest of
// what QueryPinInfo gives.
ComPtr<IBaseFilter> PinFilter(IPin *pin, PIN_INFO *info)
{
    ComPtr<IBaseFilter> filter;
    if (SUCCEEDED(pin->QueryPinInfo(info)))
        *filter.ReleaseAndGetAddressOf() = info->pFilter;
    return filter;
}

// The name filter gives itself in its graph ("" when it gives none); the
// graph's reference that comes with it is dropped at once.
void FilterName(IBaseFilter *filter, WCHAR *name, int capacity)
{
    FILTER_INFO fi;
    name[0] = 0;
    if (FAILED(filter->QueryFilterInfo(&fi)))
        return;
    ComPtr<IFilterGraph> graph;
    *graph.ReleaseAndGetAddressOf() = fi.pGraph;
    lstrcpynW(name, fi.achName, capacity);
}

// Adds "Smart Tee/<pin>><filter>" to text for an output pin of the tee and
// the filter it feeds ("|" between two of them).
void DescribeTeeBranch(IPin *pin, WCHAR *text, int capacity)
{
    PIN_INFO out;
    if (!PinFilter(pin, &out))
        return;
    ComPtr<IPin> next;
    PIN_INFO down;
    ComPtr<IBaseFilter> downFilter;
    if (out.dir != PINDIR_OUTPUT || pin->ConnectedTo(next.GetAddressOf()) != S_OK ||
        !(downFilter = PinFilter(next.Get(), &down)))
        return;
    WCHAR name[MAX_FILTER_NAME];
    FilterName(downFilter.Get(), name, ARRAYSIZE(name));
    downFilter.Reset();
    WCHAR part[160];
    wsprintfW(part, L"%sSmart Tee/%s>%s", text[0] ? L"|" : L"", out.achName, name);
    if (lstrlenW(text) + lstrlenW(part) < capacity)
        lstrcatW(text, part);
}

}  // namespace

void SimPeerFilter(IPin *pin, CLSID *clsid, WCHAR *name, int capacity)
{
    *clsid = GUID_NULL;
    name[0] = 0;
    PIN_INFO info;
    const ComPtr<IBaseFilter> filter = PinFilter(pin, &info);
    if (!filter)
        return;
    filter->GetClassID(clsid);
    FilterName(filter.Get(), name, capacity);
}

void SimDescribeDownstream(IPin *output, WCHAR *text, int capacity)
{
    text[0] = 0;
    ComPtr<IPin> peer;
    if (output->ConnectedTo(peer.GetAddressOf()) != S_OK)
        return;
    PIN_INFO info;
    const ComPtr<IBaseFilter> next = PinFilter(peer.Get(), &info);
    if (!next)
        return;
    CLSID clsid = GUID_NULL;
    next->GetClassID(&clsid);
    ComPtr<IEnumPins> pins;
    if (!IsEqualCLSID(clsid, CLSID_SmartTee)) {
        FilterName(next.Get(), text, capacity);
    } else if (SUCCEEDED(next->EnumPins(pins.GetAddressOf()))) {
        ComPtr<IPin> pin;
        while (pins->Next(1, pin.ReleaseAndGetAddressOf(), NULL) == S_OK)
            DescribeTeeBranch(pin.Get(), text, capacity);
    }
}
