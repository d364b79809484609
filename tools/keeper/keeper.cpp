// keeper.cpp - the keeper's work on the cameras (on its worker thread) and
// its log.
#include "keeper.h"

#include <dshow.h>
#include <strsafe.h>
#include <wrl/client.h>

#include "changesignal.h"
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

// The profile's path; empty when it cannot be built whole.
std::wstring ProfilePath(const std::wstring &id)
{
    std::wstring path(VIREO_KEEPER_PATH_CAPACITY, L'\0');
    if (!VireoKeeperProfilePath(id.c_str(), &path[0], VIREO_KEEPER_PATH_CAPACITY))
        return std::wstring();
    path.resize(wcslen(path.c_str()));
    return path;
}

// A text of the device's property bag; empty when it has none.
std::wstring BagText(IPropertyBag *bag, const wchar_t *name)
{
    VARIANT value;
    VariantInit(&value);
    std::wstring text;
    if (SUCCEEDED(bag->Read(name, &value, NULL)) && V_VT(&value) == VT_BSTR && V_BSTR(&value))
        text = V_BSTR(&value);
    VariantClear(&value);
    return text;
}

// The camera library's id of a device: its path without the interface
// class, or its friendly name when it has no path.
std::wstring MonikerId(IMoniker *moniker)
{
    Microsoft::WRL::ComPtr<IPropertyBag> bag;
    if (FAILED(moniker->BindToStorage(NULL, NULL, IID_IPropertyBag,
                                      reinterpret_cast<void **>(bag.GetAddressOf()))))
        return std::wstring();
    const std::wstring path = BagText(bag.Get(), L"DevicePath");
    if (path.empty())
        return BagText(bag.Get(), L"FriendlyName");
    wchar_t id[VIREO_ID_CAPACITY];
    VireoCameraIdFromPath(path.c_str(), id, VIREO_ID_CAPACITY);
    return id;
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
            TurnOver();
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

// The log becomes keeper.log.1. A reader that holds it open without
// sharing its deletion (vireoctl keep) stops the rename: then it is copied
// and emptied in place instead.
void Log::TurnOver()
{
    const std::wstring older = m_path + L".1";
    if (MoveFileExW(m_path.c_str(), older.c_str(), MOVEFILE_REPLACE_EXISTING))
        return;
    if (!CopyFileW(m_path.c_str(), older.c_str(), FALSE))
        return;
    HANDLE file = CreateFileW(m_path.c_str(), GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return;
    SetEndOfFile(file);
    CloseHandle(file);
}

bool AtConsole(DWORD *mine, DWORD *console)
{
    *mine = 0;
    ProcessIdToSessionId(GetCurrentProcessId(), mine);
    *console = WTSGetActiveConsoleSessionId();
    return *mine == *console;
}

std::vector<std::wstring> DeviceIds()
{
    std::vector<std::wstring> ids;
    Microsoft::WRL::ComPtr<ICreateDevEnum> devices;
    Microsoft::WRL::ComPtr<IEnumMoniker> monikers;
    HRESULT hr = CoCreateInstance(CLSID_SystemDeviceEnum, NULL, CLSCTX_INPROC_SERVER,
                                  IID_PPV_ARGS(&devices));
    if (SUCCEEDED(hr))
        hr = devices->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, &monikers, 0);
    if (hr != S_OK || !monikers)  // S_FALSE: no device at all
        return ids;
    Microsoft::WRL::ComPtr<IMoniker> moniker;
    while (monikers->Next(1, moniker.ReleaseAndGetAddressOf(), NULL) == S_OK) {
        const std::wstring id = MonikerId(moniker.Get());
        if (!id.empty())
            ids.push_back(id);
    }
    return ids;
}

Keeper::Keeper(Log *log, ConsoleCheck console) : m_log(log), m_console(console)
{
}

Keeper::~Keeper()
{
    // The worker uses this object: where it does not end, the process ends
    // without destroying anything it uses.
    if (m_worker && !Stop("end")) {
        m_log->Write(L"end: the worker did not end in time");
        ExitProcess(3);
    }
    for (HANDLE h : {m_quit, m_changed, m_settings})
        if (h)
            CloseHandle(h);
    if (m_key)
        RegCloseKey(m_key);
}

void Keeper::Start()
{
    m_quit = CreateEventW(NULL, TRUE, FALSE, NULL);
    m_changed = CreateEventW(NULL, FALSE, FALSE, VIREO_CHANGE_EVENT);
    if (m_changed)
        ResetEvent(m_changed);  // a signal for an earlier keeper
    m_settings = CreateEventW(NULL, FALSE, FALSE, NULL);
    m_keep = VireoKeeperKeep();
    Item item;
    item.work = Work::RestoreAll;
    item.reason = "start";
    m_queue.Push(item);
    m_worker = CreateThread(NULL, 0, Worker, this, 0, NULL);
    m_listener = CreateThread(NULL, 0, Listener, this, 0, NULL);
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
    // The camera's arrival under its other interface classes brings no
    // second restore.
    const bool again = !m_cameras.Arrive(id, GetTickCount64());
    m_log->Write(L"arrival " + Quoted(id) + (again ? L" (the same one)" : L""));
    if (!again && m_cameras.PhaseOf(id) == Phase::Returning)
        QueueRestore(id, "arrival");
}

void Keeper::OnRemoval(const wchar_t *devicePath)
{
    wchar_t id[VIREO_ID_CAPACITY];
    VireoCameraIdFromPath(devicePath, id, VIREO_ID_CAPACITY);
    m_log->Write(L"removal " + Quoted(id));
    m_cameras.Apply(id, Event::Removed);
    Changed();
}

void Keeper::OnHold(const char *reason)
{
    m_cameras.HoldAll();
    m_log->Write(Wide(reason) + L": every camera held until the next restore");
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

void Keeper::OnKeep(int keep)
{
    keep = keep ? 1 : 0;
    if (InterlockedExchange(&m_keep, keep) == keep)
        return;
    m_log->Write(keep ? L"settings kept" : L"settings not kept");
    if (keep)
        OnResume("keep on");  // the profiles onto the cameras, never the reverse
    else
        OnHold("keep off");
    Changed();  // the icon shows it
}

void Keeper::OnRestoreNow(const std::wstring &id)
{
    m_cameras.Apply(id, Event::Restore);
    if (m_cameras.PhaseOf(id) == Phase::Returning)
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

void Keeper::OnChanged()
{
    Item item;
    item.work = Work::Remember;
    item.reason = "change";
    m_queue.Push(item);
}

bool Keeper::Stop(const char *reason, DWORD timeoutMs)
{
    if (!m_worker)
        return true;
    if (m_listener) {
        SetEvent(m_quit);
        WaitForSingleObject(m_listener, timeoutMs);
        CloseHandle(m_listener);
        m_listener = NULL;
    }
    // A change still settling is saved before the end.
    if (m_settling || (m_changed && WaitForSingleObject(m_changed, 0) == WAIT_OBJECT_0)) {
        Item item;
        item.work = Work::Remember;
        item.reason = reason;
        m_queue.Push(item);
    }
    Item quit;
    quit.work = Work::Quit;
    m_queue.Push(quit);
    if (WaitForSingleObject(m_worker, timeoutMs) != WAIT_OBJECT_0)
        return false;
    CloseHandle(m_worker);
    m_worker = NULL;
    m_cameras.HoldAll();
    return true;
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

DWORD WINAPI Keeper::Listener(void *self)
{
    static_cast<Keeper *>(self)->Listen();
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
        case Work::Remember: Remember(item); break;
        case Work::Defaults: Defaults(item); break;
        case Work::Enforce: Enforce(item); break;
        case Work::Quit: break;
        }
    }
    if (SUCCEEDED(com))
        CoUninitialize();
}

// (Re)arms the notice of a change of the keeper's registry key.
void Keeper::WatchSettings()
{
    if (m_key)
        RegCloseKey(m_key);
    m_key = NULL;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, VIREO_KEEPER_KEY, 0, NULL, 0,
                        KEY_NOTIFY | KEY_QUERY_VALUE, NULL, &m_key, NULL) == ERROR_SUCCESS)
        RegNotifyChangeKeyValue(m_key, FALSE, REG_NOTIFY_CHANGE_LAST_SET, m_settings, TRUE);
}

