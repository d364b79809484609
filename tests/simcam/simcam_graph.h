// simcam_graph.h - what the simulated camera's tests and their peer process
// share: owned COM references, the filters' first pins, and the viewer's
// sample grabber identifiers and media type owner.
#ifndef VIREO_TESTS_SIMCAM_GRAPH_H
#define VIREO_TESTS_SIMCAM_GRAPH_H

#include <windows.h>
#include <dshow.h>

#include <wrl/client.h>

#include "../../viewer/grabber.h"
#include "simcontrol.h"

using Microsoft::WRL::ComPtr;

// The interface asked for, or null; from is a raw or an owned reference.
template <typename T, typename From> ComPtr<T> Query(const From &from, REFIID iid)
{
    ComPtr<T> p;
    from->QueryInterface(iid, &p);
    return p;
}

// A new in-process object's interface, or null.
template <typename T> ComPtr<T> Create(REFCLSID clsid, REFIID iid)
{
    ComPtr<T> p;
    CoCreateInstance(clsid, NULL, CLSCTX_INPROC_SERVER, iid, &p);
    return p;
}

// The simulated camera's filter bound through its moniker (found by its
// friendly name, as an application finds it); null when it is not there.
inline ComPtr<IBaseFilter> BindSimCam()
{
    return SimCamBindFilter();
}

// A test's own object of Interface (iid) that outlives its users: it
// answers for Interface and IUnknown and counts no references.
template <class Interface> class StaticObject : public Interface {
public:
    explicit StaticObject(REFIID iid) : m_iid(iid) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **ppv) override
    {
        const bool ours = riid == IID_IUnknown || riid == m_iid;
        *ppv = ours ? static_cast<Interface *>(this) : NULL;
        return ours ? S_OK : E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }

private:
    const IID m_iid;
};

// The filter's first pin: the camera's only one, the grabber's input.
template <typename Filter> ComPtr<IPin> FirstPin(const Filter &filter)
{
    ComPtr<IEnumPins> pins;
    ComPtr<IPin> pin;
    if (SUCCEEDED(filter->EnumPins(&pins)))
        pins->Next(1, &pin, NULL);
    return pin;
}

#endif  // VIREO_TESTS_SIMCAM_GRAPH_H
