// keeper.h - the Camera Settings Keeper without its window: the work queue
// and its retries, each camera's phase (one table: when it may be saved and
// when it needs a restore), the log, the worker thread that talks to the
// cameras and the listener that hears of changes made through IFace. The
// window (main.cpp) only turns messages into calls of Keeper's On...
// functions, which never wait on a camera.
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

// Changes settle before the cameras are read: kSettleMs after the last
// change signal, at most kSettleMostMs after the first. The time still to
// wait at now (0: read now).
const DWORD kSettleMs = 300;
const DWORD kSettleMostMs = 2000;
const DWORD kSameArrivalMs = 2000;
// A reading whose save failed is tried again this many times.
const unsigned kSaveAttempts = 4;
DWORD SettleWait(ULONGLONG first, ULONGLONG last, ULONGLONG now);

enum class Work {
    Restore,     // one camera's profile onto it (id)
    RestoreAll,  // every present camera's
    Remember,    // the present, kept cameras read once, saved where they changed
    Defaults,    // one camera's factory values (id)
    Enforce,     // the organization's locked values onto every kept camera
    Quit         // the worker ends
};

struct Item {
    Work work = Work::Remember;
    std::wstring id;          // Restore, Defaults
    std::string reason;       // for the log: "start", "arrival", "resume", ...
    ULONGLONG notBefore = 0;  // a retry's time (GetTickCount64)
    ULONGLONG deadline = 0;   // Restore: the end of its retries
    unsigned attempt = 0;     // Restore, Remember: retries so far
};

// The worker's queue. One pending restore per camera (one id key), one
// pending Remember and one pending RestoreAll: a second one is merged into
// the pending one (a merged restore is due at once). Items leave in their
// order, each once it is due; times are the caller's, so the order can be
// followed without a clock.
class Queue {
public:
    // False when the item was merged into a pending one.
    bool Push(const Item &item);
    // The first due item at time now; false when none is due.
    bool TakeDue(ULONGLONG now, Item *item);
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

// Where a camera stands with the keeper. It is saved only when Kept.
enum class Phase {
    Absent,     // not present
    Returning,  // present, its restore queued
    Restoring,  // its restore running
    Kept,       // restored (or nothing to restore): its changes are saved
    Held,       // nothing saved until its next restore (suspend, lock, keep off, ...)
    GivenUp     // its restore given up: held until a new event of the camera
};

// What happens to a camera: its device messages and readings, a restore
// asked for (start, resume, unlock, keep on, the menu), the steps of its
// restore, a hold.
enum class Event {
    Arrived,  // a device message (one per interface class: one restore)
    Removed,  // a device message
    Seen,     // present in a reading of the devices
    Missing,  // absent from a reading of the devices
    Restore,  // a restore asked for
    Begin,    // its restore starts
    Done,     // its restore ended: restored, nothing to restore
    Retry,    // its restore is tried again later
    GiveUp,   // its restore given up
    Hold      // nothing saved until the next restore
};

// The one table of transitions.
Phase Next(Phase phase, Event event);
const char *PhaseName(Phase phase);

// The name of a camera as the profile keeps it: control characters as
// spaces, no spaces at either end.
std::wstring NormalName(const std::wstring &name);

// Every camera's phase, and a generation that grows with every event of it,
// so that what was read at one generation is saved only when nothing
// happened since.
class Cameras {
public:
    struct Entry {
        std::wstring id;
        std::wstring name;
    };
    // Ids of one camera share their key.
    static std::wstring Key(const std::wstring &id);