// The listener: change signals (each settles into one reading), the
// keeper's settings (vireoctl keep on|off) and the organization's policy,
// until Stop. The policy's watch lives on this thread, as it must.
void Keeper::Listen()
{
    WatchSettings();
    if (FAILED(VireoPolicyWatchOpen(&m_policyWatch)))
        m_log->Write(L"the policy keys cannot be watched: a policy change needs a restore");
    ListenUntilQuit();
    VireoPolicyWatchClose(m_policyWatch);
    m_policyWatch = NULL;
}

void Keeper::ListenUntilQuit()
{
    const HANDLE waits[] = {m_quit, m_changed, m_settings, VireoPolicyWatchEvent(m_policyWatch)};
    const DWORD count = !m_changed ? 1 : waits[3] ? 4 : 3;
    for (;;) {
        const DWORD woke = WaitForMultipleObjects(count, waits, FALSE, INFINITE);
        if (woke == WAIT_OBJECT_0 + 1) {
            if (!Settle())
                return;
        } else if (woke == WAIT_OBJECT_0 + 2) {
            WatchSettings();
            OnKeep(VireoKeeperKeep());
        } else if (woke == WAIT_OBJECT_0 + 3) {
            PolicyChanged();
        } else {
            return;
        }
    }
}

// Waits until the changes settle and queues one reading; false when the
// keeper ends meanwhile (Stop queues the reading then).
bool Keeper::Settle()
{
    InterlockedExchange(&m_settling, 1);
    const ULONGLONG first = GetTickCount64();
    ULONGLONG last = first;
    const HANDLE waits[] = {m_quit, m_changed};
    for (;;) {
        const DWORD wait = SettleWait(first, last, GetTickCount64());
        if (!wait)
            break;
        const DWORD woke = WaitForMultipleObjects(2, waits, FALSE, wait);
        if (woke == WAIT_OBJECT_0)
            return false;
        if (woke == WAIT_OBJECT_0 + 1)
            last = GetTickCount64();
    }
    OnChanged();
    InterlockedExchange(&m_settling, 0);
    return true;
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

namespace {

// The values a restore wrote, for the log: "EXPOSURE=500 ok, ...".
std::wstring StepsText(const std::vector<VireoStep> &steps)
{
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
    return values;
}

// The values skipped for their range: "A_GAIN=1000 outside the range 0..255; ...".
std::wstring SkippedText(VireoCamera *camera, const std::vector<VireoStep> &steps)
{
    std::wstring skipped;
    for (const VireoStep &step : steps) {
        if (step.result != VIREO_E_OUT_OF_RANGE)
            continue;
        VireoRange range = {};
        VireoCameraRange(camera, step.controlId, &range);
        skipped += (skipped.empty() ? L"" : L"; ") + ControlName(step.controlId) + L"=" +
                   Number(step.value) + L" outside the range " + Number(range.minValue) + L".." +
                   Number(range.maxValue);
    }
    return skipped;
}

}  // namespace

// A restore may write to the camera: settings kept, and this session at
// the console (another session's user must not get this one's values).
// Otherwise the camera is held.
bool Keeper::RestoreReady(const Item &item, unsigned begun)
{
    const std::wstring what = Quoted(item.id) + L" (" + Wide(item.reason) + L")";
    if (!VireoKeeperKeep()) {
        m_log->Write(L"skip restore " + what + L": settings not kept");
        RestoreEnded(item, begun, Event::Hold, S_FALSE);
        return false;
    }
    DWORD mine = 0, console = 0;
    if (!m_console(&mine, &console)) {
        m_log->Write(L"refused restore " + what + L": session " + Number(static_cast<long>(mine)) +
                     L" is not the console's (" + Number(static_cast<long>(console)) + L")");
        RestoreEnded(item, begun, Event::Hold, S_FALSE);
        return false;
    }
    return true;
}

// Every restore (start, arrival, resume, unlock, console connect, keeping
// turned on, the menu) writes to the camera here and nowhere else: what it
// starts from, then the organization's locked values.
HRESULT Keeper::ApplyProfile(const Item &item, From from, VireoProfile *profile, std::wstring *name,
                             bool *notYet)
{
    VireoCamera *camera = NULL;
    HRESULT hr = VireoCameraOpenId(item.id.c_str(), &camera);
    *notYet = NotYet(hr);
    if (FAILED(hr))
        return hr;
    *name = VireoCameraName(camera);
    m_cameras.Answered(item.id, *name, true);
    VireoPolicy policy;
    VireoCameraPolicy(camera, &policy);
    // The profile's values of locked controls are not sent: the handler
    // refuses them, and the policy's value follows.
    const ULONG leftToPolicy = from == From::Profile ? profile->present & policy.locked : 0;
    std::vector<VireoStep> steps;
    hr = WriteStart(camera, from, policy, profile, &steps);
    *notYet = NotYet(hr);
    for (const VireoStep &step : steps)
        *notYet = *notYet || NotYet(step.result);
    if (!*notYet && from != From::LockedOnly)
        LogRestore(camera, item, *name, hr, steps);
    bool lockNotYet = false;
    const unsigned locked = *notYet ? 0
                                    : WriteLocked(camera, policy, item.id, item.reason,
                                                  leftToPolicy, profile->values, &lockNotYet);
    *notYet = *notYet || lockNotYet;
    if (!*notYet && from != From::Profile && (locked || profile->present))
        Started(camera, item.id, policy);
    VireoCameraClose(camera);
    return hr;
}

// The restore's own values: the profile's or the recommended ones, without
// the locked controls; logged.
HRESULT Keeper::WriteStart(VireoCamera *camera, From from, const VireoPolicy &policy,
                           VireoProfile *profile, std::vector<VireoStep> *steps)
{
    VireoCameraWatch(camera, CollectStep, steps);
    if (from == From::Recommended)
        VireoCameraRecommended(camera, &policy, profile);
    if (from == From::LockedOnly)
        profile->present = 0;
    profile->present &= ~policy.locked;
    VireoProfileProblem problem = {};
    const HRESULT hr =
        profile->present
            ? VireoCameraLoadProfile(camera, profile, VIREO_LOAD_SKIP_OUT_OF_RANGE, &problem)
            : S_OK;
    VireoCameraWatch(camera, NULL, NULL);
    return hr;
}

void Keeper::LogRestore(VireoCamera *camera, const Item &item, const std::wstring &name, HRESULT hr,
                        const std::vector<VireoStep> &steps)
{
    const bool done = SUCCEEDED(hr) || hr == VIREO_E_OUT_OF_RANGE;
    m_log->Write(L"restore " + Quoted(item.id) + L" " + name + L" (" + Wide(item.reason) + L") " +
                 (done ? L"done" : L"failed " + Why(hr)) + L": " + StepsText(steps));
    const std::wstring skipped = SkippedText(camera, steps);
    if (!skipped.empty())
        m_log->Write(L"skip " + Quoted(item.id) + L": " + skipped);
}

unsigned Keeper::WriteLocked(VireoCamera *camera, const VireoPolicy &policy, const std::wstring &id,
                             const std::string &reason, ULONG leftToPolicy,
                             const LONG *profileValues, bool *notYet)
{
    *notYet = false;
    if (!policy.locked)
        return 0;
    std::vector<VireoStep> steps;
    unsigned written = 0;
    VireoCameraWatch(camera, CollectStep, &steps);
    const HRESULT hr = VireoCameraApplyLocked(camera, &policy, &written);
    VireoCameraWatch(camera, NULL, NULL);
    *notYet = NotYet(hr);
    if (*notYet)
        return written;
    std::wstring line = L"locked " + Quoted(id) + L" (" + Wide(reason) + L"): " +
                        (steps.empty() ? L"held already" : StepsText(steps));
    if (leftToPolicy)
        line += L"; the profile's " + PolicyValues(leftToPolicy, profileValues) +
                L" left to the policy";
    m_log->Write(line);
    const std::wstring skipped = SkippedText(camera, steps);
    if (!skipped.empty())
        m_log->Write(L"skip " + Quoted(id) + L": " + skipped);
    return written;
}

// What a restore left on a camera with no profile, read back: not the
// user's choice, so not saved while the camera holds it.
void Keeper::Started(VireoCamera *camera, const std::wstring &id, const VireoPolicy &policy)
{
    VireoProfile started;
    if (FAILED(VireoCameraReadProfile(camera, &started)))
        return;
    KeepUsersOwn(&started, NULL, policy);
    m_started[Cameras::Key(id)] = started;
}

// A camera with nothing to restore (under policy, its model's policy as the
// restore read it) is read once: the menu names it, and a change signal
// (every camera's writes raise the one signal, the keeper's own restores
// too) saves it only when its values leave these.
void Keeper::LeaveAsItIs(const Item &item, unsigned begun, const VireoPolicy &policy)
{
    VireoCamera *camera = NULL;
    const HRESULT hr = VireoCameraOpenId(item.id.c_str(), &camera);
    if (SUCCEEDED(hr)) {
        m_cameras.Answered(item.id, VireoCameraName(camera), true);
        Started(camera, item.id, policy);
        VireoCameraClose(camera);
    } else if (NotOurs(hr)) {
        m_cameras.Answered(item.id, std::wstring(), false);
    }
    RestoreEnded(item, begun, Event::Done, S_FALSE);
}

void Keeper::RestoreEnded(const Item &item, unsigned begun, Event event, HRESULT result)
{
    m_cameras.Finish(item.id, event, begun);
    VireoKeeperSetLastRestore(item.id.c_str(), result);
    Changed();
}

void Keeper::Retry(Item item, unsigned begun, HRESULT hr)
{
    const std::wstring what = Quoted(item.id) + L" (" + Wide(item.reason) + L")";
    const ULONGLONG now = GetTickCount64();
    ++item.attempt;
    const DWORD pause = RetryPause(item.attempt);
    if (now + pause > item.deadline) {
        m_log->Write(L"gave up restore " + what + L": " + Why(hr));
        RestoreEnded(item, begun, Event::GiveUp, hr);
        return;
    }
    m_log->Write(L"retry restore " + what + L" in " + Number(static_cast<long>(pause)) + L" ms: " +
                 Why(hr));
    item.notBefore = now + pause;
    if (m_cameras.Finish(item.id, Event::Retry, begun))
        m_queue.Push(item);
}

void Keeper::Restore(Item item)
{
    const unsigned begun = m_cameras.Apply(item.id, Event::Begin);
    if (m_cameras.PhaseOf(item.id) != Phase::Restoring)
        return;  // held, gone or restored since it was queued
    if (!item.deadline)
        item.deadline = GetTickCount64() + kRetryWindowMs;
    if (!RestoreReady(item, begun))
        return;
    m_started.erase(Cameras::Key(item.id));
    const std::wstring what = Quoted(item.id) + L" (" + Wide(item.reason) + L")";
    const std::wstring path = ProfilePath(item.id);
    VireoProfile profile;
    VireoProfileProblem problem = {};
    const HRESULT read = path.empty() ? HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE)
                                      : VireoProfileRead(path.c_str(), &profile, &problem);
    VireoPolicy policy;
    wchar_t model[VIREO_MODEL_CAPACITY];
    VireoCameraModel(item.id.c_str(), model, VIREO_MODEL_CAPACITY);
    VireoPolicyRead(model, &policy);
    From from = From::Profile;
    if (read == HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND) ||
        read == HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND)) {
        const bool nothing = !policy.recommended && !policy.locked;
        m_log->Write(L"no profile of " + what + L": " +
                     (nothing              ? L"camera left as it is"
                      : policy.recommended ? L"the recommended values"
                                           : L"the locked values only"));
        if (nothing) {
            LeaveAsItIs(item, begun, policy);
            return;
        }
        from = From::Recommended;
    } else if (read == VIREO_E_BAD_PROFILE) {
        SetAside(path, problem, item.id);
        from = From::LockedOnly;
    } else if (FAILED(read)) {  // a file error: no retry, and nothing saved over it
        m_log->Write(L"gave up restore " + what + L": the profile cannot be read: " + Why(read));
        from = From::LockedOnly;
    }
    if (from == From::LockedOnly && !policy.locked) {
        RestoreEnded(item, begun, read == VIREO_E_BAD_PROFILE ? Event::Done : Event::GiveUp, read);
        return;
    }
    if (!RestoreFrom(item, begun, from, &profile) && from == From::LockedOnly)
        RestoreEnded(item, begun, read == VIREO_E_BAD_PROFILE ? Event::Done : Event::GiveUp, read);
}

