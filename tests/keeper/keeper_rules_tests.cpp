// The keeper's rules without a window or a camera: the retries' pauses,
// the changes' settling, the queue's order and merging, each camera's
// phases, when it may be saved, names and file names, and the log's
// turnover.
#include <gtest/gtest.h>

#include <windows.h>

#include <stdio.h>

#include <algorithm>
#include <string>
#include <vector>

#include "changesignal.h"
#include "keeper.h"
#include "keeperpaths.h"
#include "tray.h"
#include "wintest.h"

namespace {

using keeper::Item;
using keeper::Work;

Item Make(Work work, const wchar_t *id = L"", ULONGLONG notBefore = 0, unsigned attempt = 0)
{
    Item item;
    item.work = work;
    item.id = id;
    item.notBefore = notBefore;
    item.attempt = attempt;
    return item;
}

TEST(KeeperRules, RetryPausesGrowToTwoSeconds)
{
    const DWORD expected[] = {250, 500, 1000, 2000, 2000, 2000};
    for (unsigned attempt = 1; attempt <= 6; ++attempt)
        EXPECT_EQ(keeper::RetryPause(attempt), expected[attempt - 1]) << attempt;
}

struct QueueCase {
    const char *name;
    std::vector<Item> pushed;
    std::vector<bool> added;        // Push's answers
    ULONGLONG now;                  // taken at this time
    std::vector<std::wstring> ids;  // what leaves, in order (work name for non-restores)
};

std::wstring Label(const Item &item)
{
    switch (item.work) {
    case Work::Restore: return item.id;
    case Work::RestoreAll: return L"all";
    case Work::Remember: return L"remember";
    case Work::Defaults: return L"defaults " + item.id;
    default: return L"quit";
    }
}

TEST(KeeperRules, QueueOrderAndMerging)
{
    const QueueCase cases[] = {
        {"one pending restore per camera, ids of any case",
         {Make(Work::Restore, L"\\\\?\\usb#A"), Make(Work::Restore, L"\\\\?\\USB#a"),
          Make(Work::Restore, L"\\\\?\\usb#b")},
         {true, false, true},
         0,
         {L"\\\\?\\usb#A", L"\\\\?\\usb#b"}},
        {"one pending remember and restore of all",
         {Make(Work::Remember), Make(Work::RestoreAll), Make(Work::Remember),
          Make(Work::RestoreAll)},
         {true, true, false, false},
         0,
         {L"remember", L"all"}},
        {"a retry not yet due lets the others pass",
         {Make(Work::Restore, L"a", 500, 1), Make(Work::Remember), Make(Work::Quit)},
         {true, true, true},
         100,
         {L"remember", L"quit"}},
        {"a new return makes a waiting retry due",
         {Make(Work::Restore, L"a", 500, 3), Make(Work::Restore, L"a", 0, 0)},
         {true, false},
         100,
         {L"a"}},
        {"a retry merged into a pending restore keeps it due",
         {Make(Work::Restore, L"a", 0, 0), Make(Work::Restore, L"a", 900, 1)},
         {true, false},
         100,
         {L"a"}},
        {"factory settings are never merged",
         {Make(Work::Defaults, L"a"), Make(Work::Defaults, L"a")},
         {true, true},
         0,
         {L"defaults a", L"defaults a"}},
    };
    for (const QueueCase &c : cases) {
        keeper::Queue queue;
        for (size_t i = 0; i < c.pushed.size(); ++i)
            EXPECT_EQ(queue.Push(c.pushed[i]), c.added[i]) << c.name << " push " << i;
        std::vector<std::wstring> left;
        Item item;
        while (queue.TakeDue(c.now, &item)) {
            left.push_back(Label(item));
            if (item.work == Work::Restore) {
                EXPECT_EQ(item.attempt, 0u) << c.name;  // a merged return starts afresh
            }
        }
        EXPECT_EQ(left, c.ids) << c.name;
    }
}

// The handler's signal: a successful SET_DATA or SET_ENABLE sets the
// session's event, nothing else does, and the caller's last error stays.
TEST(KeeperRules, TheHandlerSignalsEachChangeOnly)
{
    HANDLE event = CreateEventW(NULL, FALSE, FALSE, VIREO_CHANGE_EVENT);
    ASSERT_TRUE(event != NULL);
    const struct {
        ULONG property, kind;
        HRESULT hr;
        bool block, signalled;
    } cases[] = {
        {VALUE10H, SET_DATA, S_OK, true, true},
        {VALUE20H, SET_ENABLE, S_OK, true, true},
        {VALUE10H, SET_DATA, E_ACCESSDENIED, true, false},  // the camera refused it
        {VALUE10H, SET_DATA, S_OK, false, false},           // no block
        {VALUE10H, GET_ENABLE, S_OK, true, false},
        {VALUE20H, SET_DATA, S_OK, true, false},
        {VALUE30H, SET_DATA, S_OK, true, false},  // an opaque block
    };
    for (const auto &c : cases) {
        ULONG block[8] = {EXPOSURE, c.kind, 500};
        SetLastError(1234);
        SignalChange(c.property, c.block ? block : NULL, c.hr);
        EXPECT_EQ(1234u, GetLastError());
        EXPECT_EQ(c.signalled, WaitForSingleObject(event, 0) == WAIT_OBJECT_0)
            << c.property << " " << c.kind;
    }
    CloseHandle(event);
}

TEST(KeeperRules, ChangesSettleBeforeTheReading)
{
    const struct {
        ULONGLONG first, last, now;
        DWORD wait;
    } cases[] = {
        {1000, 1000, 1000, 300},                           // one change: 300 ms after it
        {1000, 1000, 1300, 0},   {1000, 1200, 1300, 200},  // a later change puts the reading off
        {1000, 2900, 2950, 50},                            // but 2 s after the first, at the latest
        {1000, 2990, 3000, 0},
    };
    for (const auto &c : cases)
        EXPECT_EQ(keeper::SettleWait(c.first, c.last, c.now), c.wait) << c.last << " " << c.now;
}

TEST(KeeperRules, PhaseTransitions)
{
    using keeper::Event;
    using P = keeper::Phase;
    const struct {
        P from;
        Event event;
        P to;
    } cases[] = {
        {P::Absent, Event::Arrived, P::Returning},
        {P::Absent, Event::Seen, P::Returning},  // first sight in a reading
        {P::Absent, Event::Restore, P::Absent},  // nothing to restore onto
        {P::Absent, Event::Hold, P::Absent},
        {P::Returning, Event::Begin, P::Restoring},
        {P::Returning, Event::Hold, P::Held},          // a suspend before its restore
        {P::Restoring, Event::Arrived, P::Restoring},  // another interface class
        {P::Restoring, Event::Done, P::Kept},
        {P::Restoring, Event::Retry, P::Returning},
        {P::Restoring, Event::GiveUp, P::GivenUp},
        {P::Restoring, Event::Restore, P::Returning},  // a resume while it restores
        {P::Restoring, Event::Removed, P::Absent},
        {P::Kept, Event::Seen, P::Kept},
        {P::Kept, Event::Hold, P::Held},
        {P::Kept, Event::Arrived, P::Returning},
        {P::Kept, Event::Missing, P::Absent},
        {P::Held, Event::Seen, P::Held},  // a reading does not end a hold
        {P::Held, Event::Done, P::Held},  // nor a stale restore's end
        {P::Held, Event::Restore, P::Returning},
        {P::GivenUp, Event::Seen, P::GivenUp},  // no restore in a loop
        {P::GivenUp, Event::Hold, P::GivenUp},
        {P::GivenUp, Event::Arrived, P::Returning},
        {P::GivenUp, Event::Restore, P::Returning},
    };
    for (const auto &c : cases)
        EXPECT_EQ(keeper::PhaseName(keeper::Next(c.from, c.event)),
                  std::string(keeper::PhaseName(c.to)))
            << keeper::PhaseName(c.from) << " on event " << static_cast<int>(c.event);
}

// Steps on the table of cameras for camera "a" (its id in either case).
// READ: its values read here (asked at the end whether they may be saved;
// without a READ, values read at the end). BEGIN, END: a restore begun and
// ended later with Done. ARRIVE_LATER: an arrival 5 s after the first.
enum Step {
    SEEN,
    SEEN_NONE,
    ARRIVE,
    ARRIVE_LATER,
    REMOVED,
    HOLD_ALL,
    RESTORE_ALL,
    BEGIN,
    END,
    READ
};

TEST(KeeperRules, WhenACameraMayBeSaved)
{
    const struct {
        const char *name;
        std::vector<Step> steps;
        bool maySave;
    } cases[] = {
        {"first sight: not before its restore", {SEEN}, false},
        {"restored: saved", {SEEN, BEGIN, END}, true},
        {"arrived again: not", {SEEN, BEGIN, END, ARRIVE}, false},
        {"the same arrival under three classes: one restore",
         {ARRIVE, BEGIN, ARRIVE, END, ARRIVE},
         true},
        {"a later arrival: a new restore", {ARRIVE, BEGIN, END, ARRIVE_LATER}, false},
        {"removed and back at once: a new restore", {ARRIVE, BEGIN, END, REMOVED, ARRIVE}, false},
        {"gone from a reading: not", {SEEN, BEGIN, END, SEEN_NONE}, false},
        {"held: not, also after a reading", {SEEN, BEGIN, END, HOLD_ALL, SEEN}, false},
        {"held, then restored: saved", {SEEN, BEGIN, END, HOLD_ALL, RESTORE_ALL, BEGIN, END}, true},
        {"values read before a hold: not",
         {SEEN, BEGIN, END, READ, HOLD_ALL, RESTORE_ALL, BEGIN, END},
         false},
        {"a restore ending after a hold: not", {SEEN, BEGIN, HOLD_ALL, END}, false},
    };
    for (const auto &c : cases) {
        keeper::Cameras cameras;
        unsigned begun = 0, read = 0;
        bool wasRead = false;
        for (Step step : c.steps) {
            switch (step) {
            case SEEN: cameras.Seen({L"a"}); break;
            case SEEN_NONE: cameras.Seen({}); break;
            case ARRIVE: cameras.Arrive(L"A", 1000); break;
            case ARRIVE_LATER: cameras.Arrive(L"a", 6000); break;
            case REMOVED: cameras.Apply(L"a", keeper::Event::Removed); break;
            case HOLD_ALL: cameras.HoldAll(); break;
            case RESTORE_ALL: cameras.RestoreEvery(); break;
            case BEGIN: begun = cameras.Apply(L"a", keeper::Event::Begin); break;
            case END: cameras.Finish(L"A", keeper::Event::Done, begun); break;
            case READ:
                read = cameras.Generation(L"a");
                wasRead = true;
                break;
            }
        }
        EXPECT_EQ(cameras.MaySave(L"a", wasRead ? read : cameras.Generation(L"a")), c.maySave)
            << c.name;
    }
}

TEST(KeeperRules, NamesAndFileNames)
{
    const struct {
        const wchar_t *read, *stored;
    } names[] = {{L"Vireo Camera ", L"Vireo Camera"},
                 {L"\tVireo\x01"
                  L"Camera",
                  L"Vireo Camera"}};
    for (const auto &n : names)
        EXPECT_EQ(keeper::NormalName(n.read), keeper::NormalName(n.stored));

    const std::wstring longId =
        L"\\\\?\\usb#vid_2e9a&pid_0b01&mi_00#" + std::wstring(120, L'7') + L"&0&000";
    const struct {
        std::wstring a, b;
        bool same;
    } ids[] = {
        {L"\\\\?\\USB#VID_2E9A#\x00C9", L"\\\\?\\usb#vid_2e9a#\x00E9", true},  // one folding rule
        {L"\\\\?\\usb#a#{65e8773d-8f56-11d0-a3b9-00a0c9223196}\\global", L"\\\\?\\usb#a", true},
        {longId + L"0", longId + L"1", false},  // twins cut to the same length
    };
    for (const auto &c : ids) {
        wchar_t a[VIREO_KEEPER_NAME_CAPACITY], b[VIREO_KEEPER_NAME_CAPACITY];
        VireoKeeperFileName(c.a.c_str(), a, VIREO_KEEPER_NAME_CAPACITY);
        VireoKeeperFileName(c.b.c_str(), b, VIREO_KEEPER_NAME_CAPACITY);
        EXPECT_EQ(c.same, std::wstring(a) == b) << keeper::Utf8(c.a);
        EXPECT_EQ(c.same, VireoCameraSameId(c.a.c_str(), c.b.c_str()) != 0);
        EXPECT_EQ(c.same, keeper::Cameras::Key(c.a) == keeper::Cameras::Key(c.b));
    }
    wchar_t small[40];
    EXPECT_FALSE(VireoKeeperProfilePath(L"a", small, 40));  // never a cut path
    EXPECT_STREQ(small, L"");
}

TEST(KeeperRules, LogTurnsOverBeforeItsLimitWhileRead)
{
    wchar_t folder[MAX_PATH];
    GetTempPathW(MAX_PATH, folder);
    const std::wstring path = std::wstring(folder) + L"keeper_rules.log";
    DeleteFileW(path.c_str());
    DeleteFileW((path + L".1").c_str());
    keeper::Log log(path, 400);
    log.Write(L"first");
    FILE *reader = _wfopen(path.c_str(), L"rb");  // as vireoctl keep reads it
    for (int i = 0; i < 20; ++i)
        log.Write(L"event " + std::to_wstring(i) + L" \x00e9t\x00e9");
    if (reader)
        fclose(reader);
    const std::string current = wintest::ReadFileBytes(path);
    const std::string older = wintest::ReadFileBytes(path + L".1");
    EXPECT_LE(current.size(), 400u);
    EXPECT_LE(older.size(), 400u);
    EXPECT_NE(current.find("event 19 \xc3\xa9t\xc3\xa9\r\n"), std::string::npos);
    EXPECT_NE(older.find("event"), std::string::npos);
    EXPECT_EQ(current.find("event 0 "), std::string::npos);
    DeleteFileW(path.c_str());
    DeleteFileW((path + L".1").c_str());
}

}  // namespace

