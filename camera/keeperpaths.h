/* keeperpaths.h - where the Camera Settings Keeper (vireokeep.exe) keeps
 * what it remembers, shared by the keeper and vireoctl's "keep" command:
 * the registry key of its settings, the folder of the cameras' profiles, the
 * file-safe name of a camera id, and its log. Library vireo::keeperpaths. */
#ifndef VIREO_KEEPERPATHS_H
#define VIREO_KEEPERPATHS_H

#include <windows.h>

#ifdef __cplusplus
extern "C" {
#endif

/* HKCU: the keeper's settings. */
#define VIREO_KEEPER_KEY L"Software\\Vireo\\Keeper"
/* DWORD, seconds between two readings of the cameras (1..3600, default 5). */
#define VIREO_KEEPER_REMEMBER_SECONDS L"RememberSeconds"
/* DWORD, 0: nothing is restored and nothing saved (default 1). */
#define VIREO_KEEPER_KEEP L"Keep"

enum {
    VIREO_KEEPER_REMEMBER_DEFAULT = 5,
    VIREO_KEEPER_REMEMBER_MIN = 1,
    VIREO_KEEPER_REMEMBER_MAX = 3600
};

/* The profile file's extension, and the one a profile that could not be read
 * is set aside under. */
#define VIREO_KEEPER_PROFILE_EXT L".profile"
#define VIREO_KEEPER_BAD_EXT L".bad"

/* The session-wide mutex of the running keeper, and its window's class. */
#define VIREO_KEEPER_MUTEX L"Local\\VireoKeeper"
#define VIREO_KEEPER_WINDOW_CLASS L"VireoKeeperWindow"

/* RememberSeconds, clamped; Keep as 0 or 1. */
DWORD VireoKeeperRememberSeconds(void);
int VireoKeeperKeep(void);
/* Sets Keep (0 or 1); the registry's result. */
LONG VireoKeeperSetKeep(int keep);

/* %LOCALAPPDATA%\Vireo (the log's folder) and %LOCALAPPDATA%\Vireo\Cameras
 * (the profiles'), without a trailing backslash; FALSE when the local
 * application data folder is unknown or the name does not fit. */
BOOL VireoKeeperFolder(wchar_t *folder, unsigned size);
BOOL VireoKeeperCameraFolder(wchar_t *folder, unsigned size);
/* Creates the profiles' folder (and its parent) when it is missing. */
BOOL VireoKeeperCreateCameraFolder(void);

/* The file-safe form of a camera id: lower case (ids compare
 * case-insensitively), letters, digits and "-_.&#{}" kept, every other
 * character "%XXXX" (its UTF-16 code in hexadecimal); a form longer than 160
 * characters is cut and ends in "~" and a hash of the whole id, so that
 * every id gives one name that fits in a path. */
void VireoKeeperFileName(const wchar_t *id, wchar_t *name, unsigned size);
/* The profile of camera id: <camera folder>\<file-safe id>.profile. */
BOOL VireoKeeperProfilePath(const wchar_t *id, wchar_t *path, unsigned size);
/* %LOCALAPPDATA%\Vireo\keeper.log; the older one is keeper.log.1. */
BOOL VireoKeeperLogPath(wchar_t *path, unsigned size);

#ifdef __cplusplus
}
#endif

#endif /* VIREO_KEEPERPATHS_H */
