#include "changesignal.h"

#include "vireoctl.h"

namespace {

// The event, once opened: kept for the life of the module so that a change
// costs one SetEvent. A keeper started later opens the same object.
HANDLE g_changed = NULL;

HANDLE ChangeEvent()
{
    HANDLE event = static_cast<HANDLE>(InterlockedCompareExchangePointer(&g_changed, NULL, NULL));
    if (event)
        return event;
    event = OpenEventW(EVENT_MODIFY_STATE, FALSE, VIREO_CHANGE_EVENT);
    if (!event)
        return NULL;  // no keeper in this session
    HANDLE before = static_cast<HANDLE>(InterlockedCompareExchangePointer(&g_changed, event, NULL));
    if (before) {  // another thread opened it first
        CloseHandle(event);
        return before;
    }
    return event;
}

}  // namespace

void SignalChange(ULONG property, const void *block, HRESULT hr)
{
    if (FAILED(hr) || !block)
        return;
    const ULONG kind = static_cast<const ULONG *>(block)[1];
    const bool change =
        (property == VALUE10H && kind == SET_DATA) || (property == VALUE20H && kind == SET_ENABLE);
    if (!change)
        return;
    const DWORD error = GetLastError();  // the caller's, left as it was
    if (HANDLE event = ChangeEvent())
        SetEvent(event);
    SetLastError(error);
}
