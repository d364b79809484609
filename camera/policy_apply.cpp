// policy_apply.cpp - the organization's policy on an opened camera: its
// policy after its model, its locked values written onto it, its
// recommended starting values. The reader itself is policy.cpp's.
#include "vireocamera.h"

#include <string.h>
#include <strsafe.h>

#include "camera_internal.h"

using vireocamera::Pause;
using vireocamera::Report;

namespace {

// Whether the camera takes control id's policy value: a step and false when
// it reports the control disabled or the value outside its range, or
// refuses the GET_ENABLE (*first keeps that refusal).
bool Takes(VireoCamera *camera, ULONG id, LONG value, HRESULT *first)
{
    VireoRange range;
    HRESULT hr = VireoCameraRange(camera, id, &range);
    HRESULT ignored = S_OK;
    if (FAILED(hr))
        Report(camera, id, GET_ENABLE, value, hr, first);
    else if (!range.enable)
        Report(camera, id, SET_DATA, value, VIREO_S_SKIPPED, &ignored);
    else if (value < range.minValue || value > range.maxValue)
        Report(camera, id, SET_DATA, value, VIREO_E_OUT_OF_RANGE, &ignored);
    else
        return true;
    return false;
}

// One locked control: written when the camera holds another value.
bool WriteLocked(VireoCamera *camera, ULONG id, LONG value, HRESULT *first)
{
    if (!Takes(camera, id, value, first))
        return false;
    LONG held = 0;
    HRESULT hr = VireoCameraGet(camera, id, &held);
    if (SUCCEEDED(hr) && held == value)
        return false;
    if (FAILED(hr)) {
        Report(camera, id, GET_DATA, value, hr, first);
        return false;
    }
    Report(camera, id, SET_DATA, value, VireoCameraSet(camera, id, value), first);
    return true;
}

}  // namespace

extern "C" {

HRESULT VireoCameraPolicy(VireoCamera *camera, VireoPolicy *policy)
{
    if (!camera || !policy)
        return E_POINTER;
    WCHAR model[VIREO_MODEL_CAPACITY];
    VireoCameraModel(VireoCameraId(camera), model, VIREO_MODEL_CAPACITY);
    return VireoPolicyRead(model, policy);
}

HRESULT VireoCameraApplyLocked(VireoCamera *camera, const VireoPolicy *policy, unsigned *written)
{
    if (written)
        *written = 0;
    if (!camera || !policy)
        return E_POINTER;
    HRESULT first = S_OK;
    for (const VireoDefaultStep &s : VireoDefaultSequence) {
        size_t i = 0;
        while (CameraControlIds[i] != s.controlId)
            ++i;
        if (!(policy->locked & (1u << i)) ||
            !WriteLocked(camera, s.controlId, policy->lockedValues[i], &first))
            continue;
        if (written)
            ++*written;
        if (s.pauseAfter)
            Pause(camera);
    }
    return first;
}

HRESULT VireoCameraRecommended(VireoCamera *camera, const VireoPolicy *policy,
                               VireoProfile *profile)
{
    if (!camera || !policy || !profile)
        return E_POINTER;
    HRESULT first = S_OK;
    ULONG taken = 0;
    for (int i = 0; i < CAMERA_CONTROL_COUNT; ++i)
        if ((policy->recommended & (1u << i)) &&
            Takes(camera, CameraControlIds[i], policy->recommendedValues[i], &first))
            taken |= 1u << i;
    // A profile of this camera holding the values it takes.
    memset(profile, 0, sizeof(*profile));
    profile->present = taken;
    for (int i = 0; i < CAMERA_CONTROL_COUNT; ++i)
        profile->values[i] = (taken & (1u << i)) ? policy->recommendedValues[i] : 0;
    StringCchCopyW(profile->device, VIREO_PROFILE_TEXT_CAPACITY, VireoCameraName(camera));
    StringCchCopyW(profile->id, VIREO_PROFILE_TEXT_CAPACITY, VireoCameraId(camera));
    return first;
}

}  // extern "C"
