// keeperpaths.cpp - the keeper's registry settings, folders and file names.
#include "keeperpaths.h"

#include <shlobj.h>
#include <strsafe.h>
#include <wchar.h>
#include <wctype.h>

namespace {

const unsigned kLongestName = 160;

DWORD ReadDword(const wchar_t *name, DWORD fallback)
{
    DWORD value = 0, size = sizeof(value);
    if (RegGetValueW(HKEY_CURRENT_USER, VIREO_KEEPER_KEY, name, RRF_RT_REG_DWORD, NULL, &value,
                     &size) != ERROR_SUCCESS)
        return fallback;
    return value;
}

bool Join(wchar_t *out, unsigned size, const wchar_t *a, const wchar_t *b)
{
    return size && SUCCEEDED(StringCchPrintfW(out, size, L"%s%s", a, b));
}

bool IsKept(wchar_t c)
{
    return (c >= L'a' && c <= L'z') || (c >= L'0' && c <= L'9') || wcschr(L"-_.&#{}", c);
}

}  // namespace

extern "C" DWORD VireoKeeperRememberSeconds(void)
{
    const DWORD seconds = ReadDword(VIREO_KEEPER_REMEMBER_SECONDS, VIREO_KEEPER_REMEMBER_DEFAULT);
    if (seconds < VIREO_KEEPER_REMEMBER_MIN)
        return VIREO_KEEPER_REMEMBER_MIN;
    return seconds > VIREO_KEEPER_REMEMBER_MAX ? static_cast<DWORD>(VIREO_KEEPER_REMEMBER_MAX)
                                               : seconds;
}

extern "C" int VireoKeeperKeep(void)
{
    return ReadDword(VIREO_KEEPER_KEEP, 1) != 0;
}

extern "C" LONG VireoKeeperSetKeep(int keep)
{
    const DWORD value = keep ? 1 : 0;
    return RegSetKeyValueW(HKEY_CURRENT_USER, VIREO_KEEPER_KEY, VIREO_KEEPER_KEEP, REG_DWORD,
                           &value, sizeof(value));
}

extern "C" BOOL VireoKeeperFolder(wchar_t *folder, unsigned size)
{
    wchar_t local[MAX_PATH];
    if (FAILED(SHGetFolderPathW(NULL, CSIDL_LOCAL_APPDATA, NULL, SHGFP_TYPE_CURRENT, local)))
        return FALSE;
    return Join(folder, size, local, L"\\Vireo");
}

extern "C" BOOL VireoKeeperCameraFolder(wchar_t *folder, unsigned size)
{
    wchar_t base[MAX_PATH];
    return VireoKeeperFolder(base, MAX_PATH) && Join(folder, size, base, L"\\Cameras");
}

extern "C" BOOL VireoKeeperCreateCameraFolder(void)
{
    wchar_t base[MAX_PATH], cameras[MAX_PATH];
    if (!VireoKeeperFolder(base, MAX_PATH) || !VireoKeeperCameraFolder(cameras, MAX_PATH))
        return FALSE;
    if (!CreateDirectoryW(base, NULL) && GetLastError() != ERROR_ALREADY_EXISTS)
        return FALSE;
    return CreateDirectoryW(cameras, NULL) || GetLastError() == ERROR_ALREADY_EXISTS;
}

extern "C" void VireoKeeperFileName(const wchar_t *id, wchar_t *name, unsigned size)
{
    if (!size)
        return;
    wchar_t form[kLongestName + 16];
    unsigned length = 0;
    unsigned hash = 2166136261u;  // FNV-1a over the lower-case id
    bool cut = false;
    for (const wchar_t *p = id; *p; ++p) {
        const wchar_t c = static_cast<wchar_t>(towlower(*p));
        hash = (hash ^ static_cast<unsigned>(c)) * 16777619u;
        if (cut)
            continue;
        wchar_t piece[8] = {c, 0};
        if (!IsKept(c))
            StringCchPrintfW(piece, 8, L"%%%04X", static_cast<unsigned>(c));
        const unsigned pieceLength = static_cast<unsigned>(wcslen(piece));
        if (length + pieceLength > kLongestName) {
            cut = true;
            continue;
        }
        wmemcpy(form + length, piece, pieceLength);
        length += pieceLength;
    }
    form[length] = 0;
    if (cut)
        StringCchPrintfW(form + length, 16, L"~%08X", hash);
    StringCchCopyW(name, size, form);
}

extern "C" BOOL VireoKeeperProfilePath(const wchar_t *id, wchar_t *path, unsigned size)
{
    wchar_t folder[MAX_PATH], name[kLongestName + 16];
    if (!VireoKeeperCameraFolder(folder, MAX_PATH))
        return FALSE;
    VireoKeeperFileName(id, name, kLongestName + 16);
    return size && SUCCEEDED(StringCchPrintfW(path, size, L"%s\\%s%s", folder, name,
                                              VIREO_KEEPER_PROFILE_EXT));
}

extern "C" BOOL VireoKeeperLogPath(wchar_t *path, unsigned size)
{
    wchar_t folder[MAX_PATH];
    return VireoKeeperFolder(folder, MAX_PATH) && Join(path, size, folder, L"\\keeper.log");
}
