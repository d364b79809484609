// locks.cpp - the organization's policy as the keeper follows it: the
// locked values put back after a change or a change of the policy, and the
// user's own values kept apart from them.
#include "keeper.h"
#include "keeperpaths.h"

namespace keeper {

namespace {

const char *ControlText(int i)
{
    const char *name = CameraControlName(CameraControlIds[i]);
    return name ? name : "?";
}

}  // namespace

void KeepUsersOwn(VireoProfile *reading, const VireoProfile *saved, const VireoPolicy &policy)
{
    for (int i = 0; i < CAMERA_CONTROL_COUNT; ++i) {
        const ULONG bit = 1ul << i;
        if (!(policy.locked & bit))
            continue;
        if (saved && (saved->present & bit)) {
            reading->present |= bit;
            reading->values[i] = saved->values[i];
        } else {
            reading->present &= ~bit;
        }
    }
}

bool LeftElsewhere(const VireoProfile &reading, const VireoPolicy &policy)
{
    for (int i = 0; i < CAMERA_CONTROL_COUNT; ++i) {
        const ULONG bit = 1ul << i;
        if ((policy.locked & bit) && (reading.present & bit) &&
            reading.values[i] != policy.lockedValues[i])
            return true;
    }
    return false;
}

bool SameValues(const VireoProfile &saved, const VireoProfile &reading)
{
    if (NormalName(saved.device) != NormalName(reading.device) ||
        !VireoCameraSameId(saved.id, reading.id))
        return false;
    for (int i = 0; i < CAMERA_CONTROL_COUNT; ++i) {
        const ULONG bit = 1ul << i;
        if ((reading.present & bit) &&
            (!(saved.present & bit) || saved.values[i] != reading.values[i]))
            return false;
    }
    return true;
}

std::wstring PolicyValues(ULONG mask, const LONG *values)
{
    std::wstring text;
    for (int i = 0; i < CAMERA_CONTROL_COUNT; ++i)
        if (mask & (1ul << i))
            text += (text.empty() ? L"" : L", ") + Wide(ControlText(i)) + L"=" +
                    std::to_wstring(values[i]);
    return text.empty() ? L"none" : text;
}

// The listener, on a change of the policy keys (a gpupdate): the watch
// re-armed before the keys are read, then every kept camera gets its
// locked values on the worker. A policy removed frees its controls:
// nothing more is written.
void Keeper::PolicyChanged()
{
    VireoPolicyWatchRearm(m_policyWatch);
    VireoPolicy policy;
    VireoPolicyRead(NULL, &policy);
    m_log->Write(L"policy changed: locked " + PolicyValues(policy.locked, policy.lockedValues) +
                 L"; recommended " + PolicyValues(policy.recommended, policy.recommendedValues));
    Item item;
    item.work = Work::Enforce;
    item.reason = "policy";
    m_queue.Push(item);
}

// Each present, kept camera's locked values (its model's policy), where it
// holds other values. Held cameras get theirs at their next restore.
void Keeper::Enforce(const Item &item)
{
    DWORD mine = 0, console = 0;
    if (!VireoKeeperKeep() || !m_console(&mine, &console))
        return;
    for (const std::wstring &id : DeviceIds()) {
        if (m_cameras.PhaseOf(id) != Phase::Kept)
            continue;
        VireoCamera *camera = NULL;
        if (FAILED(VireoCameraOpenId(id.c_str(), &camera)))
            continue;
        VireoPolicy policy;
        VireoCameraPolicy(camera, &policy);
        bool notYet = false;
        WriteLocked(camera, policy, id, item.reason, 0, NULL, &notYet);
        VireoCameraClose(camera);
    }
}

}  // namespace keeper
