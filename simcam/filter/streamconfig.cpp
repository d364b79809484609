// The pin's IAMStreamConfig: its format and the camera's capability list.
#include "pin.h"

#include <string.h>

#include "picture.h"

using Microsoft::WRL::ComPtr;

// Every call is recorded with the type it was given and its result.
HRESULT STDMETHODCALLTYPE CSimCamPin::SetFormat(AM_MEDIA_TYPE *mt)
{
    SimEventNote note;
    note.result = ChangeFormat(mt);
    note.format = mt;
    m_host->Camera().Record(SIM_EVENT_SETFORMAT, m_host->State(), note);
    return note.result;
}

// A type the camera cannot send is refused with E_FAIL, as Windows' capture
// filters refuse it; so is any type while the filter is not stopped.
HRESULT CSimCamPin::ChangeFormat(AM_MEDIA_TYPE *mt)
{
    if (!mt)
        return E_POINTER;
    HRESULT refusal;
    if (m_host->Camera().SetFormatRefused(&refusal))
        return refusal;
    SimHold state(m_host->StateLock());
    SimFormat format;
    if (!SimParseMediaType(mt, 0, &format))
        return E_FAIL;
    if (m_host->State() != State_Stopped)
        return VFW_E_NOT_STOPPED;
    return ChangeFormatStopped(format);
}

// A frame interval other than the current one, at a size whose rate is a
// camera setting, sets that setting to the nearest rate. Connected at
// another size or rate, the graph connects the pin afresh, now offering the
// new format only; when it cannot, the format stays as it was.
HRESULT CSimCamPin::ChangeFormatStopped(const SimFormat &requested)
{
    Configured previous;
    SimFormat current;
    bool connected;
    {
        SimHold data(m_dataLock);
        previous = {m_format, m_formatSet};
        connected = m_connected.Get() != NULL;
        current = connected ? m_connFormat : m_format;
    }
    SimCamLink &camera = m_host->Camera();
    const REFERENCE_TIME currentTime = camera.FrameTime(current);
    SimFormat format = requested;
    if (format.frameTime == 0)
        format.frameTime = previous.format.frameTime;
    else if (format.frameTime != currentTime)
        camera.SetRate(format);
    SetConfigured({format, true});
    const bool same = format.width == current.width && format.height == current.height &&
                      camera.FrameTime(format) == currentTime;
    HRESULT hr = S_OK;
    if (connected && !same) {
        hr = Reconnect();
        if (FAILED(hr))
            SetConfigured(previous);
    }
    PublishFormat();
    return hr;
}

void CSimCamPin::SetConfigured(const Configured &configured)
{
    SimHold data(m_dataLock);
    m_format = configured.format;
    m_formatSet = configured.formatSet;
}

// Has the graph connect the pin afresh (VFW_E_ALREADY_CONNECTED without one).
HRESULT CSimCamPin::Reconnect()
{
    IFilterGraph *graph = m_host->Graph();
    if (!graph)
        return VFW_E_ALREADY_CONNECTED;
    ComPtr<IFilterGraph2> graph2;
    HRESULT hr =
        graph->QueryInterface(IID_IFilterGraph2, reinterpret_cast<void **>(graph2.GetAddressOf()));
    if (SUCCEEDED(hr))
        hr = graph2->ReconnectEx(this, NULL);
    return hr;
}

// Connected: the connection's type; otherwise the configured format.
HRESULT STDMETHODCALLTYPE CSimCamPin::GetFormat(AM_MEDIA_TYPE **mt)
{
    if (!mt)
        return E_POINTER;
    *mt = NULL;
    const bool zero = ZeroImageSize();
    SimFormat format;
    {
        SimHold data(m_dataLock);
        if (m_connected) {
            *mt = SimCloneMediaType(&m_mt);
            return *mt ? S_OK : E_OUTOFMEMORY;
        }
        format = m_format;
    }
    format.frameTime = m_host->Camera().FrameTime(format);
    *mt = SimCreateMediaType(format, zero);
    return *mt ? S_OK : E_OUTOFMEMORY;
}

HRESULT STDMETHODCALLTYPE CSimCamPin::GetNumberOfCapabilities(int *count, int *size)
{
    if (!count || !size)
        return E_POINTER;
    m_host->Camera().Caps(count, size);
    return S_OK;
}

// Turns a capability's type into the odd entry a test's list asks for: a
// VIDEOINFOHEADER2 type, a format block one byte short, or none.
static HRESULT MakeOddEntry(AM_MEDIA_TYPE *mt, LONG entry)
{
    if (entry == SIM_CAPS_OTHER_TYPE)
        return SimToVideoInfo2(mt);
    if (entry == SIM_CAPS_SHORT_FORMAT)
        mt->cbFormat = sizeof(VIDEOINFOHEADER) - 1;
    else if (entry == SIM_CAPS_NULL_FORMAT)
        SimDropFormatBlock(mt);
    return S_OK;
}

// The capability record of a size: that size only, any interval in the
// accepted range.
static void FillStreamCaps(BYTE *caps, const SimFormat &format, REFGUID formatType)
{
    VIDEO_STREAM_CONFIG_CAPS c;
    memset(&c, 0, sizeof(c));
    c.guid = formatType;
    const SIZE extent = {format.width, format.height};
    c.InputSize = c.MinCroppingSize = c.MaxCroppingSize = extent;
    c.MinOutputSize = c.MaxOutputSize = extent;
    c.CropGranularityX = c.CropGranularityY = 1;
    c.CropAlignX = c.CropAlignY = 1;
    c.MinFrameInterval = kSimMinFrameTime;
    c.MaxFrameInterval = kSimMaxFrameTime;
    const LONGLONG bits = static_cast<LONGLONG>(SimFrameBytes(format.width, format.height)) * 8;
    c.MinBitsPerSecond = static_cast<LONG>(bits * 10000000 / kSimMaxFrameTime);
    c.MaxBitsPerSecond = static_cast<LONG>(bits * 10000000 / kSimMinFrameTime);
    memcpy(caps, &c, sizeof(c));
}

// An index past the list gives S_FALSE, whatever the pointers (as on
// Windows); entries of a test's list that a reader must pass over come as
// that list says.
HRESULT STDMETHODCALLTYPE CSimCamPin::GetStreamCaps(int index, AM_MEDIA_TYPE **mt, BYTE *caps)
{
    LONG entry;
    if (!m_host->Camera().CapsEntry(index, &entry))
        return S_FALSE;
    if (!mt || !caps)
        return E_POINTER;
    *mt = NULL;
    if (entry == SIM_CAPS_FAILING)
        return E_FAIL;
    SimFormat format;
    const int size = entry >= 0 && entry < kSimFormatCount ? entry : 1;
    format.width = kSimFrameSizes[size].width;
    format.height = kSimFrameSizes[size].height;
    format.frameTime = kSimDefaultFrameTime;
    format.frameTime = m_host->Camera().FrameTime(format);
    SimMediaTypePtr type(SimCreateMediaType(format, ZeroImageSize()));
    if (!type || FAILED(MakeOddEntry(type.get(), entry)))
        return E_OUTOFMEMORY;
    FillStreamCaps(caps, format, type->formattype);
    *mt = type.release();
    return S_OK;
}
