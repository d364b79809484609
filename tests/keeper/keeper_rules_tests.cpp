// The keeper's rules without a window or a camera: the retries' pauses,
// the queue's order and merging, when a camera may be saved, and the log's
// rotation.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "keeper.h"
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
    case Work::SaveAll: return L"save";
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
         {Make(Work::Restore, L"a", 500, 1), Make(Work::SaveAll), Make(Work::Quit)},
         {true, true, true},
         100,
         {L"save", L"quit"}},
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
        {"saves and defaults are never merged",
         {Make(Work::SaveAll), Make(Work::SaveAll), Make(Work::Defaults, L"a"),
          Make(Work::Defaults, L"a")},
         {true, true, true, true},
         0,
         {L"save", L"save", L"defaults a", L"defaults a"}},
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

// Steps on the table of cameras. READ: camera "a"'s values are read here
// (the last step asks whether they may be saved; without a READ, values read
// at the end). BEGIN and ENDED_BEGUN: a restore begun and ended later;
// ENDED_A: a restore begun and ended at once.
enum Step {
    SEEN_A,
    SEEN_NONE,
    RETURNED_A,
    REMOVED_A,
    HOLD_ALL,
    RELEASE,
    ENDED_A,
    BEGIN,
    ENDED_BEGUN,
    GIVEN_UP_A,
    READ
};

struct SaveCase {
    const char *name;
    std::vector<Step> steps;
    bool maySave;
};

TEST(KeeperRules, WhenACameraMayBeSaved)
{
    const SaveCase cases[] = {
        {"first sight holds it until its restore", {SEEN_A}, false},
        {"restored, it is saved", {SEEN_A, ENDED_A}, true},
        {"returned: held", {SEEN_A, ENDED_A, RETURNED_A}, false},
        {"removed: held", {SEEN_A, ENDED_A, REMOVED_A}, false},
        {"gone from a reading: held", {SEEN_A, ENDED_A, SEEN_NONE}, false},
        {"held after a suspend", {SEEN_A, ENDED_A, HOLD_ALL}, false},
        {"a restore of all releases the hold, not the camera",
         {SEEN_A, ENDED_A, HOLD_ALL, RELEASE},
         false},
        {"and its restore does", {SEEN_A, ENDED_A, HOLD_ALL, RELEASE, ENDED_A}, true},
        {"values read before a return are not saved", {SEEN_A, ENDED_A, READ, RETURNED_A}, false},
        {"a restore that ends after a new return keeps it held",
         {SEEN_A, BEGIN, RETURNED_A, ENDED_BEGUN},
         false},
        {"given up: held", {SEEN_A, ENDED_A, GIVEN_UP_A}, false},
        {"given up, seen again and restored", {SEEN_A, GIVEN_UP_A, SEEN_A, ENDED_A}, true},
    };
    for (const SaveCase &c : cases) {
        keeper::Cameras cameras;
        unsigned begun = 0, read = 0;
        bool wasRead = false;
        for (Step step : c.steps) {
            switch (step) {
            case SEEN_A: cameras.Seen({L"a"}, false); break;
            case SEEN_NONE: cameras.Seen({}, false); break;
            case RETURNED_A: cameras.Returned(L"A"); break;
            case REMOVED_A: cameras.Removed(L"a"); break;
            case HOLD_ALL: cameras.HoldAll(); break;
            case RELEASE: cameras.Seen({L"a"}, true); break;
            case ENDED_A: cameras.RestoreEnded(L"a", cameras.Generation(L"a")); break;
            case BEGIN: begun = cameras.Generation(L"a"); break;
            case ENDED_BEGUN: cameras.RestoreEnded(L"a", begun); break;
            case GIVEN_UP_A: cameras.RestoreGivenUp(L"a"); break;
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

TEST(KeeperRules, NewcomersAreReportedOnce)
{
    keeper::Cameras cameras;
    EXPECT_EQ(cameras.Seen({L"a", L"b"}, false), (std::vector<std::wstring>{L"a", L"b"}));
    EXPECT_EQ(cameras.Seen({L"A", L"b"}, false), std::vector<std::wstring>());
    EXPECT_EQ(cameras.Seen({L"b"}, false), std::vector<std::wstring>());
    EXPECT_EQ(cameras.Seen({L"a", L"b"}, false), std::vector<std::wstring>{L"a"});
}

TEST(KeeperRules, LogTurnsOverBeforeItsLimit)
{
    wchar_t folder[MAX_PATH];
    GetTempPathW(MAX_PATH, folder);
    const std::wstring path = std::wstring(folder) + L"keeper_rules.log";
    DeleteFileW(path.c_str());
    DeleteFileW((path + L".1").c_str());
    keeper::Log log(path, 400);
    for (int i = 0; i < 20; ++i)
        log.Write(L"event " + std::to_wstring(i) + L" \x00e9t\x00e9");
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