    // Applies event; returns the camera's generation after it.
    unsigned Apply(const std::wstring &id, Event event);
    // A device message of the camera's arrival at time now: Arrived, unless
    // it is the same arrival under another interface class (within
    // kSameArrivalMs of the last one, with no removal between); false then.
    bool Arrive(const std::wstring &id, ULONGLONG now);
    // Applies a restore's end (Done, Retry, GiveUp, Hold) only when nothing
    // happened to the camera since its Begin at generation begun.
    bool Finish(const std::wstring &id, Event event, unsigned begun);
    // Hold on every camera.
    void HoldAll();
    // A reading of the devices: Seen for those in ids, Missing for the
    // others; returns those that became Returning (their restore is due).
    std::vector<std::wstring> Seen(const std::vector<std::wstring> &ids);
    // Restore on every present camera; returns those now Returning.
    std::vector<std::wstring> RestoreEvery();

    Phase PhaseOf(const std::wstring &id) const;
    unsigned Generation(const std::wstring &id) const;
    // Kept, and nothing happened since generation.
    bool MaySave(const std::wstring &id, unsigned generation) const;

    // The cameras that answered with IFace in the last reading, for the menu.
    void Answered(const std::wstring &id, const std::wstring &name, bool iface);
    std::vector<Entry> Offering() const;

private:
    struct State {
        Phase phase = Phase::Absent;
        bool iface = false;
        unsigned generation = 0;
        ULONGLONG arrivedAt = 0;  // 0: none since the last removal
        std::wstring id, name;
    };
    State &At(const std::wstring &id);
    void ApplyLocked(State &state, Event event);
    mutable std::mutex m_lock;
    std::map<std::wstring, State> m_states;
};

// keeper.log: UTF-8, one line per event with the local time; when a line
// would take it past limit bytes, the file becomes keeper.log.1 first.
class Log {
public:
    explicit Log(const std::wstring &path, ULONGLONG limit = 1024 * 1024);
    void Write(const std::wstring &line);
    const std::wstring &Path() const { return m_path; }

private:
    void TurnOver();
    std::mutex m_lock;
    std::wstring m_path;
    ULONGLONG m_limit;
};

// The organization's policy as the keeper follows it. A locked control is
// never the user's choice: a reading keeps the user's own value of it from
// the saved profile (none there: the control is left out).
void KeepUsersOwn(VireoProfile *reading, const VireoProfile *saved, const VireoPolicy &policy);
// Whether a reading holds a locked control at another value.
bool LeftElsewhere(const VireoProfile &reading, const VireoPolicy &policy);
// Whether every value of reading is in saved, the same, and both are of one
// camera (its id, and its name in one form).
bool SameValues(const VireoProfile &saved, const VireoProfile &reading);
// For the log: "EXPOSURE=800, PRIVACY=1", or "none".
std::wstring PolicyValues(ULONG mask, const LONG *values);

// Whether this process's session is the console's (the one that saves).
typedef bool (*ConsoleCheck)(DWORD *mine, DWORD *console);
bool AtConsole(DWORD *mine, DWORD *console);

// The keeper: events in, work on the worker thread, change signals heard
// on a thread of their own.
class Keeper {
public:
    explicit Keeper(Log *log, ConsoleCheck console = AtConsole);
    // Stop must have ended the worker (or the process exits instead).
    ~Keeper();
    // Starts the worker and the listener, and queues the restore of every
    // present camera.
    void Start();
    // The window that hears of a change of the cameras offering IFace
    // (message posted, no parameters).
    void Notify(HWND window, UINT message);

    void OnArrival(const wchar_t *devicePath);
    void OnRemoval(const wchar_t *devicePath);
    // Suspend, lock, console disconnect, session end, keeping turned off:
    // every camera held before this returns.
    void OnHold(const char *reason);
    // Resume, unlock, console connect, keeping turned on.
    void OnResume(const char *reason);
    // Keeping turned on or off (the menu, vireoctl keep on|off).
    void OnKeep(int keep);
    void OnRestoreNow(const std::wstring &id);
    void OnDefaults(const std::wstring &id);
    // A change signal (the listener calls it; tests may too): the cameras
    // are read once the changes settle.
    void OnChanged();
    // Ends the listener and the worker (a change still settling is saved
    // first); false when the worker did not end within timeoutMs.
    bool Stop(const char *reason, DWORD timeoutMs = 10000);

