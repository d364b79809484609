// profile.cpp - profiles of the camera library: files read and written
// (atomically), a camera's values read into a profile and a profile loaded
// onto a camera. The text itself is profile_text.cpp's.
//
// Like the rest of the library it asks nothing of the C++ runtime.
#include "vireocamera.h"

#include <string.h>
#include <strsafe.h>
#include <wchar.h>

#include "camera_internal.h"
#include "profile_internal.h"
#include "profile_text.h"

void(WINAPI *VireoProfileWriteHook)(const wchar_t *temporary) = NULL;

namespace {

static_assert(int(profiletext::kControlCount) == int(CAMERA_CONTROL_COUNT), "one control table");
static_assert(int(profiletext::kDeviceLimit) < int(VIREO_PROFILE_TEXT_CAPACITY) &&
                  int(profiletext::kIdLimit) < int(VIREO_PROFILE_TEXT_CAPACITY),
              "a name read from a file fits a profile in UTF-16");
static_assert(3 * int(VIREO_PROFILE_TEXT_CAPACITY) < int(profiletext::kNameCapacity),
              "a profile's name fits the text in UTF-8");

// A problem, given or a scratch one, cleared.
class ProblemOut {
public:
    explicit ProblemOut(VireoProfileProblem *given) : m_p(given ? given : &m_scratch)
    {
        memset(m_p, 0, sizeof(*m_p));
    }
    VireoProfileProblem *operator->() { return m_p; }
    VireoProfileProblem *Get() { return m_p; }

private:
    VireoProfileProblem m_scratch;
    VireoProfileProblem *m_p;
};

// Drops a UTF-8 sequence that a cut left incomplete at the end of text.
void EndWhole(char *text)
{
    size_t n = strlen(text), lead = n;
    while (lead > 0 && (static_cast<unsigned char>(text[lead - 1]) & 0xC0) == 0x80)
        --lead;
    if (lead == 0)
        return;
    const unsigned char c = static_cast<unsigned char>(text[lead - 1]);
    const size_t length = c < 0x80 ? 1 : c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : 2;
    if (n - (lead - 1) < length)
        text[lead - 1] = '\0';
}

// problem->message = text, with the words of a system error appended
// ("cannot open the file: The system cannot find the file specified").
void SayError(VireoProfileProblem *problem, const char *text, DWORD error)
{
    WCHAR words[200] = L"";
    const DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, NULL,
                                   error, 0, words, ARRAYSIZE(words), NULL);
    DWORD end = n;
    while (end > 0 && (words[end - 1] == L'\r' || words[end - 1] == L'\n' ||
                       words[end - 1] == L' ' || words[end - 1] == L'.'))
        --end;
    words[end] = L'\0';
    char utf8[sizeof(problem->message)] = "";
    if (end)
        WideCharToMultiByte(CP_UTF8, 0, words, -1, utf8, sizeof(utf8) - 1, NULL, NULL);
    if (utf8[0])
        StringCchPrintfA(problem->message, sizeof(problem->message), "%s: %s", text, utf8);
    else
        StringCchPrintfA(problem->message, sizeof(problem->message), "%s: error %lu", text,
                         static_cast<unsigned long>(error));
    EndWhole(problem->message);
}

HRESULT Fail(VireoProfileProblem *problem, const char *text, DWORD error)
{
    SayError(problem, text, error);
    return HRESULT_FROM_WIN32(error);
}

// UTF-16 text of at most size units (terminated or not) in UTF-8.
void ToUtf8(const wchar_t *text, size_t size, char *out, size_t capacity)
{
    const int n = static_cast<int>(wcsnlen(text, size));
    const int written = n ? WideCharToMultiByte(CP_UTF8, 0, text, n, out,
                                                static_cast<int>(capacity) - 1, NULL, NULL)
                          : 0;
    out[written > 0 ? written : 0] = '\0';
}

void ToUtf16(const char *text, wchar_t *out, size_t capacity)
{
    if (!MultiByteToWideChar(CP_UTF8, 0, text, -1, out, static_cast<int>(capacity)))
        out[0] = L'\0';
}

size_t IndexOf(ULONG id)
{
    size_t i = 0;
    while (i < CAMERA_CONTROL_COUNT && CameraControlIds[i] != id)
        ++i;
    return i;
}

bool SameText(const wchar_t *a, const wchar_t *b)
{
    return CompareStringOrdinal(a, static_cast<int>(wcsnlen(a, VIREO_PROFILE_TEXT_CAPACITY)), b, -1,
                                TRUE) == CSTR_EQUAL;
}

