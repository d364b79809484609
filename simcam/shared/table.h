// table.h - the simulated camera's device table and what happens to its
// devices as to USB cameras: unplugging and plugging, power, adding and
// removing, their entries in the video input category and the device
// messages Windows sends. The one owner of these operations: simcam.ax's
// registration, the public library (vireosim.h, and through it simcamctl)
// and the tests' control path use it.
//
// Each device of the table is one instance of CLSID_SimCamFilter in the
// video input category, its instance key holding the device path as
// "DevicePath"; the filter learns its device from that value when the
// moniker loads it, and is device 0 when created without a moniker.
#ifndef SIMCAM_TABLE_H
#define SIMCAM_TABLE_H

#include <windows.h>

#include <string>
#include <vector>

#include "simshared.h"

// What a device of the table is, for listings.
struct SimCamDeviceInfo {
    ULONG index;
    std::wstring name;
    std::wstring path;  // SimCamDevicePath(index)
    bool plugged;
};

class SimCamTable {
public:
    SimCamTable() { m_block.Open(); }
    bool IsOpen() const { return m_block.IsOpen(); }
    SimCamBlock &Block() { return m_block; }
    bool Exists(ULONG device);

    // Unplug: the camera goes. Its category entry is removed (an old
    // moniker no longer binds), its filters answer VIREO_SIM_E_DEVICE_GONE, a
    // stream on it stops (EC_DEVICE_LOST 0). Plug: the category entry
    // again, factory values (the camera had no power), a new not-ready time
    // when one is set, EC_DEVICE_LOST 1 to a graph whose stream it lost.
    // After the category changes, each sends WM_DEVICECHANGE to every
    // top-level window (DBT_DEVICEREMOVECOMPLETE or DBT_DEVICEARRIVAL with a
    // DEV_BROADCAST_DEVICEINTERFACE_W of class SIMCAM_CAMERA_CLASS). S_FALSE,
    // doing nothing, when it is so already; E_INVALIDARG for a device not in
    // the table. COM must be initialised on the calling thread.
    HRESULT Unplug(ULONG device);
    HRESULT Plug(ULONG device);
    // Power lost and back while listed: factory values, a new not-ready
    // time, no message.
    HRESULT PowerCycle(ULONG device);
    // Property requests fail with VIREO_SIM_E_NOT_READY for ms from now, and as
    // long again after each later Plug and PowerCycle, until set to 0.
    void SetNotReady(ULONG device, ULONG ms);
    // The device at its factory state: plugged, ready, not busy, factory
    // driver (no refusals, an empty log).
    HRESULT Reset(ULONG device);

    // Add: a camera under name (any, also another device's) comes: the
    // lowest free index, plugged, factory state, listed after the devices
    // of lower index, with the arrival message; its index, -1 when the
    // table is full or the category entry failed. Remove: the device leaves
    // the table (its entry goes, with the removal message while it was
    // plugged); device 0 stays (E_INVALIDARG).
    int Add(const WCHAR *name);
    HRESULT Remove(ULONG device);
    std::vector<SimCamDeviceInfo> Devices();  // by index

    // Registering simcam.ax (install true) and unregistering it: device 0
    // alone, plugged, at its factory values, every other device's entry
    // gone; installing adds device 0's entry.
    static HRESULT Install(bool install);

private:
    HRESULT ChangeCategory(ULONG device, bool add, bool message);
    SimCamBlock m_block;
};

#endif  // SIMCAM_TABLE_H
