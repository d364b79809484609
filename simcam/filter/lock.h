// lock.h - the filter's critical sections, held through std::lock_guard (a
// scope holds one from its start to its end, on every path).
#ifndef SIMCAM_LOCK_H
#define SIMCAM_LOCK_H

#include <windows.h>

#include <mutex>

// A critical section of its own for the life of the owner; as every
// critical section, one thread may enter it again while it holds it.
class SimCriticalSection {
public:
    SimCriticalSection() { InitializeCriticalSection(&m_section); }
    ~SimCriticalSection() { DeleteCriticalSection(&m_section); }
    SimCriticalSection(const SimCriticalSection &) = delete;
    SimCriticalSection &operator=(const SimCriticalSection &) = delete;

    // For std::lock_guard.
    void lock() { EnterCriticalSection(&m_section); }
    void unlock() { LeaveCriticalSection(&m_section); }

private:
    CRITICAL_SECTION m_section;
};

typedef std::lock_guard<SimCriticalSection> SimHold;

#endif  // SIMCAM_LOCK_H
