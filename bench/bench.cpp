// bench.cpp - clock, medians, tables, the allocation counter and the entry
// point of vireobench.
#include "bench.h"

#include <psapi.h>
#include <stdlib.h>
#include <stdio.h>

#include <algorithm>
#include <atomic>

#if defined(_MSC_VER)
#include <intrin.h>
#define BENCH_RETURN_ADDRESS() _ReturnAddress()
#else
#define BENCH_RETURN_ADDRESS() __builtin_return_address(0)
#endif

namespace bench {

double NowUs()
{
    static LARGE_INTEGER frequency = {};
    if (!frequency.QuadPart)
        QueryPerformanceFrequency(&frequency);
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) * 1e6 / static_cast<double>(frequency.QuadPart);
}

double Median(std::vector<double> samples)
{
    if (samples.empty())
        return 0;
    std::sort(samples.begin(), samples.end());
    const size_t n = samples.size();
    return n % 2 ? samples[n / 2] : (samples[n / 2 - 1] + samples[n / 2]) / 2;
}

void PrintTable(const char *title, const std::vector<Row> &rows)
{
    printf("\n%s\n\n", title);
    printf("| %-52s | %14s | %14s | %7s |\n", "measure", "figure", "floor", "ratio");
    printf("|%s|%s|%s|%s|\n", std::string(54, '-').c_str(),
           std::string(15, '-').append(":").c_str(), std::string(15, '-').append(":").c_str(),
           std::string(8, '-').append(":").c_str());
    for (const Row &r : rows) {
        char figure[32], floor[32], ratio[16];
        snprintf(figure, sizeof(figure), "%.*f %s", r.decimals, r.figure, r.unit);
        snprintf(floor, sizeof(floor), "%.*f %s", r.decimals, r.floor, r.unit);
        if (r.floor > 0)
            snprintf(ratio, sizeof(ratio), "%.2f", r.figure / r.floor);
        else
            snprintf(ratio, sizeof(ratio), "-");
        printf("| %-52s | %14s | %14s | %7s |\n", r.what.c_str(), figure, floor, ratio);
    }
    fflush(stdout);
}

// --- allocation counter ------------------------------------------------------