// Writes what the restore starts from and the locked values, and ends the
// restore (or retries it); true when it is retried. After only the locked
// values the caller ends it, with the profile's reading.
bool Keeper::RestoreFrom(const Item &item, unsigned begun, From from, VireoProfile *profile)
{
    std::wstring name;
    bool notYet = false;
    const HRESULT hr = ApplyProfile(item, from, profile, &name, &notYet);
    if (notYet) {
        Retry(item, begun, hr);
        return true;
    }
    if (from == From::LockedOnly)
        return false;
    if (NotOurs(hr) || SUCCEEDED(hr) || hr == VIREO_E_OUT_OF_RANGE)
        RestoreEnded(item, begun, Event::Done, NotOurs(hr) ? S_FALSE : S_OK);
    else
        RestoreEnded(item, begun, Event::GiveUp, hr);  // its values unknown: not saved
    return false;
}

void Keeper::RestoreAll(const Item &item)
{
    m_cameras.Seen(DeviceIds());
    for (const std::wstring &id : m_cameras.RestoreEvery())
        QueueRestore(id, item.reason.c_str());
    Changed();
}

// Whether the reading changed nothing the user chose: the same as the
// saved profile (its locked controls at the user's own values), or, with
// no profile, what the camera's restore left on it.
bool Keeper::Unchanged(const std::wstring &path, VireoProfile *reading, const VireoPolicy &policy,
                       const std::wstring &id)
{
    VireoProfile saved;
    VireoProfileProblem problem = {};
    const HRESULT hr = VireoProfileRead(path.c_str(), &saved, &problem);
    if (hr == VIREO_E_BAD_PROFILE)
        SetAside(path, problem, id);
    KeepUsersOwn(reading, SUCCEEDED(hr) ? &saved : NULL, policy);
    if (SUCCEEDED(hr))
        return SameValues(saved, *reading);
    const auto started = m_started.find(Cameras::Key(id));
    return started != m_started.end() && SameValues(started->second, *reading);
}

