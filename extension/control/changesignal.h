// changesignal.h - tells the Camera Settings Keeper of this session that a
// camera setting was written through IFace, so that it reads the cameras
// once instead of polling them.
#ifndef VIREO_CONTROL_CHANGESIGNAL_H
#define VIREO_CONTROL_CHANGESIGNAL_H

#include <windows.h>

// The session's auto-reset event the keeper waits on; it exists only while
// a keeper runs (or a program that signalled it still holds it).
#define VIREO_CHANGE_EVENT L"Local\\VireoKeeperChanged"

// After a set of property (any of the five) ended in hr: a successful
// SET_DATA or SET_ENABLE sets the event. Never waits, never fails, changes
// nothing the caller sees; with no keeper it costs one failed open.
void SignalChange(ULONG property, const void *block, HRESULT hr);

#endif  // VIREO_CONTROL_CHANGESIGNAL_H