namespace allocs {
namespace {

typedef PVOID(WINAPI *AllocFn)(HANDLE heap, ULONG flags, SIZE_T size);
typedef PVOID(WINAPI *ReAllocFn)(HANDLE heap, ULONG flags, PVOID block, SIZE_T size);

AllocFn g_alloc = NULL;
ReAllocFn g_realloc = NULL;
std::atomic<bool> g_counting(false);

// Per-thread counts in a fixed table: the hook itself must not allocate.
enum { THREAD_SLOTS = 64, CALLER_SLOTS = 16 };
struct ThreadCount {
    std::atomic<DWORD> threadId;
    std::atomic<LONG> count;
};
ThreadCount g_threads[THREAD_SLOTS];
std::atomic<LONG> g_overflow(0);

struct Caller {
    void *address;
    DWORD threadId;
    SIZE_T size;
};
Caller g_callers[CALLER_SLOTS];
std::atomic<LONG> g_callerCount(0);

void Note(void *caller, SIZE_T size)
{
    const DWORD self = GetCurrentThreadId();
    bool counted = false;
    for (ThreadCount &t : g_threads) {
        DWORD id = t.threadId.load();
        if (id == 0) {
            DWORD expected = 0;
            if (t.threadId.compare_exchange_strong(expected, self))
                id = self;
            else
                id = expected;
        }
        if (id == self) {
            ++t.count;
            counted = true;
            break;
        }
    }
    if (!counted)
        ++g_overflow;
    const LONG n = g_callerCount++;
    if (n < CALLER_SLOTS) {
        g_callers[n].address = caller;
        g_callers[n].threadId = self;
        g_callers[n].size = size;
    }
}

PVOID WINAPI CountedAlloc(HANDLE heap, ULONG flags, SIZE_T size)
{
    if (g_counting.load(std::memory_order_relaxed))
        Note(BENCH_RETURN_ADDRESS(), size);
    return g_alloc(heap, flags, size);
}

PVOID WINAPI CountedReAlloc(HANDLE heap, ULONG flags, PVOID block, SIZE_T size)
{
    if (g_counting.load(std::memory_order_relaxed))
        Note(BENCH_RETURN_ADDRESS(), size);
    return g_realloc(heap, flags, block, size);
}

void Redirect(ULONG_PTR *slot, ULONG_PTR to)
{
    DWORD old = 0;
    if (VirtualProtect(slot, sizeof(*slot), PAGE_READWRITE, &old)) {
        *slot = to;
        VirtualProtect(slot, sizeof(*slot), old, &old);
    }
}

void HookModule(HMODULE module)
{
    BYTE *base = reinterpret_cast<BYTE *>(module);
    const IMAGE_DOS_HEADER *dos = reinterpret_cast<const IMAGE_DOS_HEADER *>(base);
    if (dos->e_magic != IMAGE_DOS_SIGNATURE)
        return;
    const IMAGE_NT_HEADERS *nt = reinterpret_cast<const IMAGE_NT_HEADERS *>(base + dos->e_lfanew);
    if (nt->Signature != IMAGE_NT_SIGNATURE)
        return;
    const IMAGE_DATA_DIRECTORY &dir =
        nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (!dir.VirtualAddress || !dir.Size)
        return;
    const IMAGE_IMPORT_DESCRIPTOR *desc =
        reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR *>(base + dir.VirtualAddress);
    for (; desc->Name; ++desc) {
        ULONG_PTR *slot = reinterpret_cast<ULONG_PTR *>(base + desc->FirstThunk);
        for (; *slot; ++slot) {
            if (*slot == reinterpret_cast<ULONG_PTR>(g_alloc))
                Redirect(slot, reinterpret_cast<ULONG_PTR>(CountedAlloc));
            else if (*slot == reinterpret_cast<ULONG_PTR>(g_realloc))
                Redirect(slot, reinterpret_cast<ULONG_PTR>(CountedReAlloc));
        }
    }
}

}  // namespace

void Hook()
{
    if (!g_alloc) {
        HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
        g_alloc = reinterpret_cast<AllocFn>(
            reinterpret_cast<void *>(GetProcAddress(ntdll, "RtlAllocateHeap")));
        g_realloc = reinterpret_cast<ReAllocFn>(
            reinterpret_cast<void *>(GetProcAddress(ntdll, "RtlReAllocateHeap")));
        if (!g_alloc || !g_realloc)
            return;
    }
    HMODULE modules[512];
    DWORD needed = 0;
    if (!EnumProcessModules(GetCurrentProcess(), modules, sizeof(modules), &needed))
        return;
    const DWORD count = std::min<DWORD>(needed / sizeof(HMODULE), 512);
    for (DWORD i = 0; i < count; ++i)
        HookModule(modules[i]);
}

void Start()
{
    g_counting = false;
    for (ThreadCount &t : g_threads) {
        t.threadId = 0;
        t.count = 0;
    }
    g_overflow = 0;
    g_callerCount = 0;
    g_counting = true;
}

void Stop()
{
    g_counting = false;
}

LONG OnThread(DWORD threadId)
{
    for (ThreadCount &t : g_threads)
        if (t.threadId == threadId)
            return t.count;
    return 0;
}

LONG Total()
{
    LONG n = g_overflow;
    for (ThreadCount &t : g_threads)
        n += t.count;
    return n;
}

LONG Others(const std::vector<DWORD> &except)
{
    LONG n = g_overflow;
    for (ThreadCount &t : g_threads)
        if (std::find(except.begin(), except.end(), t.threadId.load()) == except.end())
            n += t.count;
    return n;
}

std::vector<std::string> Callers()
{
    std::vector<std::string> out;
    const LONG n = std::min<LONG>(g_callerCount, CALLER_SLOTS);
    for (LONG i = 0; i < n; ++i) {
        HMODULE module = NULL;
        char name[MAX_PATH] = "?";
        GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                               GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                           static_cast<LPCSTR>(g_callers[i].address), &module);
        if (module)
            GetModuleFileNameA(module, name, sizeof(name));
        const char *leaf = strrchr(name, '\\');
        char line[MAX_PATH + 64];
        snprintf(line, sizeof(line), "%s+0x%llx (thread %lu, %llu bytes)", leaf ? leaf + 1 : name,
                 static_cast<unsigned long long>(static_cast<BYTE *>(g_callers[i].address) -
                                                 reinterpret_cast<BYTE *>(module)),
                 static_cast<unsigned long>(g_callers[i].threadId),
                 static_cast<unsigned long long>(g_callers[i].size));
        out.push_back(line);
    }
    return out;
}