// The device check: ids where both have one, else names. False with the
// problem's words.
bool OfThisCamera(VireoCamera *camera, const VireoProfile *profile, VireoProfileProblem *problem)
{
    const wchar_t *id = VireoCameraId(camera);
    const bool byId = profile->id[0] && id && id[0];
    if (byId ? VireoCameraSameId(profile->id, id) != 0
             : profile->device[0] && SameText(profile->device, VireoCameraName(camera)))
        return true;
    char theirs[VIREO_PROFILE_TEXT_CAPACITY], ours[VIREO_PROFILE_TEXT_CAPACITY];
    ToUtf8(byId ? profile->id : profile->device, VIREO_PROFILE_TEXT_CAPACITY, theirs,
           sizeof(theirs));
    ToUtf8(byId ? id : VireoCameraName(camera), VIREO_PROFILE_TEXT_CAPACITY, ours, sizeof(ours));
    if (byId)
        StringCchPrintfA(problem->message, sizeof(problem->message),
                         "the profile is of the camera of id %s, not of id %s", theirs, ours);
    else if (theirs[0])
        StringCchPrintfA(problem->message, sizeof(problem->message),
                         "the profile is of %s, not of %s", theirs, ours);
    else
        StringCchPrintfA(problem->message, sizeof(problem->message),
                         "the profile names no camera; this one is %s", ours);
    EndWhole(problem->message);
    return false;
}

}  // namespace

