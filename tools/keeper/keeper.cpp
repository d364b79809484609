// keeper.cpp - the keeper's work on the cameras (on its worker thread) and
// its log.
#include "keeper.h"

#include <strsafe.h>

#include "keeperpaths.h"

namespace keeper {

namespace {

const DWORD kNoteNotReady = ERROR_NOT_READY;

std::wstring Quoted(const std::wstring &id)
{
    return L"\"" + id + L"\"";
}

std::wstring Number(long value)
{
    wchar_t text[16];
    StringCchPrintfW(text, 16, L"%ld", value);
    return text;
}

std::wstring Hex(HRESULT hr)
{
    wchar_t text[16];
    StringCchPrintfW(text, 16, L"0x%08lX", static_cast<unsigned long>(hr));
    return text;
}

// The library's sentence for a result, with the result itself.
std::wstring Why(HRESULT hr)
{
    return Wide(VireoCameraMessage(hr)) + L" (" + Hex(hr) + L")";
}

std::wstring ControlName(ULONG id)
{
    const char *name = CameraControlName(id);
    return name ? Wide(name) : Number(static_cast<long>(id));
}

// A camera that may answer a moment later: not ready yet, not (yet)
// enumerated, its filter not (yet) made.
bool NotYet(HRESULT hr)
{
    return hr == HRESULT_FROM_WIN32(kNoteNotReady) ||
           hr == HRESULT_FROM_WIN32(ERROR_DEVICE_NOT_CONNECTED) || hr == VIREO_E_NO_DEVICE ||
           hr == VIREO_E_NO_SUCH_DEVICE || hr == VIREO_E_CANNOT_OPEN;
}

// A camera the keeper leaves alone: no IFace for this program.
bool NotOurs(HRESULT hr)
{
    return hr == VIREO_E_NO_IFACE || hr == VIREO_E_OTHER_WIDTH;
}

bool AtConsole(DWORD *mine, DWORD *console)
{
    *mine = 0;
    ProcessIdToSessionId(GetCurrentProcessId(), mine);
    *console = WTSGetActiveConsoleSessionId();
    return *mine == *console;
}

std::wstring ProfilePath(const std::wstring &id)
{
    wchar_t path[MAX_PATH] = {0};
    VireoKeeperProfilePath(id.c_str(), path, MAX_PATH);
    return path;
}

void CALLBACK CollectStep(void *context, const VireoStep *step)
{
    static_cast<std::vector<VireoStep> *>(context)->push_back(*step);
}

}  // namespace

std::string Utf8(const std::wstring &text)
{
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, NULL, 0, NULL, NULL);
    if (size <= 1)
        return std::string();
    std::string out(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, &out[0], size, NULL, NULL);
    out.resize(static_cast<size_t>(size - 1));
    return out;
}

std::wstring Wide(const std::string &utf8)
{
    const int size = MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, NULL, 0);
    if (size <= 1)
        return std::wstring();
    std::wstring out(static_cast<size_t>(size), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, &out[0], size);
    out.resize(static_cast<size_t>(size - 1));
    return out;
}

Log::Log(const std::wstring &path, ULONGLONG limit) : m_path(path), m_limit(limit)
{
}

