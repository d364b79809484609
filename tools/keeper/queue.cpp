// queue.cpp - the worker's queue, its retries, and the table of cameras that
// decides when one may be saved.
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
    if (item.work == Work::Remember || item.work == Work::RestoreAll)
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

bool Queue::NextDue(ULONGLONG now, ULONGLONG *when) const
{
    std::lock_guard<std::mutex> hold(m_lock);
    if (m_items.empty())
        return false;
    ULONGLONG first = m_items.front().notBefore;
    for (const Item &item : m_items)
        first = std::min(first, item.notBefore);
    *when = std::max(first, now);
    return true;
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

std::wstring Cameras::Key(const std::wstring &id)
{
    std::wstring key = id;
    if (!key.empty())
        CharLowerBuffW(&key[0], static_cast<DWORD>(key.size()));
    return key;
}

Cameras::State &Cameras::At(const std::wstring &id)
{
    State &state = m_states[Key(id)];
    if (state.id.empty())
        state.id = id;
    return state;
}

void Cameras::Returned(const std::wstring &id)
{
    std::lock_guard<std::mutex> hold(m_lock);
    State &state = At(id);
    state.present = true;
    state.held = true;
    ++state.generation;
}

void Cameras::Removed(const std::wstring &id)
{
    std::lock_guard<std::mutex> hold(m_lock);
    State &state = At(id);
    state.present = false;
    state.held = true;
    state.iface = false;
    ++state.generation;
}

void Cameras::HoldAll()
{
    std::lock_guard<std::mutex> hold(m_lock);
    m_holdAll = true;
    for (auto &entry : m_states) {
        entry.second.held = true;
        ++entry.second.generation;
    }
}

std::vector<std::wstring> Cameras::Seen(const std::vector<std::wstring> &ids, bool release)
{
    std::lock_guard<std::mutex> hold(m_lock);
    std::vector<std::wstring> newcomers;
    std::set<std::wstring> seen;
    for (const std::wstring &id : ids) {
        seen.insert(Key(id));
        State &state = At(id);
        if (!state.present || m_holdAll) {
            if (!state.present)
                newcomers.push_back(id);
            state.present = true;
            state.held = true;
            ++state.generation;
        }
    }
    for (auto &entry : m_states) {
        if (entry.second.present && !seen.count(entry.first)) {
            entry.second.present = false;
            entry.second.held = true;
            entry.second.iface = false;
            ++entry.second.generation;
        }
    }
    if (release)
        m_holdAll = false;
    return newcomers;
}

std::vector<std::wstring> Cameras::Present() const
{
    std::lock_guard<std::mutex> hold(m_lock);
    std::vector<std::wstring> ids;
    for (const auto &entry : m_states)
        if (entry.second.present)
            ids.push_back(entry.second.id);
    return ids;
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
    return !m_holdAll && it != m_states.end() && it->second.present && !it->second.held &&
           it->second.generation == generation;
}

void Cameras::RestoreEnded(const std::wstring &id, unsigned generation)
{
    std::lock_guard<std::mutex> hold(m_lock);
    State &state = At(id);
    if (state.generation == generation)
        state.held = false;
}

void Cameras::RestoreGivenUp(const std::wstring &id)
{
    std::lock_guard<std::mutex> hold(m_lock);
    State &state = At(id);
    state.present = false;
    state.held = true;
    ++state.generation;
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
        if (entry.second.present && entry.second.iface)
            out.push_back({entry.second.id, entry.second.name});
    return out;
}

}  // namespace keeper
