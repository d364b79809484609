// keeperpaths.cpp - the keeper's registry settings, folders and file names.
#include "keeperpaths.h"

#include "vireocamera.h"

#include <shlobj.h>
#include <strsafe.h>
#include <wchar.h>

#include <string>

namespace {

const unsigned kLongestName = 160;  // then "~" and eight hex digits

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
    wchar_t key[VIREO_ID_CAPACITY];
    VireoCameraIdKey(id, key, VIREO_ID_CAPACITY);
    wchar_t form[VIREO_KEEPER_NAME_CAPACITY];
    unsigned length = 0;
    unsigned hash = 2166136261u;  // FNV-1a over the key
    bool cut = false;
    for (const wchar_t *p = key; *p; ++p) {
        hash = (hash ^ static_cast<unsigned>(*p)) * 16777619u;
        if (cut)
            continue;
        wchar_t piece[8] = {*p, 0};
        if (!IsKept(*p))
            StringCchPrintfW(piece, 8, L"%%%04X", static_cast<unsigned>(*p));
        const unsigned pieceLength = static_cast<unsigned>(wcslen(piece));
        cut = length + pieceLength > kLongestName;
        if (!cut) {
            wmemcpy(form + length, piece, pieceLength);
            length += pieceLength;
        }
    }
    form[length] = 0;
    if (cut)
        StringCchPrintfW(form + length, VIREO_KEEPER_NAME_CAPACITY - length, L"~%08X", hash);
    StringCchCopyW(name, size, form);
}

extern "C" BOOL VireoKeeperProfilePath(const wchar_t *id, wchar_t *path, unsigned size)
{
    wchar_t folder[MAX_PATH], name[VIREO_KEEPER_NAME_CAPACITY];
    if (!size)
        return FALSE;
    path[0] = L'\0';
    if (!VireoKeeperCameraFolder(folder, MAX_PATH))
        return FALSE;
    VireoKeeperFileName(id, name, VIREO_KEEPER_NAME_CAPACITY);
    const size_t length = wcslen(folder) + 1 + wcslen(name) + wcslen(VIREO_KEEPER_PROFILE_EXT);
    // The long form for a name past MAX_PATH, unless the folder is already
    // in it or is a network one.
    const bool prefixed = length >= MAX_PATH && wcsncmp(folder, L"\\\\", 2) != 0;
    if (FAILED(StringCchPrintfW(path, size, L"%s%s\\%s%s", prefixed ? L"\\\\?\\" : L"", folder,
                                name, VIREO_KEEPER_PROFILE_EXT))) {
        path[0] = L'\0';
        return FALSE;
    }
    return TRUE;
}

extern "C" BOOL VireoKeeperLogPath(wchar_t *path, unsigned size)
{
    wchar_t folder[MAX_PATH];
    return VireoKeeperFolder(folder, MAX_PATH) && Join(path, size, folder, L"\\keeper.log");
}

namespace {

HKEY OpenRestores(REGSAM access)
{
    HKEY key = NULL;
    const std::wstring name = std::wstring(VIREO_KEEPER_KEY) + L"\\" + VIREO_KEEPER_RESTORES;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, name.c_str(), 0, NULL, 0, access, NULL, &key, NULL) !=
        ERROR_SUCCESS)
        return NULL;
    return key;
}

}  // namespace

extern "C" LONG VireoKeeperSetLastRestore(const wchar_t *id, HRESULT result)
{
    wchar_t name[VIREO_KEEPER_NAME_CAPACITY];
    VireoKeeperFileName(id, name, VIREO_KEEPER_NAME_CAPACITY);
    VireoKeeperRestore restore = {};
    GetSystemTimeAsFileTime(&restore.time);
    restore.result = result;
    HKEY key = OpenRestores(KEY_SET_VALUE);
    if (!key)
        return ERROR_ACCESS_DENIED;
    const LONG status = RegSetValueExW(key, name, 0, REG_BINARY,
                                       reinterpret_cast<const BYTE *>(&restore), sizeof(restore));
    RegCloseKey(key);
    return status;
}

extern "C" BOOL VireoKeeperLastRestore(const wchar_t *id, VireoKeeperRestore *restore)
{
    wchar_t name[VIREO_KEEPER_NAME_CAPACITY];
    VireoKeeperFileName(id, name, VIREO_KEEPER_NAME_CAPACITY);
    const std::wstring key = std::wstring(VIREO_KEEPER_KEY) + L"\\" + VIREO_KEEPER_RESTORES;
    DWORD size = sizeof(*restore);
    return restore &&
           RegGetValueW(HKEY_CURRENT_USER, key.c_str(), name, RRF_RT_REG_BINARY, NULL, restore,
                        &size) == ERROR_SUCCESS &&
           size == sizeof(*restore);
}
