/* keeperpaths.h - where the Camera Settings Keeper (vireokeep.exe) keeps
 * what it remembers, shared by the keeper and vireoctl's "keep" command:
 * the registry key of its settings, the folder of the cameras' profiles, the
 * file-safe name of a camera id, its log, and each camera's last restore.
 * Library vireo::keeperpaths. */
#ifndef VIREO_KEEPERPATHS_H
#define VIREO_KEEPERPATHS_H

#include <windows.h>

#ifdef __cplusplus
extern "C" {
#endif

/* HKCU: the keeper's settings. */
#define VIREO_KEEPER_KEY L"Software\\Vireo\\Keeper"
/* DWORD, 0: nothing is restored and nothing saved (default 1). */
#define VIREO_KEEPER_KEEP L"Keep"
/* Subkey of VIREO_KEEPER_KEY: each camera's last restore, one binary value
 * (a VireoKeeperRestore) named by the camera's file-safe id. */
#define VIREO_KEEPER_RESTORES L"Restores"

/* The profile file's extension, and the one a profile that could not be read
 * is set aside under. */
#define VIREO_KEEPER_PROFILE_EXT L".profile"
#define VIREO_KEEPER_BAD_EXT L".bad"

/* The session-wide mutex of the running keeper, and its window's class. */
#define VIREO_KEEPER_MUTEX L"Local\\VireoKeeper"
#define VIREO_KEEPER_WINDOW_CLASS L"VireoKeeperWindow"

/* Keep as 0 or 1. */
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

/* The file-safe form of a camera id: the id's key (VireoCameraIdKey: lower
 * case), letters, digits and "-_.&#{}" kept, every other character "%XXXX"
 * (its UTF-16 code in hexadecimal); a form longer than 160 characters is cut
 * and ends in "~" and a hash of the whole key, so that every id gives one
 * name of at most VIREO_KEEPER_NAME_CAPACITY - 1 characters. */
enum { VIREO_KEEPER_NAME_CAPACITY = 176, VIREO_KEEPER_PATH_CAPACITY = 32768 };
void VireoKeeperFileName(const wchar_t *id, wchar_t *name, unsigned size);
/* The profile of camera id: <camera folder>\<file-safe id>.profile, with the
 * "\\?\" prefix when it is MAX_PATH characters or longer. FALSE (and an
 * empty path) when it does not fit in size: never a cut name.
 * VIREO_KEEPER_PATH_CAPACITY holds any. */
BOOL VireoKeeperProfilePath(const wchar_t *id, wchar_t *path, unsigned size);
/* %LOCALAPPDATA%\Vireo\keeper.log; the older one is keeper.log.1. */
BOOL VireoKeeperLogPath(wchar_t *path, unsigned size);

/* A camera's last restore: when (UTC) and its result (S_OK restored, S_FALSE
 * nothing restored: no profile or settings not kept; a failure code when it
 * failed or was given up). */
typedef struct VireoKeeperRestore {
    FILETIME time;
    HRESULT result;
} VireoKeeperRestore;
/* Records a restore of camera id ending now; the registry's result. */
LONG VireoKeeperSetLastRestore(const wchar_t *id, HRESULT result);
/* The last recorded restore of camera id; FALSE when there is none. */
BOOL VireoKeeperLastRestore(const wchar_t *id, VireoKeeperRestore *restore);

#ifdef __cplusplus
}
#endif

#endif /* VIREO_KEEPERPATHS_H */
