// keeper.h - the Camera Settings Keeper without its window: the work queue
// and its retries, the table that decides when a camera may be saved and
// when it needs a restore, the log, and the worker thread that talks to the
// cameras. The window (main.cpp) only turns messages into calls of Keeper's
// On... functions, which never wait on a camera.
#ifndef VIREO_KEEPER_KEEPER_H
#define VIREO_KEEPER_KEEPER_H

#include <windows.h>

#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "vireocamera.h"

namespace keeper {

// The pause before retry number attempt (1 the first) of a camera that does
// not answer yet: 250 ms, doubling, at most 2 s; retries stop kRetryWindowMs
// after the first attempt.
DWORD RetryPause(unsigned attempt);
const DWORD kRetryWindowMs = 15000;

enum class Work {
    Restore,     // one camera's profile onto it (id)
    RestoreAll,  // every present camera's
    Remember,    // every camera's values read, saved where they changed
    SaveAll,     // the same on lock, suspend and end (hold: no saves afterwards)
    Defaults,    // one camera's factory values (id)
    Quit         // the worker ends
};

struct Item {
    Work work = Work::Remember;
    std::wstring id;          // Restore, Defaults
    std::string reason;       // for the log: "start", "arrival", "resume", ...
    bool hold = false;        // SaveAll: hold every save until the next restore
    ULONGLONG notBefore = 0;  // a retry's time (GetTickCount64)
    ULONGLONG deadline = 0;   // Restore: the end of its retries
    unsigned attempt = 0;     // Restore: retries so far
};

// The worker's queue. One pending restore per camera (ids compared
// case-insensitively), one pending Remember and one pending RestoreAll: a
// second one is merged into the pending one (a merged restore is due at
// once). Items leave in their order, each once it is due; times are the
// caller's, so the order can be followed without a clock.
class Queue {
public:
    // False when the item was merged into a pending one.
    bool Push(const Item &item);
    // The first due item at time now; false when none is due.
    bool TakeDue(ULONGLONG now, Item *item);
    // The earliest time an item is due (now when one already is); false
    // when the queue is empty.
    bool NextDue(ULONGLONG now, ULONGLONG *when) const;
    // Blocks until an item is due (on GetTickCount64) and takes it.
    Item Wait();
    size_t Size() const;

private:
    bool TakeLocked(ULONGLONG now, Item *item);
    mutable std::mutex m_lock;
    std::condition_variable m_wake;
    std::deque<Item> m_items;
    unsigned long m_changes = 0;  // pushes and merges
};

// What the keeper knows of each camera, and the rules of saving: a camera
// is saved only while it is present, not held, and nothing happened to it
// while its values were read (its generation is unchanged). It is held from
// its return (arrival, start, resume, unlock, a removal before it, a first
// sight in a reading) until the end of its restore; everything is held
// after a suspend until the next restore of all.
class Cameras {
public:
    struct Entry {
        std::wstring id;
        std::wstring name;
    };
    // Ids of one camera share their key.
    static std::wstring Key(const std::wstring &id);

    // The camera returned: held until a restore of it ends.
    void Returned(const std::wstring &id);
    void Removed(const std::wstring &id);
    // Every camera, and any camera seen before the next Seen, is held.
    void HoldAll();
    // The ids present in a reading of the devices: those not present
    // before (their restore is due; they are held) are returned; the
    // others are marked absent. With release, the hold of HoldAll ends.
    std::vector<std::wstring> Seen(const std::vector<std::wstring> &ids, bool release);
    // Every present camera (held now), for a restore of all.
    std::vector<std::wstring> Present() const;

    // Before reading a camera: its generation; after: whether the values
    // read may be saved.
    unsigned Generation(const std::wstring &id) const;
    bool MaySave(const std::wstring &id, unsigned generation) const;
    // A restore that began at generation ended (restored, no profile, a bad
    // profile, not kept): the camera is saved again unless it returned
    // meanwhile.
    void RestoreEnded(const std::wstring &id, unsigned generation);
    // A restore given up: the camera stays held and its next sight in a
    // reading brings another restore.
    void RestoreGivenUp(const std::wstring &id);

    // The cameras that answered with IFace in the last reading, for the menu.
    void Answered(const std::wstring &id, const std::wstring &name, bool iface);
    std::vector<Entry> Offering() const;

private:
    struct State {
        bool present = false;
        bool held = true;
        bool iface = false;
        unsigned generation = 0;
        std::wstring id, name;
    };
    State &At(const std::wstring &id);
    mutable std::mutex m_lock;
    std::map<std::wstring, State> m_states;
    bool m_holdAll = false;
};

// keeper.log: UTF-8, one line per event with the local time; when a line
// would take it past limit bytes, the file becomes keeper.log.1 first.
class Log {
public:
    explicit Log(const std::wstring &path, ULONGLONG limit = 1024 * 1024);
    void Write(const std::wstring &line);
    const std::wstring &Path() const { return m_path; }

private:
    std::mutex m_lock;
    std::wstring m_path;
    ULONGLONG m_limit;
};

// The keeper: events in, work on the worker thread.
class Keeper {
public:
    explicit Keeper(Log *log);
    ~Keeper();
    // Starts the worker and queues the restore of every present camera.
    void Start();
    // The window that hears of a change of the cameras offering IFace
    // (message posted, no parameters).
    void Notify(HWND window, UINT message);

    void OnArrival(const wchar_t *devicePath);
    void OnRemoval(const wchar_t *devicePath);
    void OnSuspend();
    void OnResume(const char *reason);  // resume, unlock, console connect
    void OnLock();
    void OnTimer();
    void OnRestoreNow(const std::wstring &id);
    void OnDefaults(const std::wstring &id);
    // Saves every camera and ends the worker (waits up to timeoutMs).
    void Stop(const char *reason, DWORD timeoutMs = 10000);

    std::vector<Cameras::Entry> Offering() const { return m_cameras.Offering(); }

private:
    static DWORD WINAPI Worker(void *self);
    void Run();
    void Restore(Item item);
    void RestoreAll(const Item &item);
    void Remember(const Item &item);
    void Defaults(const Item &item);
    std::vector<std::wstring> DeviceIds();
    void QueueRestore(const std::wstring &id, const char *reason);
    void Changed();
    void SetAside(const std::wstring &path, const VireoProfileProblem &problem,
                  const std::wstring &id);
    bool SameAsSaved(const std::wstring &path, const VireoProfile &profile, const std::wstring &id);

    Log *m_log;
    Queue m_queue;
    Cameras m_cameras;
    HANDLE m_worker = NULL;
    HWND m_notifyWindow = NULL;
    UINT m_notifyMessage = 0;
};

// Text for the log: UTF-8 from UTF-16 and back.
std::string Utf8(const std::wstring &text);
std::wstring Wide(const std::string &utf8);

}  // namespace keeper

#endif  // VIREO_KEEPER_KEEPER_H
