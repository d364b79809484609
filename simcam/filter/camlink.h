// camlink.h - a filter's link to its camera in the shared block: which
// device it is of, what it records there, and the camera's driver behind
// its property requests. Each call takes the block's lock for its own
// duration.
#ifndef SIMCAM_CAMLINK_H
#define SIMCAM_CAMLINK_H

#include <windows.h>
#include <dshow.h>

#include <memory>

#include "mediatype.h"
#include "simshared.h"

// What an event records beyond its kind and the filter's state.
struct SimEventNote {
    ULONG graphRefs = 0;
    HRESULT result = S_OK;
    const WCHAR *text = NULL;
    const CLSID *peer = NULL;
    const AM_MEDIA_TYPE *format = NULL;
};

class SimCamLink {
public:
    SimCamLink() = default;
    // A filter that was counted records its release and is counted no more.
    ~SimCamLink();
    SimCamLink(const SimCamLink &) = delete;
    SimCamLink &operator=(const SimCamLink &) = delete;

    // Opens the block and counts a new filter of device 0, recording its
    // creation; refused while no camera of the table is plugged in.
    HRESULT Open();
    // The filter is of device (its moniker said so); VIREO_SIM_E_DEVICE_GONE
    // when that camera is gone already.
    HRESULT Bind(ULONG device);
    ULONG Id() const { return m_id; }

    // Whether the camera is gone for the filter: unplugged, or removed from
    // the table since the filter took it.
    bool Gone();
    // The filter's stream saw the camera go or come back: it streams no
    // more (Claim refuses it).
    void NoteLost() { InterlockedExchange(&m_lost, 1); }
    // The camera for the filter's stream alone: refused while it is gone,
    // lost, busy elsewhere, or streaming to another live filter.
    HRESULT Claim();
    void Unclaim();

    // A property request: refused while the camera is gone or starting,
    // else request(SimDriver &) under the lock.
    template <class Request> HRESULT Send(Request request)
    {
        SimCamLock lock(m_block);
        SimCamDevice &device = lock->Device(m_device);
        const HRESULT refused = device.RequestRefusal(m_serial);
        if (FAILED(refused))
            return refused;
        SimDriver driver = device.Driver();
        return request(driver);
    }
    // The frame interval of format as the camera's rate settings make it,
    // and the setting nearest to its interval given.
    REFERENCE_TIME FrameTime(const SimFormat &format);
    void SetRate(const SimFormat &format);
    // The camera's settings as one frame sees them (the log left out).
    void ReadSettings(SimDriverState *settings);

    // The block's switches and capability list.
    bool Switch(SimSwitch which);
    bool SetFormatRefused(HRESULT *result);
    // The number of entries GetNumberOfCapabilities reports, and the size
    // of their records.
    void Caps(int *count, int *recordSize);
    // The entry at index of the list (a size index or a SimCapsEntry);
    // false past its end.
    bool CapsEntry(int index, LONG *entry);

    // Reports.
    void Record(ULONG kind, FILTER_STATE state, const SimEventNote &note = SimEventNote());
    void PublishFormat(const SimFormat &format);
    void FrameDelivered();

private:
    SimCamBlock m_block;
    ULONG m_id = 0;      // 0 until Open counts the filter
    ULONG m_device = 0;  // set before the filter is handed out or by Bind, then fixed
    ULONG m_serial = 0;  // the device's serial when the filter took it
    volatile LONG m_lost = 0;
};

// The camera held for a filter's stream (Claim succeeded) until the holder
// lets it go.
struct SimCamUnclaim {
    void operator()(SimCamLink *link) const { link->Unclaim(); }
};
typedef std::unique_ptr<SimCamLink, SimCamUnclaim> SimCamClaim;

#endif  // SIMCAM_CAMLINK_H
