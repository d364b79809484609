/* The headers as a C program compiles them (C90, C99 and C11, with the
 * call macros): built only. */
#define COBJMACROS
#include "vireocamera.h"
#include "vireoctl.h" /* a second time: guarded */
#include "vireosim.h"
#include "vireosim.h" /* a second time: guarded */

HRESULT ReadExposure(IFace *face, LONG *value)
{
    ControlRequest request = {EXPOSURE, GET_DATA, 0, 0};
    DWORD returned = 0;
    HRESULT hr = IFace_GetValue10h(face, &request, &returned);
    *value = request.value;
    IFace_Release(face);
    return hr;
}

HRESULT RefuseExposureOnce(VireoSim *sim, VireoSimRequest *last)
{
    unsigned read = 0;
    HRESULT hr = VireoSimRefuse(sim, EXPOSURE, SET_DATA, VIREO_SIM_E_NOT_READY, 1);
    if (SUCCEEDED(hr))
        hr = VireoSimReadLog(sim, 0, last, 1, &read);
    return FAILED(hr) ? hr : VireoSimRefuse(sim, VIREO_SIM_ANY, VIREO_SIM_ANY, E_FAIL, -1);
}
