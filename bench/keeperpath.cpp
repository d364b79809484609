// keeperpath.cpp - the Camera Settings Keeper on the simulated camera: how
// long a change through IFace takes to reach the profile, how long a
// replugged camera waits for its settings against the Default button's own
// sequence on the same camera, and what the keeper costs while nothing
// happens (CPU time, requests to the camera, working set).
#include <windows.h>
#include <psapi.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "bench.h"
#include "keeperpaths.h"
#include "simcontrol.h"
#include "vireocamera.h"

namespace bench {

namespace {

const int kRounds = 5;
const DWORD kIdleSeconds = 60;

// The settings the keeper is to give back: none of them a factory value.
const struct {
    ULONG id;
    LONG value;
} kUserSettings[] = {{A_GAIN, 17}, {D_GAIN, 8}, {EXPOSURE, 500}, {AEC, 0}, {FLIP, 1}};

LONG SetDataCount(SimCamControl &cam, LONG from)
{
    LONG count = 0;
    const std::vector<SimRequest> log = cam.Log();
    for (size_t i = static_cast<size_t>(from); i < log.size(); ++i)
        if (log[i].isSet && log[i].property == VALUE10H && log[i].Kind() == SET_DATA)
            ++count;
    return count;
}

// Waits until cond holds, up to limitMs; false when it never did.
template <class Cond> bool WaitFor(Cond cond, DWORD limitMs, DWORD stepMs = 1)
{
    const ULONGLONG end = GetTickCount64() + limitMs;
    while (!cond()) {
        if (GetTickCount64() > end)
            return false;
        Sleep(stepMs);
    }
    return true;
}

bool ProfileHolds(const wchar_t *path, LONG exposure)
{
    VireoProfile profile;
    if (FAILED(VireoProfileRead(path, &profile, NULL)))
        return false;
    for (size_t i = 0; i < CAMERA_CONTROL_COUNT; ++i)
        if (CameraControlIds[i] == EXPOSURE)
            return (profile.present >> i & 1) && profile.values[i] == exposure;
    return false;
}

// A change through IFace (this program's handler signals the keeper):
// EXPOSURE set to value, and the time until the profile holds it (ms; a
// negative time when it never did).
double ChangeToProfileMs(const wchar_t *profile, LONG value)
{
    VireoCamera *camera = NULL;
    if (FAILED(VireoCameraOpenIndex(0, &camera)))
        return -1;
    const double start = NowUs();
    const HRESULT hr = VireoCameraSet(camera, EXPOSURE, value);
    VireoCameraClose(camera);
    if (FAILED(hr) || !WaitFor([&] { return ProfileHolds(profile, value); }, 10000))
        return -1;
    return (NowUs() - start) / 1000;
}

// The CPU time the keeper reports of itself when it ends (the last "end"
// line of its log): Wine gives no other process's times.
double LoggedCpuSeconds()
{
    wchar_t path[MAX_PATH];
    if (!VireoKeeperLogPath(path, MAX_PATH))
        return -1;
    FILE *file = _wfopen(path, L"rb");
    if (!file)
        return -1;
    double seconds = -1;
    char line[4096];
    while (fgets(line, sizeof(line), file))
        if (const char *at = strstr(line, "), CPU time "))
            seconds = atof(at + 12);
    fclose(file);
    return seconds;
}

// The Default button's own sequence on the camera: the floor of a restore.
double DefaultSequenceMs()
{
    VireoCamera *camera = NULL;
    if (FAILED(VireoCameraOpenIndex(0, &camera)))
        return 0;
    std::vector<double> samples;
    for (int i = 0; i < kRounds; ++i) {
        const double start = NowUs();
        VireoCameraDefaults(camera);
        samples.push_back((NowUs() - start) / 1000);
    }
    VireoCameraClose(camera);
    return Median(samples);
}

struct Keeper {
    PROCESS_INFORMATION pi = {};
    ~Keeper() { Stop(); }
    bool Start()
    {
        wchar_t path[MAX_PATH];
        GetModuleFileNameW(NULL, path, MAX_PATH);
        std::wstring line = path;
        line = L"\"" + line.substr(0, line.rfind(L'\\') + 1) + L"vireokeep.exe\"";
        STARTUPINFOW si = {};
        si.cb = sizeof(si);
        return CreateProcessW(NULL, &line[0], NULL, NULL, FALSE, 0, NULL, NULL, &si, &pi) != 0;
    }
    void Stop()
    {
        if (!pi.hProcess)
            return;
        if (HWND window = FindWindowW(VIREO_KEEPER_WINDOW_CLASS, NULL))
            PostMessageW(window, WM_CLOSE, 0, 0);
        if (WaitForSingleObject(pi.hProcess, 10000) != WAIT_OBJECT_0)
            TerminateProcess(pi.hProcess, 1);
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);
        pi = PROCESS_INFORMATION();
    }
};

// The keeper started and its first change saved.
bool StartAndSave(Keeper &keeper, const wchar_t *profile)
{
    if (!keeper.Start())
        return false;
    Sleep(1000);  // its start's restore
    return ChangeToProfileMs(profile, 500) >= 0;
}

}  // namespace

