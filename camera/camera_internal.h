// camera_internal.h - what the parts of the camera library share beyond the
// public header (vireocamera.h).
#ifndef VIREO_CAMERA_INTERNAL_H
#define VIREO_CAMERA_INTERNAL_H

#include "vireocamera.h"

namespace vireocamera {

// Hands one request's step to the camera's watch function (VireoCameraWatch)
// and keeps the first failure in *first.
void Report(VireoCamera *camera, ULONG id, ULONG kind, LONG value, HRESULT hr, HRESULT *first);
// The pause of the Default sequence, through the camera's pause function
// (VireoCameraSetPause).
void Pause(VireoCamera *camera);
// Friendly names compare whatever their case; ids in the order of their
// keys (VireoCameraIdKey).
bool SameName(const wchar_t *a, const wchar_t *b);
bool IdBefore(const wchar_t *a, const wchar_t *b);

}  // namespace vireocamera

#endif  // VIREO_CAMERA_INTERNAL_H
