#include "camlink.h"

#include <stddef.h>
#include <string.h>

SimCamLink::~SimCamLink()
{
    if (!m_id)
        return;  // a filter refused at creation was never counted
    SimCamLock lock(m_block);
    lock->RecordEvent(SIM_EVENT_RELEASE, m_id, State_Stopped).device = m_device;
    lock->FilterReleased();
}

HRESULT SimCamLink::Open()
{
    if (!m_block.Open())
        return HRESULT_FROM_WIN32(GetLastError() ? GetLastError() : ERROR_GEN_FAILURE);
    SimCamLock lock(m_block);
    // Which camera the filter is for comes later, with its moniker's bag:
    // with none plugged in, it can be for none.
    if (!lock->AnyPlugged())
        return VIREO_SIM_E_DEVICE_GONE;  // a moniker of a camera that has gone
    m_serial = lock->Device(0).Serial();
    m_id = lock->FilterCreated();
    lock->RecordEvent(SIM_EVENT_CREATE, m_id, State_Stopped).device = m_device;
    return S_OK;
}

HRESULT SimCamLink::Bind(ULONG device)
{
    SimCamLock lock(m_block);
    m_device = device;
    m_serial = lock->Device(m_device).Serial();
    // The creation record says which device the filter is of.
    lock->SetCreatedDevice(m_id, m_device);
    return lock->Device(m_device).GoneFor(m_serial) ? VIREO_SIM_E_DEVICE_GONE : S_OK;
}

bool SimCamLink::Gone()
{
    SimCamLock lock(m_block);
    return lock->Device(m_device).GoneFor(m_serial);
}

HRESULT SimCamLink::Claim()
{
    SimCamLock lock(m_block);
    SimCamDevice &device = lock->Device(m_device);
    if (device.GoneFor(m_serial) || m_lost)
        return VIREO_SIM_E_DEVICE_GONE;
    if (device.BusyFor(m_id))
        return VIREO_SIM_E_DEVICE_BUSY;
    device.Claim(m_id);
    return S_OK;
}

void SimCamLink::Unclaim()
{
    SimCamLock lock(m_block);
    lock->Device(m_device).Unclaim(m_id);
}

REFERENCE_TIME SimCamLink::FrameTime(const SimFormat &format)
{
    SimCamLock lock(m_block);
    return SimFrameTime(format, lock->Device(m_device).DriverState());
}

void SimCamLink::SetRate(const SimFormat &format)
{
    if (const ULONG id = SimRateControl(format.width, format.height)) {
        SimCamLock lock(m_block);
        lock->Device(m_device).Driver().SetValue(id, SimNearestRate(format.frameTime));
    }
}

void SimCamLink::ReadSettings(SimDriverState *settings)
{
    SimCamLock lock(m_block);
    memcpy(settings, &lock->Device(m_device).DriverState(), offsetof(SimDriverState, log));
}

bool SimCamLink::Switch(SimSwitch which)
{
    return SimCamLock(m_block)->Switch(which);
}

bool SimCamLink::SetFormatRefused(HRESULT *result)
{
    return SimCamLock(m_block)->SetFormatRefused(result);
}

void SimCamLink::Caps(int *count, int *recordSize)
{
    SimCamLock lock(m_block);
    *count = lock->CapsCount() ? lock->CapsCount() : static_cast<int>(kSimFormatCount);
    *recordSize = lock->CapsRecordSize() ? lock->CapsRecordSize()
                                         : static_cast<int>(sizeof(VIDEO_STREAM_CONFIG_CAPS));
}

bool SimCamLink::CapsEntry(int index, LONG *entry)
{
    SimCamLock lock(m_block);
    const int count = lock->CapsCount();
    if (index < 0 || index >= (count ? count : kSimFormatCount))
        return false;
    *entry = count ? lock->CapsEntry(index) : index;
    return true;
}

void SimCamLink::Record(ULONG kind, FILTER_STATE state, const SimEventNote &note)
{
    SimCamLock lock(m_block);
    SimEvent &e = lock->RecordEvent(kind, m_id, static_cast<ULONG>(state), note.graphRefs);
    e.device = m_device;
    e.result = note.result;
    if (note.peer)
        e.peer = *note.peer;
    if (note.text)
        lstrcpynW(e.text, note.text, ARRAYSIZE(e.text));
    e.format.Take(note.format);
}

void SimCamLink::PublishFormat(const SimFormat &format)
{
    SimCamLock(m_block)->PublishFormat(format.width, format.height);
}

void SimCamLink::FrameDelivered()
{
    SimCamLock(m_block)->FrameDelivered();
}