    std::vector<Cameras::Entry> Offering() const { return m_cameras.Offering(); }
    Phase PhaseOf(const std::wstring &id) const { return m_cameras.PhaseOf(id); }

private:
    static DWORD WINAPI Worker(void *self);
    static DWORD WINAPI Listener(void *self);
    void Run();
    void Listen();
    void ListenUntilQuit();
    void PolicyChanged();
    void WatchSettings();
    bool Settle();
    void Restore(Item item);
    bool RestoreReady(const Item &item, unsigned begun);
    // What a restore starts from: the profile, or the recommended values of
    // a camera with no profile (a profile that could not be read: nothing
    // but the locked values).
    enum class From { Profile, Recommended, LockedOnly };
    bool RestoreFrom(const Item &item, unsigned begun, From from, VireoProfile *profile);
    HRESULT ApplyProfile(const Item &item, From from, VireoProfile *profile, std::wstring *name,
                         bool *notYet);
    HRESULT WriteStart(VireoCamera *camera, From from, const VireoPolicy &policy,
                       VireoProfile *profile, std::vector<VireoStep> *steps);
    void LogRestore(VireoCamera *camera, const Item &item, const std::wstring &name, HRESULT hr,
                    const std::vector<VireoStep> &steps);
    // The locked values onto an opened camera, logged; the SET_DATA sent.
    unsigned WriteLocked(VireoCamera *camera, const VireoPolicy &policy, const std::wstring &id,
                         const std::string &reason, ULONG leftToPolicy, const LONG *profileValues,
                         bool *notYet);
    void Started(VireoCamera *camera, const std::wstring &id, const VireoPolicy &policy);
    void Enforce(const Item &item);
    void RestoreEnded(const Item &item, unsigned begun, Event event, HRESULT result);
    void LeaveAsItIs(const Item &item, unsigned begun, const VireoPolicy &policy);
    void Retry(Item item, unsigned begun, HRESULT hr);
    void RestoreAll(const Item &item);
    void Remember(const Item &item);
    bool RememberOne(const std::wstring &id, const Item &item);  // false: the save failed
    void SaveFailed(const std::wstring &id, HRESULT hr, const char *message);
    void Defaults(const Item &item);
    void QueueRestore(const std::wstring &id, const char *reason);
    void Changed();
    void SetAside(const std::wstring &path, const VireoProfileProblem &problem,
                  const std::wstring &id);
    bool Unchanged(const std::wstring &path, VireoProfile *reading, const VireoPolicy &policy,
                   const std::wstring &id);

    Log *m_log;
    ConsoleCheck m_console;
    Queue m_queue;
    Cameras m_cameras;
    HANDLE m_worker = NULL;
    HANDLE m_listener = NULL;
    HANDLE m_quit = NULL;      // ends the listener
    HANDLE m_changed = NULL;   // the change signal
    HANDLE m_settings = NULL;  // the keeper's registry key changed
    HKEY m_key = NULL;
    volatile LONG m_keep = 1;
    volatile LONG m_settling = 0;  // a change heard, its reading not queued yet
    std::mutex m_failLock;
    std::map<std::wstring, HRESULT> m_saveFailures;  // logged once each
    // What a restore left on a camera with no profile (the recommended or
    // locked values, not the user's choice): not saved until it changes.
    // The worker's only.
    std::map<std::wstring, VireoProfile> m_started;
    VireoPolicyWatch *m_policyWatch = NULL;  // the listener's
    HWND m_notifyWindow = NULL;
    UINT m_notifyMessage = 0;
};

// The cameras present now, one enumeration of the devices.
std::vector<std::wstring> DeviceIds();

// Text for the log: UTF-8 from UTF-16 and back.
std::string Utf8(const std::wstring &text);
std::wstring Wide(const std::string &utf8);

}  // namespace keeper

#endif  // VIREO_KEEPER_KEEPER_H