void Log::Write(const std::wstring &line)
{
    SYSTEMTIME t;
    GetLocalTime(&t);
    char stamp[32];
    StringCchPrintfA(stamp, sizeof(stamp), "%04u-%02u-%02u %02u:%02u:%02u.%03u ", t.wYear, t.wMonth,
                     t.wDay, t.wHour, t.wMinute, t.wSecond, t.wMilliseconds);
    const std::string text = stamp + Utf8(line) + "\r\n";
    std::lock_guard<std::mutex> hold(m_lock);
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (GetFileAttributesExW(m_path.c_str(), GetFileExInfoStandard, &data)) {
        const ULONGLONG size =
            (static_cast<ULONGLONG>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
        if (size + text.size() > m_limit)
            MoveFileExW(m_path.c_str(), (m_path + L".1").c_str(), MOVEFILE_REPLACE_EXISTING);
    }
    HANDLE file = CreateFileW(m_path.c_str(), FILE_APPEND_DATA,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return;
    DWORD written = 0;
    WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, NULL);
    CloseHandle(file);
}

Keeper::Keeper(Log *log) : m_log(log)
{
}

Keeper::~Keeper()
{
    if (m_worker)
        Stop("end");
}

void Keeper::Start()
{
    m_cameras.HoldAll();
    Item item;
    item.work = Work::RestoreAll;
    item.reason = "start";
    m_queue.Push(item);
    m_worker = CreateThread(NULL, 0, Worker, this, 0, NULL);
}

void Keeper::Notify(HWND window, UINT message)
{
    m_notifyWindow = window;
    m_notifyMessage = message;
}

void Keeper::OnArrival(const wchar_t *devicePath)
{
    wchar_t id[VIREO_ID_CAPACITY];
    VireoCameraIdFromPath(devicePath, id, VIREO_ID_CAPACITY);
    m_log->Write(L"arrival " + Quoted(id));
    m_cameras.Returned(id);
    QueueRestore(id, "arrival");
}

void Keeper::OnRemoval(const wchar_t *devicePath)
{
    wchar_t id[VIREO_ID_CAPACITY];
    VireoCameraIdFromPath(devicePath, id, VIREO_ID_CAPACITY);
    m_log->Write(L"removal " + Quoted(id));
    m_cameras.Removed(id);
    Changed();
}

void Keeper::OnSuspend()
{
    Item item;
    item.work = Work::SaveAll;
    item.reason = "suspend";
    item.hold = true;
    m_queue.Push(item);
}

void Keeper::OnResume(const char *reason)
{
    m_log->Write(Wide(reason) + L": every camera restored");
    m_cameras.HoldAll();
    Item item;
    item.work = Work::RestoreAll;
    item.reason = reason;
    m_queue.Push(item);
}

void Keeper::OnLock()
{
    Item item;
    item.work = Work::SaveAll;
    item.reason = "lock";
    m_queue.Push(item);
}

void Keeper::OnTimer()
{
    Item item;
    item.work = Work::Remember;
    item.reason = "remember";
    m_queue.Push(item);
}

void Keeper::OnRestoreNow(const std::wstring &id)
{
    m_cameras.Returned(id);
    QueueRestore(id, "menu");
}

void Keeper::OnDefaults(const std::wstring &id)
{
    Item item;
    item.work = Work::Defaults;
    item.id = id;
    item.reason = "menu";
    m_queue.Push(item);
}

void Keeper::Stop(const char *reason, DWORD timeoutMs)
{
    if (!m_worker)
        return;
    Item item;
    item.work = Work::SaveAll;
    item.reason = reason;
    m_queue.Push(item);
    item.work = Work::Quit;
    m_queue.Push(item);
    WaitForSingleObject(m_worker, timeoutMs);
    CloseHandle(m_worker);
    m_worker = NULL;
}

void Keeper::QueueRestore(const std::wstring &id, const char *reason)
{
    Item item;
    item.work = Work::Restore;
    item.id = id;
    item.reason = reason;
    m_queue.Push(item);
}

void Keeper::Changed()
{
    if (m_notifyWindow)
        PostMessageW(m_notifyWindow, m_notifyMessage, 0, 0);
}

DWORD WINAPI Keeper::Worker(void *self)
{
    static_cast<Keeper *>(self)->Run();
    return 0;
}

void Keeper::Run()
{
    const HRESULT com = CoInitializeEx(NULL, COINIT_APARTMENTTHREADED);
    for (;;) {
        const Item item = m_queue.Wait();
        if (item.work == Work::Quit)
            break;
        switch (item.work) {
        case Work::Restore: Restore(item); break;
        case Work::RestoreAll: RestoreAll(item); break;
        case Work::Remember:
        case Work::SaveAll: Remember(item); break;
        case Work::Defaults: Defaults(item); break;
        case Work::Quit: break;
        }
    }
    if (SUCCEEDED(com))
        CoUninitialize();
}

std::vector<std::wstring> Keeper::DeviceIds()
{
    std::vector<std::wstring> ids;
    unsigned count = 0;
    if (FAILED(VireoCameraDeviceCount(&count)))
        return ids;
    for (unsigned i = 0; i < count; ++i) {
        wchar_t id[VIREO_ID_CAPACITY];
        if (SUCCEEDED(VireoCameraDeviceId(i, id, VIREO_ID_CAPACITY)))
            ids.push_back(id);
    }
    return ids;
}

void Keeper::SetAside(const std::wstring &path, const VireoProfileProblem &problem,
                      const std::wstring &id)
{
    const std::wstring bad = path + VIREO_KEEPER_BAD_EXT;
    const bool moved = MoveFileExW(path.c_str(), bad.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
    std::wstring where =
        problem.line ? L"line " + Number(static_cast<long>(problem.line)) + L": " : std::wstring();
    m_log->Write(L"bad profile " + Quoted(path) + L": " + where + Wide(problem.message) +
                 (moved ? L"; set aside as " + Quoted(bad)
                        : L"; could not be set aside (error " + Number(GetLastError()) + L")") +
                 L"; camera " + Quoted(id) + L" left as it is");
}

void Keeper::Restore(Item item)
{
    const unsigned generation = m_cameras.Generation(item.id);
    const ULONGLONG now = GetTickCount64();
    if (!item.deadline)
        item.deadline = now + kRetryWindowMs;
    const std::wstring what = Quoted(item.id) + L" (" + Wide(item.reason) + L")";
    if (!VireoKeeperKeep()) {
        m_log->Write(L"skip restore " + what + L": settings not kept");
        m_cameras.RestoreEnded(item.id, generation);
        return;
    }
    DWORD mine = 0, console = 0;
    if (!AtConsole(&mine, &console)) {
        // The camera stays held: this session must not save what another
        // session's user set, nor factory values.
        m_log->Write(L"refused restore " + what + L": session " + Number(static_cast<long>(mine)) +
                     L" is not the console's (" + Number(static_cast<long>(console)) + L")");
        return;
    }
    const std::wstring path = ProfilePath(item.id);
    VireoProfile profile;
    VireoProfileProblem problem = {};
    HRESULT hr = VireoProfileRead(path.c_str(), &profile, &problem);
    if (hr == HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND) ||
        hr == HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND)) {
        m_log->Write(L"no profile of " + what + L": camera left as it is");
        m_cameras.RestoreEnded(item.id, generation);
        return;
    }
    if (hr == VIREO_E_BAD_PROFILE) {
        SetAside(path, problem, item.id);
        m_cameras.RestoreEnded(item.id, generation);
        return;
    }
    VireoCamera *camera = NULL;
    std::vector<VireoStep> steps;
    std::wstring name;
    std::wstring skipped;
    if (SUCCEEDED(hr))
        hr = VireoCameraOpenId(item.id.c_str(), &camera);
    if (NotOurs(hr)) {
        m_cameras.RestoreEnded(item.id, generation);
        return;
    }
    bool notYet = FAILED(hr);  // the profile busy, the camera not there yet
    if (camera) {
        name = VireoCameraName(camera);
        m_cameras.Answered(item.id, name, true);
        VireoCameraWatch(camera, CollectStep, &steps);
        hr = VireoCameraLoadProfile(camera, &profile, VIREO_LOAD_SKIP_OUT_OF_RANGE, &problem);
        VireoCameraWatch(camera, NULL, NULL);
        notYet = NotYet(hr);
        for (const VireoStep &step : steps) {
            notYet = notYet || NotYet(step.result);
            if (step.result != VIREO_E_OUT_OF_RANGE)
                continue;
            VireoRange range = {};
            VireoCameraRange(camera, step.controlId, &range);
            skipped += L"; " + ControlName(step.controlId) + L"=" + Number(step.value) +
                       L" outside the range " + Number(range.minValue) + L".." +
                       Number(range.maxValue);
        }
        VireoCameraClose(camera);
    }
    if (notYet) {
        ++item.attempt;
        const DWORD pause = RetryPause(item.attempt);
        if (now + pause > item.deadline) {
            m_log->Write(L"gave up restore " + what + L": " + Why(hr));
            m_cameras.RestoreGivenUp(item.id);
            return;
        }
        m_log->Write(L"retry restore " + what + L" in " + Number(static_cast<long>(pause)) +
                     L" ms: " + Why(hr));
        item.notBefore = now + pause;
        m_queue.Push(item);
        return;
    }
    std::wstring values;
    for (const VireoStep &step : steps) {
        if (step.kind != SET_DATA && step.result != VIREO_E_OUT_OF_RANGE)
            continue;
        values += (values.empty() ? L"" : L", ") + ControlName(step.controlId) + L"=" +
                  Number(step.value) + L" ";
        if (step.result == VIREO_E_OUT_OF_RANGE)
            values += L"skipped";
        else if (step.result == VIREO_S_SKIPPED)
            values += L"disabled";
        else
            values += SUCCEEDED(step.result) ? L"ok" : Hex(step.result);
    }
    const bool done = SUCCEEDED(hr) || hr == VIREO_E_OUT_OF_RANGE;
    m_log->Write(L"restore " + Quoted(item.id) + L" " + name + L" (" + Wide(item.reason) + L") " +
                 (done ? L"done" : L"failed " + Why(hr)) + L": " + values);
    if (!skipped.empty())
        m_log->Write(L"skip " + Quoted(item.id) + L": " + skipped.substr(2));
    m_cameras.RestoreEnded(item.id, generation);
}

