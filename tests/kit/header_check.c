/* The headers as a C program compiles them (C90, C99 and C11, with the
 * call macros): built only. */
#define COBJMACROS
#include "vireocamera.h"
#include "vireoctl.h" /* a second time: guarded */

HRESULT ReadExposure(IFace *face, LONG *value)
{
    ControlRequest request = {EXPOSURE, GET_DATA, 0, 0};
    DWORD returned = 0;
    HRESULT hr = IFace_GetValue10h(face, &request, &returned);
    *value = request.value;
    IFace_Release(face);
    return hr;
}
