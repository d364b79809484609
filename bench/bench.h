// bench.h - what the benchmarks share: a performance-counter clock, medians,
// the result table and the heap allocation counter.
#ifndef VIREO_BENCH_BENCH_H
#define VIREO_BENCH_BENCH_H

#include <windows.h>

#include <string>
#include <vector>

namespace bench {

// Microseconds since an arbitrary start, from QueryPerformanceCounter.
double NowUs();

// Median of the samples; 0 for none.
double Median(std::vector<double> samples);

// One row of a result table: what was measured, its figure, the floor it is
// compared with and the unit of both.
struct Row {
    std::string what;
    double figure;
    double floor;
    const char *unit;
    int decimals;
};

// Prints a titled table with the columns figure, floor and ratio.
void PrintTable(const char *title, const std::vector<Row> &rows);

// Counts calls of the process's heap allocator (RtlAllocateHeap and
// RtlReAllocateHeap, which HeapAlloc, malloc, operator new and CoTaskMemAlloc
// all end in) by redirecting the import address table entries of every
// loaded module. Counts are kept per thread while counting is on.
namespace allocs {
// Redirects the entries of every module loaded now (again after new loads).
void Hook();
void Start();  // clears the counts and starts counting
void Stop();
LONG OnThread(DWORD threadId);  // allocations counted on that thread
LONG Total();
// Allocations on threads other than those given.
LONG Others(const std::vector<DWORD> &except);
// The callers of the first counted allocations: "module+offset (thread)".
std::vector<std::string> Callers();
// Proves the counter sees allocations: HeapAlloc, malloc, CoTaskMemAlloc and
// new on this thread, malloc on another. Prints what it saw.
bool SelfCheck();
// Busy blocks in all heaps of the process, by HeapWalk: a second view that
// also sees blocks allocated where no import is redirected.
LONG BusyBlocks();
}  // namespace allocs

// Frame path: capview's graph, poll loop and window on the simulated camera,
// for each frame size. Appends its rows to the two tables.
bool RunFramePath(std::vector<Row> &frameRows, std::vector<Row> &loopRows);

// The "Camera Setting" page on the simulated camera, with its real pauses.
bool RunPage(std::vector<Row> &pageRows);

// The Camera Settings Keeper (vireokeep.exe beside the benchmark) on the
// simulated camera: a replug's restore against the Default sequence, and
// its cost while idle.
bool RunKeeper(std::vector<Row> &keeperRows);

}  // namespace bench

#endif  // VIREO_BENCH_BENCH_H