namespace {

using keeper::TrayState;

// What the icon shows: its state, its tooltip, the names of its menu.
TEST(KeeperRules, TheIconTellsItsStateAndTwinsApart)
{
    const std::wstring a = L"\\\\?\\usb#vid_2e9a&pid_0b01&mi_00#7&2f1c0a1&0&0000";
    const std::wstring b = L"\\\\?\\usb#vid_2e9a&pid_0b01&mi_00#7&2f1c0a1&0&0001";
    const std::wstring sim = L"Vireo Simulated Camera";
    struct Case {
        const char *what;
        bool keep;
        std::vector<keeper::TrayCamera> cameras;
        TrayState state;
        std::wstring tip;
        std::vector<std::wstring> names;
    } cases[] = {
        {"keeping off",
         false,
         {{a, sim, false}},
         TrayState::NotKept,
         L"Vireo: settings not kept",
         {sim}},
        {"no camera", true, {}, TrayState::Kept, L"Vireo: 0 cameras, settings kept", {}},
        {"twins listed against the order of their ids",
         true,
         {{b, sim, false}, {a, sim, false}},
         TrayState::Kept,
         L"Vireo: 2 cameras, settings kept",
         {sim + L" (2)", sim}},
        {"the second twin refused its restore",
         true,
         {{a, sim, false}, {b, sim, true}},
         TrayState::Refused,
         L"Vireo: 2 cameras, settings kept; " + sim + L" (2) refused its restore",
         {sim, sim + L" (2)"}},
        {"a camera with no name goes by its id",
         true,
         {{a, L"", false}},
         TrayState::Kept,
         L"Vireo: 1 camera, settings kept",
         {a}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        const keeper::TrayView view = keeper::Tray(c.keep, c.cameras);
        EXPECT_EQ(static_cast<int>(c.state), static_cast<int>(view.state));
        EXPECT_EQ(c.tip, view.tip);
        EXPECT_EQ(c.names, keeper::ShownNames(c.cameras));
    }
    // Each state has its picture for a light and a dark taskbar, in the
    // program's resources.
    HMODULE program = LoadLibraryExW((wintest::BinDir() + L"vireokeep.exe").c_str(), NULL,
                                     LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_TRUE(program != NULL);
    std::vector<UINT> seen;
    for (TrayState state : {TrayState::Kept, TrayState::NotKept, TrayState::Refused})
        for (bool light : {true, false}) {
            const UINT id = keeper::TrayIconResource(state, light);
            EXPECT_TRUE(FindResourceW(program, MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(14))) << id;
            EXPECT_EQ(seen.end(), std::find(seen.begin(), seen.end(), id));
            seen.push_back(id);
        }
    EXPECT_TRUE(FindResourceW(program, MAKEINTRESOURCEW(1),
                              MAKEINTRESOURCEW(14)));  // its own (RT_GROUP_ICON)
    FreeLibrary(program);
}

// A reading under a policy locking EXPOSURE at 800: what of it is the
// user's (saved), and whether the lock must be written again.
TEST(KeeperRules, ALockedControlIsNeverTheUsersChoice)
{
    const int exposure = 3, gain = 0;  // their places in the catalogue
    ASSERT_EQ(static_cast<ULONG>(EXPOSURE), CameraControlIds[exposure]);
    ASSERT_EQ(static_cast<ULONG>(A_GAIN), CameraControlIds[gain]);
    const ULONG e = 1ul << exposure, g = 1ul << gain;
    const struct {
        const char *what;
        ULONG locked;
        LONG reading;    // EXPOSURE on the camera
        int saved;       // EXPOSURE in the profile; -1 no profile, -2 a profile without it
        int kept;        // EXPOSURE in what is compared and saved; -1 left out
        bool elsewhere;  // to be written again
        bool same;       // nothing to save
    } cases[] = {
        {"unlocked: the reading is the user's", 0, 300, 500, 300, false, false},
        {"locked: the user's own value stays", e, 800, 500, 500, false, true},
        {"locked, left elsewhere", e, 300, 500, 500, true, true},
        {"locked, no profile: left out", e, 800, -1, -1, false, false},
        {"locked, a profile without it: left out", e, 300, -2, -1, true, true},
        {"another control locked", g, 300, 500, 300, false, false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        VireoPolicy policy = {};
        policy.locked = c.locked;
        policy.lockedValues[exposure] = 800;
        policy.lockedValues[gain] = 1;
        VireoProfile reading = {};
        wcscpy(reading.device, L"Vireo Simulated Camera");
        wcscpy(reading.id, L"\\\\?\\usb#vid_2e9a&pid_0b01");
        reading.present = e | g;
        reading.values[exposure] = c.reading;
        reading.values[gain] = 1;
        VireoProfile saved = reading;  // of the same camera
        saved.present = c.saved == -2 ? g : e | g;
        saved.values[exposure] = c.saved;
        saved.values[gain] = 1;
        EXPECT_EQ(c.elsewhere, keeper::LeftElsewhere(reading, policy));
        keeper::KeepUsersOwn(&reading, c.saved == -1 ? NULL : &saved, policy);
        EXPECT_EQ(c.kept >= 0, (reading.present & e) != 0);
        if (c.kept >= 0) {
            EXPECT_EQ(c.kept, reading.values[exposure]);
        }
        EXPECT_EQ(1, reading.values[gain]);
        if (c.saved != -1) {
            EXPECT_EQ(c.same, keeper::SameValues(saved, reading));
        }
    }
}

}  // namespace
