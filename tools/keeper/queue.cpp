// queue.cpp - the worker's queue, its retries, and the table of cameras that
// decides when one may be saved: one table of each camera's phases.
#include <algorithm>
#include <set>

#include "keeper.h"

namespace keeper {

namespace {

const DWORD kFirstPause = 250;
const DWORD kLongestPause = 2000;

bool Merges(const Item &pending, const Item &item)
{
    if (pending.work != item.work)
        return false;
    if (item.work == Work::Remember || item.work == Work::RestoreAll || item.work == Work::Enforce)
        return true;
    return item.work == Work::Restore && Cameras::Key(pending.id) == Cameras::Key(item.id);
}

}  // namespace

DWORD RetryPause(unsigned attempt)
{
    DWORD pause = kFirstPause;
    for (unsigned i = 1; i < attempt && pause < kLongestPause; ++i)
        pause *= 2;
    return std::min(pause, kLongestPause);
}

bool Queue::Push(const Item &item)
{
    {
        std::lock_guard<std::mutex> hold(m_lock);
        for (Item &pending : m_items) {
            if (!Merges(pending, item))
                continue;
            pending.notBefore = std::min(pending.notBefore, item.notBefore);
            if (item.work == Work::Restore && item.attempt == 0) {
                // A new return of the camera: its retries start afresh.
                pending.attempt = 0;
                pending.deadline = 0;
                pending.reason = item.reason;
            }
            ++m_changes;
            m_wake.notify_all();
            return false;
        }
        m_items.push_back(item);
        ++m_changes;
    }
    m_wake.notify_all();
    return true;
}

bool Queue::TakeDue(ULONGLONG now, Item *item)
{
    std::lock_guard<std::mutex> hold(m_lock);
    return TakeLocked(now, item);
}

bool Queue::TakeLocked(ULONGLONG now, Item *item)
{
    for (auto it = m_items.begin(); it != m_items.end(); ++it) {
        if (it->notBefore <= now) {
            *item = *it;
            m_items.erase(it);
            return true;
        }
    }
    return false;
}

Item Queue::Wait()
{
    std::unique_lock<std::mutex> hold(m_lock);
    for (;;) {
        Item item;
        const ULONGLONG now = GetTickCount64();
        if (TakeLocked(now, &item))
            return item;
        const unsigned long changes = m_changes;
        auto changed = [&] { return m_changes != changes; };
        if (m_items.empty()) {
            m_wake.wait(hold, changed);
            continue;
        }
        ULONGLONG first = m_items.front().notBefore;
        for (const Item &pending : m_items)
            first = std::min(first, pending.notBefore);
        m_wake.wait_for(hold, std::chrono::milliseconds(first - now), changed);
    }
}

size_t Queue::Size() const
{
    std::lock_guard<std::mutex> hold(m_lock);
    return m_items.size();
}

// The transitions of one camera. Rows: the phase; columns: the event in the
// order of Event.
Phase Next(Phase phase, Event event)
{
    const Phase A = Phase::Absent, Rt = Phase::Returning, Rs = Phase::Restoring, K = Phase::Kept,
                H = Phase::Held, G = Phase::GivenUp;
    // clang-format off
    static const Phase kTable[6][10] = {
        //            Arrived Removed Seen Missing Restore Begin Done Retry GiveUp Hold
        /* absent */    {Rt,  A,      Rt,  A,      A,      A,    A,   A,    A,     A},
        /* returning */ {Rt,  A,      Rt,  A,      Rt,     Rs,   Rt,  Rt,   Rt,    H},
        /* restoring */ {Rs,  A,      Rs,  A,      Rt,     Rs,   K,   Rt,   G,     H},
        /* kept */      {Rt,  A,      K,   A,      Rt,     K,    K,   K,    K,     H},
        /* held */      {Rt,  A,      H,   A,      Rt,     H,    H,   H,    H,     H},
        /* given up */  {Rt,  A,      G,   A,      Rt,     G,    G,   G,    G,     G},
    };
    // clang-format on
    return kTable[static_cast<int>(phase)][static_cast<int>(event)];
}

const char *PhaseName(Phase phase)
{
    static const char *const kNames[] = {"absent", "returning", "restoring",
                                         "kept",   "held",      "given up"};
    return kNames[static_cast<int>(phase)];
}

DWORD SettleWait(ULONGLONG first, ULONGLONG last, ULONGLONG now)
{
    const ULONGLONG end = std::min(last + kSettleMs, first + kSettleMostMs);
    return now >= end ? 0 : static_cast<DWORD>(end - now);
}

std::wstring NormalName(const std::wstring &name)
{
    std::wstring out = name;
    for (wchar_t &c : out)
        if (c < L' ' || c == 0x7F)
            c = L' ';
    const size_t first = out.find_first_not_of(L' ');
    if (first == std::wstring::npos)
        return std::wstring();
    return out.substr(first, out.find_last_not_of(L' ') - first + 1);
}

std::wstring Cameras::Key(const std::wstring &id)
{
    wchar_t key[VIREO_ID_CAPACITY];
    VireoCameraIdKey(id.c_str(), key, VIREO_ID_CAPACITY);
    return key;
}

Cameras::State &Cameras::At(const std::wstring &id)
{
    State &state = m_states[Key(id)];
    if (state.id.empty())
        state.id = id;
    return state;
}

void Cameras::ApplyLocked(State &state, Event event)
{
    const Phase next = Next(state.phase, event);
    if (next == state.phase)
        return;  // e.g. a second interface class's arrival during a restore
    state.phase = next;
    if (next == Phase::Absent) {
        state.iface = false;
        state.arrivedAt = 0;
    }
    ++state.generation;
}

unsigned Cameras::Apply(const std::wstring &id, Event event)
{
    std::lock_guard<std::mutex> hold(m_lock);
    State &state = At(id);
    ApplyLocked(state, event);
    return state.generation;
}

bool Cameras::Arrive(const std::wstring &id, ULONGLONG now)
{
    std::lock_guard<std::mutex> hold(m_lock);
    State &state = At(id);
    if (state.arrivedAt && now - state.arrivedAt < kSameArrivalMs)
        return false;
    state.arrivedAt = now;
    ApplyLocked(state, Event::Arrived);
    return true;
}

bool Cameras::Finish(const std::wstring &id, Event event, unsigned begun)
{
    std::lock_guard<std::mutex> hold(m_lock);
    State &state = At(id);
    if (state.generation != begun)
        return false;
    ApplyLocked(state, event);
    return true;
}

void Cameras::HoldAll()
{
    std::lock_guard<std::mutex> hold(m_lock);
    for (auto &entry : m_states)
        ApplyLocked(entry.second, Event::Hold);
}

std::vector<std::wstring> Cameras::Seen(const std::vector<std::wstring> &ids)
{
    std::lock_guard<std::mutex> hold(m_lock);
    std::vector<std::wstring> returning;
    std::set<std::wstring> seen;
    for (const std::wstring &id : ids) {
        if (!seen.insert(Key(id)).second)
            continue;
        State &state = At(id);
        const Phase before = state.phase;
        if (Next(before, Event::Seen) == before)
            continue;  // nothing happened to it
        ApplyLocked(state, Event::Seen);
        returning.push_back(state.id);
    }
    for (auto &entry : m_states)
        if (entry.second.phase != Phase::Absent && !seen.count(entry.first))
            ApplyLocked(entry.second, Event::Missing);
    return returning;
}

std::vector<std::wstring> Cameras::RestoreEvery()
{
    std::lock_guard<std::mutex> hold(m_lock);
    std::vector<std::wstring> ids;
    for (auto &entry : m_states) {
        if (entry.second.phase == Phase::Absent)
            continue;
        ApplyLocked(entry.second, Event::Restore);
        ids.push_back(entry.second.id);
    }
    return ids;
}

Phase Cameras::PhaseOf(const std::wstring &id) const
{
    std::lock_guard<std::mutex> hold(m_lock);
    auto it = m_states.find(Key(id));
    return it == m_states.end() ? Phase::Absent : it->second.phase;
}

unsigned Cameras::Generation(const std::wstring &id) const
{
    std::lock_guard<std::mutex> hold(m_lock);
    auto it = m_states.find(Key(id));
    return it == m_states.end() ? 0 : it->second.generation;
}

bool Cameras::MaySave(const std::wstring &id, unsigned generation) const
{
    std::lock_guard<std::mutex> hold(m_lock);
    auto it = m_states.find(Key(id));
    return it != m_states.end() && it->second.phase == Phase::Kept &&
           it->second.generation == generation;
}

void Cameras::Answered(const std::wstring &id, const std::wstring &name, bool iface)
{
    std::lock_guard<std::mutex> hold(m_lock);
    State &state = At(id);
    state.name = name;
    state.iface = iface;
}

std::vector<Cameras::Entry> Cameras::Offering() const
{
    std::lock_guard<std::mutex> hold(m_lock);
    std::vector<Entry> out;
    for (const auto &entry : m_states)
        if (entry.second.phase != Phase::Absent && entry.second.iface)
            out.push_back({entry.second.id, entry.second.name});
    return out;
}

}  // namespace keeper
