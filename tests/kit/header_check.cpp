// The headers as a C++ program compiles them (C++98 to C++17, and with
// CINTERFACE): built only.
#include "vireocamera.h"
#include "vireoctl.h"  // a second time: guarded
#include "vireosim.h"
#include "vireosim.h"  // a second time: guarded

#if VIREO_VERSION != 0x010B00
#error "VIREO_VERSION is not 1.11.0"
#endif

HRESULT ReadExposure(IUnknown *filter, LONG *value)
{
    IFace *face = NULL;
#ifdef CINTERFACE
    HRESULT hr = filter->lpVtbl->QueryInterface(filter, IID_IFace, (void **)&face);
#else
    HRESULT hr = filter->QueryInterface(IID_PPV_ARGS(&face));  // the identifier on the type
#endif
    if (FAILED(hr))
        return hr;
    ControlRequest request = {EXPOSURE, GET_DATA, 0, 0};
    DWORD returned = 0;
    hr = IFace_GetValue10h(face, &request, &returned);
    *value = request.value;
    IFace_Release(face);
    return hr;
}

HRESULT UnplugAndCount(VireoSim *sim, LONG *count)
{
    const HRESULT hr = VireoSimUnplug(sim);
    return FAILED(hr) ? hr : VireoSimLogCount(sim, count);
}
