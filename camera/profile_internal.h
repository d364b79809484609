/* profile_internal.h - the library's profile writing, as its tests see it
 * (not part of the kit's headers). */
#ifndef VIREO_CAMERA_PROFILE_INTERNAL_H
#define VIREO_CAMERA_PROFILE_INTERNAL_H

#include <windows.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Called by VireoProfileWrite between "the temporary file is written,
 * flushed and closed" and "it takes the file's place", with the temporary
 * file's path; null (the default): nothing. A test sets it to end its own
 * process there. */
extern void(WINAPI *VireoProfileWriteHook)(const wchar_t *temporary);

#ifdef __cplusplus
}
#endif

#endif /* VIREO_CAMERA_PROFILE_INTERNAL_H */