bool RunKeeper(std::vector<Row> &rows)
{
    SimCamControl cam;
    if (!cam.IsOpen()) {
        printf("keeper: the simulated camera is not there\n");
        return false;
    }
    cam.Reset();
    RegDeleteTreeW(HKEY_CURRENT_USER, VIREO_KEEPER_KEY);  // the defaults users get
    wchar_t id[VIREO_ID_CAPACITY], profile[MAX_PATH];
    if (FAILED(VireoCameraDeviceId(0, id, VIREO_ID_CAPACITY)) ||
        !VireoKeeperProfilePath(id, profile, MAX_PATH)) {
        printf("keeper: no camera id or profile path\n");
        return false;
    }
    DeleteFileW(profile);
    const double floorMs = DefaultSequenceMs();
    for (const auto &s : kUserSettings)
        cam.SetValue(s.id, s.value);

    // A keeper's start and first save alone, then one that idles on after
    // them: the difference is the idle's CPU time (each reports its own).
    double cpu[2] = {0, 0};
    double idleSeconds = 0, requestsPerMinute = 0;
    PROCESS_MEMORY_COUNTERS memory = {};
    memory.cb = sizeof(memory);
    for (int run = 0; run < 2; ++run) {
        DeleteFileW(profile);
        Keeper keeper;
        if (!StartAndSave(keeper, profile)) {
            printf("keeper: the keeper did not save the camera's settings\n");
            return false;
        }
        if (run == 1) {  // idle: one camera, nothing changes
            const LONG requestsBefore = cam.LogCount();
            const double idleStart = NowUs();
            Sleep(kIdleSeconds * 1000);
            idleSeconds = (NowUs() - idleStart) / 1e6;
            requestsPerMinute = (cam.LogCount() - requestsBefore) * 60.0 / idleSeconds;
            GetProcessMemoryInfo(keeper.pi.hProcess, &memory, sizeof(memory));
        }
        keeper.Stop();
        cpu[run] = LoggedCpuSeconds();
    }
    const double cpuPerHour = (cpu[1] - cpu[0]) / idleSeconds * 3600;
    Keeper keeper;
    if (!StartAndSave(keeper, profile)) {
        printf("keeper: the restarted keeper did not save a change\n");
        return false;
    }

    // A change through IFace to the profile written.
    std::vector<double> changes;
    for (int round = 0; round < kRounds; ++round) {
        const double ms = ChangeToProfileMs(profile, 510 + round);
        if (ms < 0) {
            printf("keeper: round %d: the change did not reach the profile\n", round);
            return false;
        }
        changes.push_back(ms);
    }
    if (ChangeToProfileMs(profile, 500) < 0) {
        printf("keeper: EXPOSURE 500 did not reach the profile\n");
        return false;
    }

    // Replug: from the arrival message to the last value written.
    std::vector<double> restores;
    for (int round = 0; round < kRounds; ++round) {
        cam.Unplug();
        const LONG from = cam.LogCount();
        const double start = NowUs();
        cam.Plug();  // registers the device, then broadcasts its arrival
        if (!WaitFor([&] { return SetDataCount(cam, from) >= CAMERA_CONTROL_COUNT; }, 20000)) {
            printf("keeper: round %d: the camera did not get its settings back\n", round);
            return false;
        }
        restores.push_back((NowUs() - start) / 1000);
        if (cam.Value(EXPOSURE) != 500)
            printf("keeper: round %d: EXPOSURE is %ld after the restore\n", round,
                   static_cast<long>(cam.Value(EXPOSURE)));
        Sleep(500);
    }

    rows.push_back({"a change through IFace to the profile (median)", Median(changes), 0, "ms", 1});
    rows.push_back(
        {"replug: arrival to the last value written (median)", Median(restores), floorMs, "ms", 1});
    rows.push_back({"- the Default button's sequence, same camera", floorMs, floorMs, "ms", 1});
    rows.push_back({"idle, one camera: CPU time per hour", cpuPerHour, 0, "s", 2});
    rows.push_back(
        {"idle, one camera: requests to the camera per minute", requestsPerMinute, 0, "", 0});
    rows.push_back({"working set", memory.WorkingSetSize / 1048576.0, 0, "MiB", 1});
    rows.push_back({"- peak working set", memory.PeakWorkingSetSize / 1048576.0, 0, "MiB", 1});
    cam.Reset();
    DeleteFileW(profile);
    return true;
}

}  // namespace bench