namespace {
void *volatile g_keep = NULL;  // keeps the compiler from dropping the check's allocations

DWORD WINAPI AllocateOnce(LPVOID)
{
    g_keep = malloc(64);
    free(g_keep);
    return 0;
}
}  // namespace

bool SelfCheck()
{
    Hook();
    DWORD workerId = 0;
    HANDLE worker = CreateThread(NULL, 0, AllocateOnce, NULL, CREATE_SUSPENDED, &workerId);
    if (!worker)
        return false;
    Start();
    g_keep = HeapAlloc(GetProcessHeap(), 0, 64);
    HeapFree(GetProcessHeap(), 0, g_keep);
    g_keep = malloc(64);
    free(g_keep);
    g_keep = CoTaskMemAlloc(64);
    CoTaskMemFree(g_keep);
    g_keep = new int[16];
    delete[] static_cast<int *>(g_keep);
    ResumeThread(worker);
    WaitForSingleObject(worker, INFINITE);
    Stop();
    CloseHandle(worker);
    const LONG here = OnThread(GetCurrentThreadId());
    const LONG there = OnThread(workerId);
    printf("allocation counter check: %ld counted for 4 allocations on this thread, %ld for 1 "
           "on another\n",
           static_cast<long>(here), static_cast<long>(there));
    return here >= 4 && there >= 1;
}

LONG BusyBlocks()
{
    HANDLE heaps[64];
    const DWORD count = std::min<DWORD>(GetProcessHeaps(64, heaps), 64);
    LONG busy = 0;
    for (DWORD i = 0; i < count; ++i) {
        if (!HeapLock(heaps[i]))
            continue;
        PROCESS_HEAP_ENTRY entry;
        entry.lpData = NULL;
        while (HeapWalk(heaps[i], &entry))
            if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY)
                ++busy;
        HeapUnlock(heaps[i]);
    }
    return busy;
}

}  // namespace allocs
}  // namespace bench

int main(int argc, char **argv)
{
    bool frames = true, page = true, keeper = true;
    if (argc > 1) {
        frames = strcmp(argv[1], "frames") == 0;
        page = strcmp(argv[1], "page") == 0;
        keeper = strcmp(argv[1], "keeper") == 0;
    }
    std::vector<bench::Row> frameRows, loopRows, pageRows, keeperRows;
    bool ok = true;
    if (frames)
        ok = bench::RunFramePath(frameRows, loopRows) && ok;
    if (page)
        ok = bench::RunPage(pageRows) && ok;
    if (keeper)
        ok = bench::RunKeeper(keeperRows) && ok;
    if (frames) {
        bench::PrintTable("Frame path: median per displayed frame, against a bare memcpy of the "
                          "same bytes",
                          frameRows);
        bench::PrintTable("Poll loop: refreshes in a 3 s run against 1000 / DISP_INTERVAL, and "
                          "heap allocations per frame",
                          loopRows);
    }
    if (page)
        bench::PrintTable("Camera Setting page: median, against the real pauses plus the same "
                          "requests sent straight to the driver",
                          pageRows);
    if (keeper)
        bench::PrintTable("Camera Settings Keeper: a replug's restore (median of 5) against the "
                          "Default button's sequence; idle over 60 s with one camera",
                          keeperRows);
    return ok ? 0 : 1;
}