// After a change: the present cameras read once, those kept saved where
// their values changed. Only the console session's keeper saves.
void Keeper::Remember(const Item &item)
{
    if (!VireoKeeperKeep())
        return;
    DWORD mine = 0, console = 0;
    if (!m_console(&mine, &console)) {
        OnHold("not at the console");
        return;
    }
    const std::vector<std::wstring> ids = DeviceIds();
    for (const std::wstring &id : m_cameras.Seen(ids))
        QueueRestore(id, "found");
    bool failed = false;
    for (const std::wstring &id : ids)
        failed = !RememberOne(id, item) || failed;
    // A file another program has open a moment: the reading is tried again
    // a few times (the failure logged once).
    if (failed && item.attempt < kSaveAttempts) {
        Item again = item;
        ++again.attempt;
        again.notBefore = GetTickCount64() + RetryPause(again.attempt);
        m_queue.Push(again);
    }
    Changed();
}

bool Keeper::RememberOne(const std::wstring &id, const Item &item)
{
    const unsigned generation = m_cameras.Generation(id);
    if (!m_cameras.MaySave(id, generation))
        return true;
    VireoCamera *camera = NULL;
    HRESULT hr = VireoCameraOpenId(id.c_str(), &camera);
    if (FAILED(hr)) {
        if (NotOurs(hr))
            m_cameras.Answered(id, std::wstring(), false);
        return true;
    }
    VireoProfile profile;
    hr = VireoCameraReadProfile(camera, &profile);
    m_cameras.Answered(id, VireoCameraName(camera), true);
    VireoPolicy policy;
    VireoCameraPolicy(camera, &policy);
    bool notYet = false;
    if (SUCCEEDED(hr) && LeftElsewhere(profile, policy))
        WriteLocked(camera, policy, id, item.reason, 0, NULL, &notYet);  // put back
    VireoCameraClose(camera);
    // Only values read whole, while nothing happened to the camera.
    if (FAILED(hr) || !m_cameras.MaySave(id, generation))
        return true;
    const std::wstring path = ProfilePath(id);
    if (path.empty()) {
        SaveFailed(id, HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE), "no whole profile path");
        return true;  // lasting
    }
    if (Unchanged(path, &profile, policy, id))
        return true;
    VireoProfileProblem problem = {};
    VireoKeeperCreateCameraFolder();
    hr = VireoProfileWrite(path.c_str(), &profile, &problem);
    if (FAILED(hr)) {
        SaveFailed(id, hr, problem.message);
        return false;
    }
    {
        std::lock_guard<std::mutex> hold(m_failLock);
        m_saveFailures.erase(Cameras::Key(id));
    }
    m_started.erase(Cameras::Key(id));
    m_log->Write(L"save " + Quoted(id) + L" " + profile.device + L" (" + Wide(item.reason) + L")");
    return true;
}

// A save that fails the same way again is logged once.
void Keeper::SaveFailed(const std::wstring &id, HRESULT hr, const char *message)
{
    {
        std::lock_guard<std::mutex> hold(m_failLock);
        auto it = m_saveFailures.find(Cameras::Key(id));
        if (it != m_saveFailures.end() && it->second == hr)
            return;
        m_saveFailures[Cameras::Key(id)] = hr;
    }
    m_log->Write(L"save " + Quoted(id) + L" failed: " + Why(hr) + L" " + Wide(message));
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