extern "C" {

HRESULT VireoProfileParse(const char *text, size_t size, VireoProfile *profile,
                          VireoProfileProblem *problem)
{
    ProblemOut out(problem);
    if ((!text && size) || !profile)
        return E_POINTER;
    memset(profile, 0, sizeof(*profile));
    void *memory = HeapAlloc(GetProcessHeap(), 0, sizeof(profiletext::Profile));
    if (!memory)
        return E_OUTOFMEMORY;
    profiletext::Profile *parsed = static_cast<profiletext::Profile *>(memory);
    profiletext::Problem refused;
    HRESULT hr = S_OK;
    if (profiletext::Parse(text ? text : "", size, parsed, &refused)) {
        ToUtf16(parsed->device, profile->device, VIREO_PROFILE_TEXT_CAPACITY);
        ToUtf16(parsed->id, profile->id, VIREO_PROFILE_TEXT_CAPACITY);
        profile->present = parsed->present;
        for (size_t i = 0; i < CAMERA_CONTROL_COUNT; ++i)
            profile->values[i] = parsed->values[i];
    } else {
        out->line = refused.line;
        out->controlId = refused.control >= 0 ? CameraControlIds[refused.control] : 0;
        StringCchCopyA(out->message, sizeof(out->message), refused.message);
        hr = VIREO_E_BAD_PROFILE;
    }
    HeapFree(GetProcessHeap(), 0, memory);
    return hr;
}

HRESULT VireoProfileRead(const wchar_t *path, VireoProfile *profile, VireoProfileProblem *problem)
{
    ProblemOut out(problem);
    if (!path || !profile)
        return E_POINTER;
    memset(profile, 0, sizeof(*profile));
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, NULL,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return Fail(out.Get(), "cannot open the file", GetLastError());
    // One byte beyond the limit tells a file that is too long.
    const DWORD capacity = profiletext::kFileLimit + 1;
    char *text = static_cast<char *>(HeapAlloc(GetProcessHeap(), 0, capacity));
    if (!text) {
        CloseHandle(file);
        return E_OUTOFMEMORY;
    }
    DWORD size = 0, got = 0;
    DWORD error = ERROR_SUCCESS;
    while (size < capacity) {
        if (!ReadFile(file, text + size, capacity - size, &got, NULL)) {
            error = GetLastError();
            break;
        }
        if (got == 0)
            break;
        size += got;
    }
    CloseHandle(file);
    const HRESULT hr = error != ERROR_SUCCESS ? Fail(out.Get(), "cannot read the file", error)
                                              : VireoProfileParse(text, size, profile, out.Get());
    HeapFree(GetProcessHeap(), 0, text);
    return hr;
}

namespace {

// The temporary file of a write: "<file>.<process>.<n>.tmp", in name of
// size characters (the path's length and kTemporarySuffix at least).
const size_t kTemporarySuffix = 40;
void TemporaryName(const wchar_t *path, wchar_t *name, size_t size)
{
    static LONG serial = 0;
    StringCchPrintfW(name, size, L"%s.%lu.%ld.tmp", path,
                     static_cast<unsigned long>(GetCurrentProcessId()),
                     static_cast<long>(InterlockedIncrement(&serial)));
}

// The text written to disk, flushed and closed, in a new file.
HRESULT WriteWhole(const wchar_t *name, const char *text, size_t size, VireoProfileProblem *out)
{
    HANDLE file =
        CreateFileW(name, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return Fail(out, "cannot create a temporary file beside it", GetLastError());
    HRESULT hr = S_OK;
    DWORD written = 0;
    if (!WriteFile(file, text, static_cast<DWORD>(size), &written, NULL))
        hr = Fail(out, "cannot write the temporary file", GetLastError());
    else if (written != size)
        hr = Fail(out, "cannot write the temporary file", ERROR_DISK_FULL);
    else if (!FlushFileBuffers(file))
        hr = Fail(out, "cannot flush the temporary file to disk", GetLastError());
    if (!CloseHandle(file) && SUCCEEDED(hr))
        hr = Fail(out, "cannot close the temporary file", GetLastError());
    if (FAILED(hr))
        DeleteFileW(name);
    return hr;
}

// The written temporary file put in the profile's place in one move.
HRESULT PutInPlace(const wchar_t *temporary, const wchar_t *path, VireoProfileProblem *out)
{
    if (VireoProfileWriteHook)
        VireoProfileWriteHook(temporary);
    // Windows refuses to replace a read-only file; Wine replaces it. Both
    // keep it here.
    HRESULT hr = S_OK;
    const DWORD attributes = GetFileAttributesW(path);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
        hr = Fail(out, "cannot put the new file in place", ERROR_ACCESS_DENIED);
    else if (!MoveFileExW(temporary, path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        hr = Fail(out, "cannot put the new file in place", GetLastError());
    if (FAILED(hr))
        DeleteFileW(temporary);
    return hr;
}

}  // namespace

HRESULT VireoProfileWrite(const wchar_t *path, const VireoProfile *profile,
                          VireoProfileProblem *problem)
{
    ProblemOut out(problem);
    if (!path || !profile)
        return E_POINTER;
    // The text and the temporary file's name, off the stack.
    struct Work {
        profiletext::Profile profile;
        char text[profiletext::kFormatCapacity];
    };
    const size_t nameSize = wcslen(path) + kTemporarySuffix;
    void *memory = HeapAlloc(GetProcessHeap(), 0, sizeof(Work) + nameSize * sizeof(wchar_t));
    if (!memory)
        return E_OUTOFMEMORY;
    Work *work = static_cast<Work *>(memory);
    wchar_t *temporary = reinterpret_cast<wchar_t *>(work + 1);
    ToUtf8(profile->device, VIREO_PROFILE_TEXT_CAPACITY, work->profile.device,
           sizeof(work->profile.device));
    ToUtf8(profile->id, VIREO_PROFILE_TEXT_CAPACITY, work->profile.id, sizeof(work->profile.id));
    work->profile.present = profile->present;
    for (size_t i = 0; i < CAMERA_CONTROL_COUNT; ++i)
        work->profile.values[i] = profile->values[i];
    const size_t size = profiletext::Format(work->profile, work->text, sizeof(work->text));
    HRESULT hr = VIREO_E_BAD_PROFILE;
    if (size == 0) {
        StringCchCopyA(out->message, sizeof(out->message),
                       "the profile names no camera (no device name, no id)");
    } else {
        TemporaryName(path, temporary, nameSize);
        hr = WriteWhole(temporary, work->text, size, out.Get());
        if (SUCCEEDED(hr))
            hr = PutInPlace(temporary, path, out.Get());
    }
    HeapFree(GetProcessHeap(), 0, memory);
    return hr;
}

HRESULT VireoCameraReadProfile(VireoCamera *camera, VireoProfile *profile)
{
    if (!camera || !profile)
        return E_POINTER;
    memset(profile, 0, sizeof(*profile));
    StringCchCopyW(profile->device, VIREO_PROFILE_TEXT_CAPACITY, VireoCameraName(camera));
    StringCchCopyW(profile->id, VIREO_PROFILE_TEXT_CAPACITY, VireoCameraId(camera));
    HRESULT first = S_OK;
    for (size_t i = 0; i < CAMERA_CONTROL_COUNT; ++i) {
        const HRESULT hr = VireoCameraGet(camera, CameraControlIds[i], &profile->values[i]);
        if (SUCCEEDED(hr))
            profile->present |= 1u << i;
        else if (SUCCEEDED(first))
            first = hr;
    }
    return first;
}

namespace {

// What loading knows of each control before its first write.
struct Ranges {
    bool enabled[CAMERA_CONTROL_COUNT];
    bool outside[CAMERA_CONTROL_COUNT];
};

// Every range of the profile's controls, read before the first write; the
// first value outside its range named in the problem (a failure unless the
// flags let it pass).
HRESULT ReadRanges(VireoCamera *camera, const VireoProfile *profile, unsigned flags, Ranges *r,
                   VireoProfileProblem *out)
{
    for (size_t i = 0; i < CAMERA_CONTROL_COUNT; ++i) {
        r->enabled[i] = r->outside[i] = false;
        if (!(profile->present & (1u << i)))
            continue;
        const ULONG id = CameraControlIds[i];
        const LONG value = profile->values[i];
        VireoRange range;
        const HRESULT hr = VireoCameraRange(camera, id, &range);
        if (FAILED(hr)) {
            HRESULT refused = S_OK;
            vireocamera::Report(camera, id, GET_ENABLE, 0, hr, &refused);
            out->controlId = id;
            StringCchPrintfA(out->message, sizeof(out->message),
                             "the camera refused GET_ENABLE of %s", CameraControlName(id));
            return hr;
        }
        r->enabled[i] = range.enable != 0;
        r->outside[i] = r->enabled[i] && (value < range.minValue || value > range.maxValue);
        if (r->outside[i] && !(flags & VIREO_LOAD_ANY_VALUE) && !out->controlId) {
            out->controlId = id;  // the first one
            StringCchPrintfA(out->message, sizeof(out->message),
                             "%s %ld is outside the camera's range %ld..%ld", CameraControlName(id),
                             static_cast<long>(value), static_cast<long>(range.minValue),
                             static_cast<long>(range.maxValue));
            if (!(flags & VIREO_LOAD_SKIP_OUT_OF_RANGE))
                return VIREO_E_OUT_OF_RANGE;
        }
    }
    return S_OK;
}

// The profile's values written in the Default order with its pauses; the
// disabled controls, and those out of range when the flags say so, passed
// over.
HRESULT WriteInOrder(VireoCamera *camera, const VireoProfile *profile, unsigned flags,
                     const Ranges &r)
{
    HRESULT first = S_OK, ignored = S_OK;
    bool skipped = false;
    for (const VireoDefaultStep &s : VireoDefaultSequence) {
        const size_t i = IndexOf(s.controlId);
        if (!(profile->present & (1u << i)))
            continue;
        const LONG value = profile->values[i];
        if (!r.enabled[i] || (r.outside[i] && (flags & VIREO_LOAD_SKIP_OUT_OF_RANGE))) {
            vireocamera::Report(camera, s.controlId, SET_DATA, value,
                                r.enabled[i] ? VIREO_E_OUT_OF_RANGE : VIREO_S_SKIPPED, &ignored);
            skipped = true;
            continue;
        }
        vireocamera::Report(camera, s.controlId, SET_DATA, value,
                            VireoCameraSet(camera, s.controlId, value), &first);
        if (s.pauseAfter)
            vireocamera::Pause(camera);
    }
    return FAILED(first) ? first : skipped ? VIREO_S_SKIPPED : S_OK;
}

}  // namespace

HRESULT VireoCameraLoadProfile(VireoCamera *camera, const VireoProfile *profile, unsigned flags,
                               VireoProfileProblem *problem)
{
    ProblemOut out(problem);
    if (!camera || !profile)
        return E_POINTER;
    const unsigned known =
        VIREO_LOAD_ANY_CAMERA | VIREO_LOAD_ANY_VALUE | VIREO_LOAD_SKIP_OUT_OF_RANGE;
    const unsigned outOfRange = VIREO_LOAD_ANY_VALUE | VIREO_LOAD_SKIP_OUT_OF_RANGE;
    if ((flags & ~known) || (flags & outOfRange) == outOfRange)
        return E_INVALIDARG;
    if (!(flags & VIREO_LOAD_ANY_CAMERA) && !OfThisCamera(camera, profile, out.Get()))
        return VIREO_E_OTHER_CAMERA;
    Ranges ranges;
    const HRESULT hr = ReadRanges(camera, profile, flags, &ranges, out.Get());
    return FAILED(hr) ? hr : WriteInOrder(camera, profile, flags, ranges);
}

}  // extern "C"