void Keeper::RestoreAll(const Item &item)
{
    m_cameras.Seen(DeviceIds(), true);
    for (const std::wstring &id : m_cameras.Present())
        QueueRestore(id, item.reason.c_str());
    Changed();
}

bool Keeper::SameAsSaved(const std::wstring &path, const VireoProfile &profile,
                         const std::wstring &id)
{
    VireoProfile saved;
    VireoProfileProblem problem = {};
    const HRESULT hr = VireoProfileRead(path.c_str(), &saved, &problem);
    if (hr == VIREO_E_BAD_PROFILE)
        SetAside(path, problem, id);
    if (FAILED(hr) || wcscmp(saved.device, profile.device) != 0 ||
        !VireoCameraSameId(saved.id, profile.id))
        return false;
    for (unsigned i = 0; i < CAMERA_CONTROL_COUNT; ++i) {
        const ULONG bit = 1ul << i;
        if ((profile.present & bit) &&
            (!(saved.present & bit) || saved.values[i] != profile.values[i]))
            return false;
    }
    return true;
}

void Keeper::Remember(const Item &item)
{
    const bool saveAll = item.work == Work::SaveAll;
    if (!VireoKeeperKeep()) {
        if (saveAll)
            m_log->Write(Wide(item.reason) + L": nothing saved, settings not kept");
        if (item.hold)
            m_cameras.HoldAll();
        return;
    }
    const std::vector<std::wstring> ids = DeviceIds();
    for (const std::wstring &id : m_cameras.Seen(ids, false))
        QueueRestore(id, "found");
    unsigned saved = 0;
    for (const std::wstring &id : ids) {
        const unsigned generation = m_cameras.Generation(id);
        if (!m_cameras.MaySave(id, generation))
            continue;
        VireoCamera *camera = NULL;
        HRESULT hr = VireoCameraOpenId(id.c_str(), &camera);
        if (FAILED(hr)) {
            if (NotOurs(hr))
                m_cameras.Answered(id, std::wstring(), false);
            continue;
        }
        VireoProfile profile;
        hr = VireoCameraReadProfile(camera, &profile);
        m_cameras.Answered(id, VireoCameraName(camera), true);
        VireoCameraClose(camera);
        // Only values read whole, while nothing happened to the camera.
        if (FAILED(hr) || !m_cameras.MaySave(id, generation))
            continue;
        const std::wstring path = ProfilePath(id);
        if (SameAsSaved(path, profile, id))
            continue;
        VireoProfileProblem problem = {};
        VireoKeeperCreateCameraFolder();
        hr = VireoProfileWrite(path.c_str(), &profile, &problem);
        if (SUCCEEDED(hr)) {
            ++saved;
            m_log->Write(L"save " + Quoted(id) + L" " + profile.device + L" (" + Wide(item.reason) +
                         L")");
        } else {
            m_log->Write(L"save " + Quoted(id) + L" failed: " + Why(hr) + L" " +
                         Wide(problem.message));
        }
    }
    if (saveAll)
        m_log->Write(Wide(item.reason) + L": " + Number(static_cast<long>(saved)) +
                     (saved == 1 ? L" camera saved" : L" cameras saved") +
                     (item.hold ? L", holding until the next restore" : L""));
    if (item.hold)
        m_cameras.HoldAll();
    Changed();
}

void Keeper::Defaults(const Item &item)
{
    VireoCamera *camera = NULL;
    HRESULT hr = VireoCameraOpenId(item.id.c_str(), &camera);
    if (SUCCEEDED(hr))
        hr = VireoCameraDefaults(camera);
    VireoCameraClose(camera);
    m_log->Write(L"factory settings " + Quoted(item.id) + L": " +
                 (SUCCEEDED(hr) ? L"done" : Why(hr)));
}

}  // namespace keeper
